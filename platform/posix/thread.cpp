#include "platform/thread.h"

#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <unistd.h>

namespace platform {
namespace {

// Opens this module once more with RTLD_NODELETE: from then on no dlclose unmaps it, so a
// thread still running in it after the host has let go cannot lose its code.
void PinThisModule() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PinThisModule), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

struct ThreadStart {
    void (*body)(void*);
    void* argument;
};

void* RunThread(void* start) {
    const ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.body(s.argument);
    return nullptr;
}

} // namespace

bool StartModuleThread(void (*body)(void* argument), void* argument) {
    static std::once_flag pinned;
    std::call_once(pinned, PinThisModule);
    auto* start = new (std::nothrow) ThreadStart{body, argument};
    if (start == nullptr)
        return false;
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = pthread_attr_init(&attributes) == 0;
    if (started) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        started = pthread_create(&thread, &attributes, RunThread, start) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!started)
        delete start;
    return started;
}

bool StartJoinableThread(void (*body)(void* argument), void* argument, ThreadHandle* thread) {
    auto* start = new (std::nothrow) ThreadStart{body, argument};
    pthread_t id;
    if (start == nullptr || pthread_create(&id, nullptr, RunThread, start) != 0) {
        delete start;
        return false;
    }
    *thread = static_cast<ThreadHandle>(id);
    return true;
}

void JoinThread(ThreadHandle thread) {
    pthread_join(static_cast<pthread_t>(thread), nullptr);
}

bool OpenWakeUp(WakeUp* wake) {
    int fds[2];
    *wake = WakeUp{InvalidSocket, InvalidSocket};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    *wake = WakeUp{fds[0], fds[1]};
    return true;
}

void SignalWakeUp(const WakeUp& wake) {
    const char byte = 1;
    // A full pipe is already readable; nothing more is needed.
    ssize_t n;
    do {
        n = write(static_cast<int>(wake.writable), &byte, 1);
    } while (n < 0 && errno == EINTR);
}

void CloseWakeUp(WakeUp* wake) {
    if (wake->readable != InvalidSocket)
        close(static_cast<int>(wake->readable));
    if (wake->writable != InvalidSocket)
        close(static_cast<int>(wake->writable));
    *wake = WakeUp{InvalidSocket, InvalidSocket};
}

} // namespace platform
