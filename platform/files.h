// File probes: what exists under a path, and what kind of drive a root is. Windows:
// FindFirstFileA, GetFileAttributesA, GetDriveTypeA; POSIX stand-ins over stat that treat
// "\" as a path separator and know no drive letters. Tests swap file_ops.
#pragma once

#include <cstdint>

namespace platform {

constexpr std::uint32_t FileAttributeDirectory = 0x10;
constexpr std::uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

// Drive types below this one say that no such drive or root exists.
constexpr std::uint32_t DriveRemovable = 2;

// What a search found about one entry.
struct FileEntry {
    std::uint32_t attributes;
    std::uint32_t size_high;
    std::uint32_t size_low;
};

struct FileOps {
    // FindFirstFileA and FindClose: the first entry matching path; false when none.
    bool (*find_first_file)(const char* path, FileEntry* entry);
    // GetFileAttributesA: the attributes, or InvalidFileAttributes.
    std::uint32_t (*get_file_attributes)(const char* path);
    // GetDriveTypeA: 0 unknown, 1 no such root, 2 and above a kind of drive.
    std::uint32_t (*get_drive_type)(const char* root);
};

// The real calls; tests replace them.
extern FileOps file_ops;

} // namespace platform
