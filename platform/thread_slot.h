// A thread-local slot whose value is handed to a release function when its thread ends.
// Windows: fiber-local storage (FlsAlloc with a callback), so that nothing depends on the
// DLL_THREAD_DETACH notification; POSIX: a pthread key with a destructor.
#pragma once

#include <cstdint>

namespace platform {

// Opaque slot index.
using ThreadSlot = std::uintptr_t;
constexpr ThreadSlot InvalidThreadSlot = ~static_cast<ThreadSlot>(0);

// Called on the ending thread with that thread's non-null value.
using ThreadSlotRelease = void (*)(void* value);

// Allocates a slot whose values are passed to release when their threads end. The module
// has one such slot: on Windows the release function is kept module-wide. InvalidThreadSlot
// on failure.
ThreadSlot AllocateThreadSlot(ThreadSlotRelease release);

// Frees the slot. Windows calls the release function for every value still set; POSIX calls
// none (the values' storage must be reclaimed another way). InvalidThreadSlot is ignored.
void FreeThreadSlot(ThreadSlot slot);

// The calling thread's value, null when none was set.
void* ThreadSlotValue(ThreadSlot slot);

// Sets the calling thread's value; false on failure.
bool SetThreadSlotValue(ThreadSlot slot, void* value);

} // namespace platform
