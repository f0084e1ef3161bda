// Threads for queries that run in the background, and the wake-up that ends their waits when a
// script cancels them. Such a thread may outlive the Lua state that started it and even the
// host's hold on this module, so it keeps the module's code mapped until it ends.
#pragma once

#include "platform/socket.h"

#include <cstdint>

namespace platform {

// Runs body(argument) on a new detached thread that keeps this module loaded until body has
// returned. Windows: the thread takes a reference to the module (GetModuleHandleExW) and ends
// with FreeLibraryAndExitThread. POSIX, where no thread can drop the last reference to its own
// code and return, pins the module on the first call instead (dlopen of itself with
// RTLD_NODELETE). False (body not run) when no thread could be started.
bool StartModuleThread(void (*body)(void* argument), void* argument);

// A thread that the code which started it joins before it returns, to share out the work of
// one call (names resolved at once, web sources asked at once): the caller runs in this
// module until then, so it keeps the module loaded for the thread.
using ThreadHandle = std::uintptr_t;

// Starts body(argument) on a new joinable thread; false (body not run) when none could be
// started.
bool StartJoinableThread(void (*body)(void* argument), void* argument, ThreadHandle* thread);

// Waits until the thread has ended, and releases it.
void JoinThread(ThreadHandle thread);

// A handle that a wait on sockets (WaitAnyReadable) sees readable once WakeUp has been called
// on it: a pipe on POSIX; on Windows, where select takes only sockets, a UDP socket on
// loopback that sends itself a datagram. Taken as an argument by value so that any thread may
// wake it.
struct WakeUp {
    SocketHandle readable; // what the wait watches; InvalidSocket when closed
    SocketHandle writable; // what WakeUp writes to (the same socket on Windows)
};

// Opens a wake-up; false (and both handles invalid) on failure.
bool OpenWakeUp(WakeUp* wake);

// Makes the readable handle readable; more calls change nothing that a wait sees.
void SignalWakeUp(const WakeUp& wake);

// Closes both handles; a closed wake-up is ignored.
void CloseWakeUp(WakeUp* wake);

} // namespace platform
