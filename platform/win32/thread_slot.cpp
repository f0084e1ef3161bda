#include "platform/thread_slot.h"

#include <windows.h>

namespace platform {
namespace {

// FLS callbacks use the system's calling convention, so a plain C++ release function is
// reached through this trampoline.
ThreadSlotRelease slot_release = nullptr;

void WINAPI ReleaseSlotValue(void* value) {
    if (value != nullptr && slot_release != nullptr)
        slot_release(value);
}

} // namespace

ThreadSlot AllocateThreadSlot(ThreadSlotRelease release) {
    slot_release = release;
    const DWORD index = FlsAlloc(&ReleaseSlotValue);
    if (index == FLS_OUT_OF_INDEXES)
        return InvalidThreadSlot;
    return static_cast<ThreadSlot>(index);
}

void FreeThreadSlot(ThreadSlot slot) {
    // FlsFree runs the callback for every value still set, on this thread.
    if (slot != InvalidThreadSlot)
        FlsFree(static_cast<DWORD>(slot));
}

void* ThreadSlotValue(ThreadSlot slot) {
    if (slot == InvalidThreadSlot)
        return nullptr;
    return FlsGetValue(static_cast<DWORD>(slot));
}

bool SetThreadSlotValue(ThreadSlot slot, void* value) {
    if (slot == InvalidThreadSlot)
        return false;
    return FlsSetValue(static_cast<DWORD>(slot), value) != FALSE;
}

} // namespace platform
