#include "platform/library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace platform {

LibraryHandle LoadLibraryFile(const char* path) {
    // RTLD_NOW: a plug-in that needs symbols the process lacks fails here, not mid-script.
    // RTLD_LOCAL: its own symbols stay out of the global scope, as with LoadLibrary.
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

LibrarySymbol FindLibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr)
        return nullptr;
    // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
    return reinterpret_cast<LibrarySymbol>(dlsym(library, name));
}

void FreeLibraryFile(LibraryHandle library) {
    if (library != nullptr)
        dlclose(library);
}

std::string LastLibraryError() {
    const char* text = dlerror();
    return text != nullptr ? text : "";
}

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "";
    return std::string(path, static_cast<std::size_t>(length));
}

void SetBinaryOutput(std::FILE* /*stream*/) {
    // POSIX streams never translate line ends.
}

void FollowSystemTimeZone() {
    // The C library's local time is the system's zone (TZ included) already.
}

} // namespace platform
