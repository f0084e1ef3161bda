// The packer registry: packers known by a four-character id, each with its table of
// operations, and the list of open pack handles. Owns the one packer the module carries, the
// JCALG1 decoder (runtime/jcalg1.h). Written at start-up only, read afterwards; no locks.
#pragma once

#include <cstdint>

namespace runtime {

// "jcl1" with 'j' in the most significant byte (in memory: "1lcj").
constexpr std::uint32_t Jcalg1PackerId = 0x6A636C31u;

// Asks FindPacker for the first registered packer.
constexpr std::uint32_t AnyPackerId = 0xFFFFFFFFu;

constexpr std::int32_t PackerRegistryEntries = 64;

// A packer's operations, in their fixed order. Only entry 1 (CloseOp) and entry 15
// (UnpackOp) have a use here; entries 2 to 14 keep their places and argument counts.
struct PackerOps {
    void (*close_op)(void* data); // 1: releases an open pack handle's data
    std::int32_t (*op2)(std::intptr_t, std::intptr_t);
    std::int32_t (*op3)(std::intptr_t, std::intptr_t, std::intptr_t);
    std::int32_t (*op4)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);
    std::int32_t (*op5)(std::intptr_t, std::intptr_t);
    std::int32_t (*op6)(std::intptr_t);
    std::int32_t (*op7)(std::intptr_t, std::intptr_t);
    std::int32_t (*op8)(std::intptr_t);
    std::int32_t (*op9)(std::intptr_t);
    const char* (*op10)(std::intptr_t, std::intptr_t);
    std::int32_t (*op11)(std::intptr_t, std::intptr_t, std::intptr_t);
    std::int32_t (*op12)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);
    std::int32_t (*op13)(std::intptr_t, std::intptr_t);
    std::int32_t (*op14)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);
    // 15: decodes source into destination; the packer's count of bytes written, 0 on failure.
    std::int32_t (*unpack_op)(const void* source, std::int32_t source_length, void* destination,
                              std::int32_t destination_length);
};

struct PackerEntry {
    std::uint32_t id;
    const PackerOps* ops;
};

// Entries fill from index 0 in registration order and are never removed or replaced.
struct PackerRegistry {
    PackerEntry entries[PackerRegistryEntries];
    std::int32_t count;
};

// The module's registry, empty at load.
extern PackerRegistry packer_registry;

// The JCALG1 packer's operations; RegisterJcalg1Packer fills them.
extern PackerOps jcalg1_packer_ops;

// Adds a packer unless one with this id is present. False only when the registry is full.
bool RegisterPacker(std::uint32_t id, const PackerOps* ops);

// The entry registered under id (AnyPackerId: the first entry), or null.
const PackerEntry* FindPacker(std::uint32_t id);

// Entry 15 of the packer registered under id; 0 if there is none.
std::int32_t UnpackWithPacker(const void* source, std::int32_t source_length, void* destination,
                              std::int32_t destination_length, std::uint32_t id);

// Registers the JCALG1 packer and writes its operations; always 1. Calling it again adds no
// entry.
std::int32_t RegisterJcalg1Packer();

// Releases every open pack handle, for ReleasePackHandle.
constexpr std::int32_t AllPackHandles = -1;

// Creates the pack handle list (16 slots to start, from the module heap) unless it exists;
// false on failure.
bool CreatePackHandleList();

// Records an open pack: its packer's operations and its data. The handle (0 or more), or -1
// when the list does not exist or cannot grow.
std::int32_t AddPackHandle(const PackerOps* ops, void* data);

// Calls CloseOp with the handle's data and removes the record (AllPackHandles: every record).
// False when there is no such handle.
bool ReleasePackHandle(std::int32_t handle);

// Number of open pack handles.
std::int32_t PackHandleCount();

// Releases every handle and the list itself. Does nothing if the list does not exist.
void DestroyPackHandleList();

} // namespace runtime
