#include "platform/process.h"

// shellapi.h needs the types of windows.h first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace platform {
namespace {

bool Win32CreateProcess(const char* application, char* command_line, const char* working_folder) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(application, command_line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, working_folder, &startup, &process))
        return false;
    // The new process is on its own: nothing keeps a handle to it.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool Win32ShellExecute(const char* file, const char* parameters, const char* directory) {
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    // DDEWAIT: return only when the shell has finished starting it; NO_UI: no error dialog.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info))
        return false;
    if (info.hProcess != nullptr)
        CloseHandle(info.hProcess);
    return true;
}

// Not GetWindowsDirectoryA: on a terminal server that gives a private folder per user.
std::uint32_t Win32GetSystemWindowsDirectory(char* buffer, std::uint32_t size) {
    return GetSystemWindowsDirectoryA(buffer, size);
}

} // namespace

ProcessOps process_ops = {&Win32CreateProcess, &Win32ShellExecute, &Win32GetSystemWindowsDirectory};

} // namespace platform
