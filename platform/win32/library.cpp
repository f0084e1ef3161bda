#include "platform/library.h"

#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <time.h>
#include <windows.h>

namespace platform {

LibraryHandle LoadLibraryFile(const char* path) {
    // LoadLibraryA wants backslashes; under wine this also maps absolute Unix paths
    // ("/a/b" becomes "\a\b" on the current drive, which wine maps to "/").
    std::string native(path);
    for (char& c : native) {
        if (c == '/')
            c = '\\';
    }
    // A bare file name would be looked up along the DLL search path, not in the current folder.
    if (native.find('\\') == std::string::npos && native.find(':') == std::string::npos)
        native = ".\\" + native;
    // No "cannot find file" dialog boxes from the system: a host reports failures itself.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(native.c_str());
    SetErrorMode(previous);
    return reinterpret_cast<LibraryHandle>(module);
}

LibrarySymbol FindLibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr)
        return nullptr;
    // void (*)() is the generic function pointer type; the caller restores the real one.
    return reinterpret_cast<LibrarySymbol>(
        GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void FreeLibraryFile(LibraryHandle library) {
    if (library != nullptr)
        FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string LastLibraryError() {
    DWORD code = GetLastError();
    if (code == 0)
        return "";
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    // System messages end with CR LF; the host prints its own line end.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    // Messages such as "%1 is not a valid Win32 application" keep their insert unfilled.
    std::string message(text, length);
    std::string::size_type insert = message.find("%1");
    if (insert != std::string::npos)
        message.replace(insert, 2, "the file");
    return message + " (error " + std::to_string(code) + ")";
}

std::string ExecutablePath() {
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "";
    return std::string(path, length);
}

void SetBinaryOutput(std::FILE* stream) {
    _setmode(_fileno(stream), _O_BINARY);
}

void FollowSystemTimeZone() {
    // Without TZ the runtime asks GetTimeZoneInformation, as the plug-in does. TZ goes for
    // good: the runtime reads it again in several calls (mktime, strftime's %Z).
    if (std::getenv("TZ") != nullptr) {
        _putenv("TZ=");
        _tzset();
    }
}

} // namespace platform
