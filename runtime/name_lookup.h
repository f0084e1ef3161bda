// Host names turned into addresses where a wait for the resolver must end at a cancel. A
// numeric address is read at once on the calling thread, without a thread or a name service.
// A name is resolved on the calling thread when it is the only one and nothing can cancel
// the call; otherwise on threads of their own, at most MaxLookupThreadsPerCall for one call
// and MaxLookupThreads in the process. A cancelled call returns at once: its threads, which
// the system's resolver may hold for seconds, finish alone and free what they hold, with no
// hold on the caller's place.
#pragma once

#include "platform/socket.h"
#include "runtime/cancellation.h"

#include <cstdint>

namespace runtime {

// A name with many addresses is tried on its first ones only.
constexpr int MaxLookupAddresses = 8;

// Longest host text looked up (a DNS name has at most 253 characters); a longer one does not
// resolve.
constexpr int MaxLookupHostBytes = 255;

constexpr int MaxLookupNames = 32; // per call; further lookups do not resolve
constexpr int MaxLookupThreadsPerCall = 8;
constexpr int MaxLookupThreads = 256;

enum class LookupKind {
    Any,       // addresses of either family for datagrams (getaddrinfo), in the resolver's order
    FirstIpv4, // the first IPv4 address only (the four original functions' resolver)
};

constexpr int NoLookupThread = -1;

struct NameLookup {
    const char* host; // the caller's text; read before ResolveNames returns
    std::uint16_t port;
    LookupKind kind;
    platform::NetAddress addresses[MaxLookupAddresses]; // found: count of them
    // 0 when the name does not resolve or the call was cancelled before it did; NoLookupThread
    // when a cancel could end the call but the process's lookup threads were all busy.
    int count;
};

// Resolves every lookup of count (at most MaxLookupNames). False when cancel was requested first:
// the lookups not finished by then have count 0.
bool ResolveNames(NameLookup* lookups, int count, const Cancellation* cancel);

} // namespace runtime
