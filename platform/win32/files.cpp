#include "platform/files.h"

#include <windows.h>

namespace platform {
namespace {

bool Win32FindFirstFile(const char* path, FileEntry* entry) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    entry->attributes = found.dwFileAttributes;
    entry->size_high = found.nFileSizeHigh;
    entry->size_low = found.nFileSizeLow;
    return true;
}

std::uint32_t Win32GetFileAttributes(const char* path) {
    return GetFileAttributesA(path);
}

std::uint32_t Win32GetDriveType(const char* root) {
    return GetDriveTypeA(root);
}

} // namespace

FileOps file_ops = {&Win32FindFirstFile, &Win32GetFileAttributes, &Win32GetDriveType};

} // namespace platform
