#include "runtime/name_lookup.h"

#include "platform/thread.h"
#include "runtime/clock.h"
#include "runtime/module_threads.h"

#include <atomic>
#include <cstring>
#include <new>

namespace runtime {
namespace {

ThreadCount lookup_threads;

// One name as a thread resolves it: its own copy of the text, so that the caller may leave.
struct Entry {
    char host[MaxLookupHostBytes + 1];
    std::uint16_t port;
    LookupKind kind;
    platform::NetAddress addresses[MaxLookupAddresses];
    int count;
    int index; // the caller's lookup
};

// The names of one call, shared by its threads and the caller; the last holder frees it.
struct SharedNames {
    std::atomic<int> holders{1}; // the caller, and each thread started
    std::atomic<int> next{0};    // the next entry to take
    std::atomic<int> left{0};    // entries not resolved yet
    int count = 0;
    Entry entries[MaxLookupNames];
    platform::WakeUp done{platform::InvalidSocket, platform::InvalidSocket};
};

void Release(SharedNames* shared) {
    if (shared->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        platform::CloseWakeUp(&shared->done);
        delete shared;
    }
}

// The resolver for one name, on whichever thread.
int Resolve(const char* host, std::uint16_t port, LookupKind kind, platform::NetAddress* out) {
    if (kind == LookupKind::Any)
        return platform::ResolveAddresses(host, port, out, MaxLookupAddresses);
    std::uint32_t address = 0;
    if (!platform::ResolveFirstAddress(host, &address))
        return 0;
    out[0] = platform::NetAddress{4, {}, port, 0};
    std::memcpy(out[0].bytes, &address, 4);
    return 1;
}

// Takes entries until none is left; the one that resolves the last wakes the caller.
void TakeNames(SharedNames* shared) {
    for (int i = shared->next++; i < shared->count; i = shared->next++) {
        Entry& e = shared->entries[i];
        e.count = Resolve(e.host, e.port, e.kind, e.addresses);
        if (shared->left.fetch_sub(1, std::memory_order_acq_rel) == 1)
            platform::SignalWakeUp(shared->done);
    }
}

// A lookup thread: the socket library started for its own sake (the caller may stop it).
void LookupThread(void* argument) {
    auto* shared = static_cast<SharedNames*>(argument);
    const bool sockets = platform::SocketStartup();
    TakeNames(shared);
    Release(shared);
    if (sockets)
        platform::SocketCleanup();
    lookup_threads.Leave();
}

// Resolves the count names of lookups (their indexes in which) on threads,
// helping on this thread when nothing can cancel. False when cancelled first.
bool ResolveShared(NameLookup* lookups, const int* which, int count, const Cancellation* cancel) {
    if (CancelRequested(cancel))
        return false; // nothing to start for a query already let go of
    auto* shared = new (std::nothrow) SharedNames;
    if (shared == nullptr || !platform::OpenWakeUp(&shared->done)) {
        delete shared;
        for (int k = 0; k < count; ++k) {
            NameLookup& l = lookups[which[k]];
            l.count = Resolve(l.host, l.port, l.kind, l.addresses);
        }
        return !CancelRequested(cancel);
    }
    shared->count = count;
    shared->left = count;
    for (int k = 0; k < count; ++k) {
        const NameLookup& l = lookups[which[k]];
        Entry& e = shared->entries[k];
        std::memcpy(e.host, l.host, std::strlen(l.host) + 1); // checked to fit by the caller
        e.port = l.port;
        e.kind = l.kind;
        e.count = 0;
        e.index = which[k];
    }
    // The threads; without any, this thread resolves them all itself when nothing can cancel
    // the call, since it would wait anyway.
    const int wanted = count < MaxLookupThreadsPerCall ? count : MaxLookupThreadsPerCall;
    int started = 0;
    while (started < wanted && lookup_threads.Enter(MaxLookupThreads)) {
        shared->holders.fetch_add(1, std::memory_order_acq_rel);
        if (!platform::StartModuleThread(LookupThread, shared)) {
            shared->holders.fetch_sub(1, std::memory_order_acq_rel);
            lookup_threads.Leave();
            break;
        }
        ++started;
    }
    if (started == 0 && cancel != nullptr) {
        for (int k = 0; k < count; ++k)
            lookups[which[k]].count = NoLookupThread;
        Release(shared);
        return !CancelRequested(cancel);
    }
    if (cancel == nullptr)
        TakeNames(shared);
    // Until every name is resolved or the cancel comes.
    const platform::SocketHandle wake[2] = {
        shared->done.readable, cancel != nullptr ? cancel->WakeHandle() : platform::InvalidSocket};
    const int watched = wake[1] != platform::InvalidSocket ? 2 : 1;
    while (shared->left.load(std::memory_order_acquire) > 0 && !CancelRequested(cancel)) {
        if (platform::WaitAnyReadable(wake, watched, 1000) < 0)
            SleepMs(1); // no busy loop on a failing wait
    }
    const bool cancelled = shared->left.load(std::memory_order_acquire) > 0;
    if (!cancelled) {
        for (int k = 0; k < count; ++k) {
            const Entry& e = shared->entries[k];
            NameLookup& l = lookups[e.index];
            l.count = e.count;
            std::memcpy(l.addresses, e.addresses, sizeof e.addresses);
        }
    }
    Release(shared);
    return !cancelled;
}

} // namespace

bool ResolveNames(NameLookup* lookups, int count, const Cancellation* cancel) {
    // Numeric addresses at once; a text too long for any name, or beyond the call's share,
    // does not resolve.
    int names[MaxLookupNames];
    int name_count = 0;
    for (int i = 0; i < count; ++i) {
        NameLookup& l = lookups[i];
        l.count = 0;
        if (i >= MaxLookupNames ||
            std::strlen(l.host) > static_cast<std::size_t>(MaxLookupHostBytes))
            continue;
        if (l.kind == LookupKind::Any)
            l.count =
                platform::ResolveAddresses(l.host, l.port, l.addresses, MaxLookupAddresses, true);
        if (l.count == 0)
            names[name_count++] = i;
    }
    if (name_count == 1 && cancel == nullptr) {
        NameLookup& l = lookups[names[0]];
        l.count = Resolve(l.host, l.port, l.kind, l.addresses);
        return true;
    }
    return name_count == 0 || ResolveShared(lookups, names, name_count, cancel);
}

} // namespace runtime
