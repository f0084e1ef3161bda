#include "platform/thread.h"

#include <new>
#include <winsock2.h>
// After Winsock 2: windows.h would otherwise bring Winsock 1's header.
#include <windows.h>

namespace platform {
namespace {

struct ThreadStart {
    void (*body)(void*);
    void* argument;
    HMODULE module; // the thread's own reference, dropped as it ends
};

DWORD WINAPI RunThread(LPVOID start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.body(s.argument);
    // Drops the reference and ends the thread in one call, so no code of this module runs
    // after the module may have been unloaded.
    FreeLibraryAndExitThread(s.module, 0);
}

struct JoinableStart {
    void (*body)(void*);
    void* argument;
};

DWORD WINAPI RunJoinable(LPVOID start) {
    const JoinableStart s = *static_cast<JoinableStart*>(start);
    delete static_cast<JoinableStart*>(start);
    s.body(s.argument);
    return 0;
}

} // namespace

bool StartJoinableThread(void (*body)(void* argument), void* argument, ThreadHandle* thread) {
    auto* start = new (std::nothrow) JoinableStart{body, argument};
    HANDLE handle =
        start != nullptr ? CreateThread(nullptr, 0, RunJoinable, start, 0, nullptr) : nullptr;
    if (handle == nullptr) {
        delete start;
        return false;
    }
    *thread = reinterpret_cast<ThreadHandle>(handle);
    return true;
}

void JoinThread(ThreadHandle thread) {
    const auto handle = reinterpret_cast<HANDLE>(thread);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}

bool StartModuleThread(void (*body)(void* argument), void* argument) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&RunThread)),
                            &module))
        return false;
    auto* start = new (std::nothrow) ThreadStart{body, argument, module};
    HANDLE thread =
        start != nullptr ? CreateThread(nullptr, 0, RunThread, start, 0, nullptr) : nullptr;
    if (thread == nullptr) {
        delete start;
        FreeLibrary(module);
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool OpenWakeUp(WakeUp* wake) {
    *wake = WakeUp{InvalidSocket, InvalidSocket};
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return false;
    // Bound to a free port on loopback and connected to itself: only its own datagrams come in.
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof self;
    if (bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&self), &size) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        closesocket(s);
        return false;
    }
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    *wake = WakeUp{static_cast<SocketHandle>(s), static_cast<SocketHandle>(s)};
    return true;
}

void SignalWakeUp(const WakeUp& wake) {
    const char byte = 1;
    send(static_cast<SOCKET>(wake.writable), &byte, 1, 0);
}

void CloseWakeUp(WakeUp* wake) {
    if (wake->readable != InvalidSocket)
        closesocket(static_cast<SOCKET>(wake->readable));
    *wake = WakeUp{InvalidSocket, InvalidSocket};
}

} // namespace platform
