// What a host program needs from the system to use plug-ins: loading a library file,
// looking up its exports by name, unloading it, and the program's own file and output.
// Windows: LoadLibraryA and friends; POSIX: dlopen and friends.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

using LibraryHandle = void*;

// Any exported function; callers cast it to the export's real type.
using LibrarySymbol = void (*)();

// Loads a library file by path, resolving all its symbols now; null on failure.
LibraryHandle LoadLibraryFile(const char* path);

// The export of that name, or null when the library has none.
LibrarySymbol FindLibrarySymbol(LibraryHandle library, const char* name);

// Unloads the library; a null handle is ignored.
void FreeLibraryFile(LibraryHandle library);

// The system's text for the last failed load, or "" when it has none.
std::string LastLibraryError();

// The full path of the running program's file, or "" when the system cannot tell.
std::string ExecutablePath();

// Writes the stream's bytes unchanged (no CR inserted before LF on Windows).
void SetBinaryOutput(std::FILE* stream);

// Makes the C library's local time (Lua's os.date, os.time) follow the system's time zone,
// the one the plug-in reads. Windows: the C runtime would otherwise read TZ in its own
// limited form (a three-letter name and an offset, no rules) where the system ignores it;
// TZ is removed from the process's environment.
void FollowSystemTimeZone();

} // namespace platform
