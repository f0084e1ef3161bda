#include "runtime/packer.h"

#include "runtime/heap.h"
#include "runtime/jcalg1.h"

#include <cstring>

namespace runtime {

PackerRegistry packer_registry = {};
PackerOps jcalg1_packer_ops = {};

namespace {

// The JCALG1 packer only decodes: its other operations answer with fixed results.
void CloseOp(void*) {}
std::int32_t Zero1(std::intptr_t) {
    return 0;
}
std::int32_t Zero2(std::intptr_t, std::intptr_t) {
    return 0;
}
std::int32_t Zero3(std::intptr_t, std::intptr_t, std::intptr_t) {
    return 0;
}
std::int32_t Zero4(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t) {
    return 0;
}
std::int32_t MinusOne1(std::intptr_t) {
    return -1;
}
std::int32_t MinusOne4(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t) {
    return -1;
}
const char* EmptyText2(std::intptr_t, std::intptr_t) {
    return "";
}

std::int32_t UnpackOp(const void* source, std::int32_t source_length, void* destination,
                      std::int32_t destination_length) {
    return UnpackJcalg1(source, source_length, destination, destination_length);
}

struct PackHandle {
    const PackerOps* ops;
    void* data;
    bool open;
};

constexpr std::int32_t InitialPackHandleSlots = 16;

PackHandle* pack_handles = nullptr;
std::int32_t pack_handle_slots = 0;

void ClosePackHandle(PackHandle& h) {
    if (h.ops != nullptr && h.ops->close_op != nullptr)
        h.ops->close_op(h.data);
    h = PackHandle{};
}

// Doubles the slot array; false when the heap refuses.
bool GrowPackHandles() {
    const std::int64_t slots = static_cast<std::int64_t>(pack_handle_slots) * 2;
    if (slots > 0x10000)
        return false;
    auto* grown = static_cast<PackHandle*>(
        AllocateBlock(Heap::Module, slots * static_cast<std::int64_t>(sizeof(PackHandle))));
    if (grown == nullptr)
        return false;
    std::memcpy(grown, pack_handles,
                static_cast<std::size_t>(pack_handle_slots) * sizeof(PackHandle));
    ReleaseBlock(Heap::Module, pack_handles);
    pack_handles = grown;
    pack_handle_slots = static_cast<std::int32_t>(slots);
    return true;
}

} // namespace

bool RegisterPacker(std::uint32_t id, const PackerOps* ops) {
    if (FindPacker(id) != nullptr)
        return true;
    if (packer_registry.count >= PackerRegistryEntries)
        return false; // the fixed array is full; the module never gets here
    packer_registry.entries[packer_registry.count] = PackerEntry{id, ops};
    ++packer_registry.count;
    return true;
}

const PackerEntry* FindPacker(std::uint32_t id) {
    if (id == AnyPackerId)
        return packer_registry.count != 0 ? &packer_registry.entries[0] : nullptr;
    const PackerEntry* found = nullptr;
    for (std::int32_t i = 0; i < packer_registry.count; ++i) {
        if (packer_registry.entries[i].id == id)
            found = &packer_registry.entries[i];
    }
    return found;
}

std::int32_t UnpackWithPacker(const void* source, std::int32_t source_length, void* destination,
                              std::int32_t destination_length, std::uint32_t id) {
    const PackerEntry* entry = FindPacker(id);
    if (entry == nullptr || entry->ops == nullptr || entry->ops->unpack_op == nullptr)
        return 0;
    return entry->ops->unpack_op(source, source_length, destination, destination_length);
}

std::int32_t RegisterJcalg1Packer() {
    RegisterPacker(Jcalg1PackerId, &jcalg1_packer_ops);
    jcalg1_packer_ops =
        PackerOps{CloseOp, Zero2,      Zero3, Zero4, Zero2, Zero1,     Zero2,   MinusOne1,
                  Zero1,   EmptyText2, Zero3, Zero4, Zero2, MinusOne4, UnpackOp};
    return 1;
}

bool CreatePackHandleList() {
    if (pack_handles != nullptr)
        return true;
    pack_handles = static_cast<PackHandle*>(AllocateBlock(
        Heap::Module, InitialPackHandleSlots * static_cast<std::int64_t>(sizeof(PackHandle))));
    pack_handle_slots = pack_handles != nullptr ? InitialPackHandleSlots : 0;
    return pack_handles != nullptr;
}

std::int32_t AddPackHandle(const PackerOps* ops, void* data) {
    if (pack_handles == nullptr)
        return -1;
    std::int32_t slot = 0;
    while (slot < pack_handle_slots && pack_handles[slot].open)
        ++slot;
    if (slot == pack_handle_slots && !GrowPackHandles())
        return -1;
    pack_handles[slot] = PackHandle{ops, data, true};
    return slot;
}

bool ReleasePackHandle(std::int32_t handle) {
    if (pack_handles == nullptr)
        return false;
    if (handle == AllPackHandles) {
        for (std::int32_t i = 0; i < pack_handle_slots; ++i) {
            if (pack_handles[i].open)
                ClosePackHandle(pack_handles[i]);
        }
        return true;
    }
    if (handle < 0 || handle >= pack_handle_slots || !pack_handles[handle].open)
        return false;
    ClosePackHandle(pack_handles[handle]);
    return true;
}

std::int32_t PackHandleCount() {
    std::int32_t open = 0;
    for (std::int32_t i = 0; i < pack_handle_slots; ++i)
        open += pack_handles[i].open ? 1 : 0;
    return open;
}

void DestroyPackHandleList() {
    if (pack_handles == nullptr)
        return;
    ReleasePackHandle(AllPackHandles);
    ReleaseBlock(Heap::Module, pack_handles);
    pack_handles = nullptr;
    pack_handle_slots = 0;
}

} // namespace runtime
