// Starting another program without waiting for it. Windows: CreateProcessA, then the
// shell's ShellExecuteExA; POSIX: the command line split as a Windows program reads it,
// started from PATH, and the desktop's opener (xdg-open) as the shell. Tests swap
// process_ops.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessOps {
    // CreateProcessA: runs application (null: the program the command line names, found by
    // the system's search) with the command line (the system may write into it), the given
    // working folder (null: the caller's), normal priority and a normal window. The new
    // process is not tracked. True when it was started.
    bool (*create_process)(const char* application, char* command_line, const char* working_folder);
    // ShellExecuteExA: the default action on file with parameters, in directory (null: the
    // caller's), without any error dialog. True when it was started.
    bool (*shell_execute)(const char* file, const char* parameters, const char* directory);
    // GetSystemWindowsDirectoryA: the system's Windows folder (the shared one, also on a
    // terminal server), zero-terminated, in buffer of size bytes. Its length; 0 when there is
    // none (always on POSIX); size or more when it does not fit.
    std::uint32_t (*get_system_windows_directory)(char* buffer, std::uint32_t size);
};

// The real calls; tests replace them.
extern ProcessOps process_ops;

#if !defined(_WIN32)
// Splits a Windows command line into arguments as a Windows program reads it
// (CommandLineToArgvW): the program name up to its closing quote or the first blank, then
// blank-separated arguments where quotes group and backslashes escape quotes.
std::vector<std::string> SplitCommandLine(const char* command_line);
#endif

} // namespace platform
