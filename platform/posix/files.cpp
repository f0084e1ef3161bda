#include "platform/files.h"

#include "platform/posix/native_path.h"

#include <glob.h>
#include <string>
#include <sys/stat.h>

namespace platform {
namespace {

std::uint32_t AttributesOf(const struct stat& info) {
    return S_ISDIR(info.st_mode) ? FileAttributeDirectory : 0x80u; // 0x80: a normal file
}

// Like FindFirstFileA, wildcards are allowed in the last component only.
bool PosixFindFirstFile(const char* path, FileEntry* entry) {
    std::string native = NativePath(path);
    if (native.empty())
        return false;
    const std::size_t last = native.find_last_of('/');
    const std::size_t name = last == std::string::npos ? 0 : last + 1;
    if (native.find_first_of("*?", name) != std::string::npos) {
        glob_t found{};
        const int status = glob(native.c_str(), GLOB_NOSORT | GLOB_NOESCAPE, nullptr, &found);
        if (status == 0 && found.gl_pathc > 0)
            native = found.gl_pathv[0];
        globfree(&found);
        if (status != 0)
            return false;
    }
    struct stat info {};
    if (stat(native.c_str(), &info) != 0)
        return false;
    const auto size = static_cast<std::uint64_t>(S_ISDIR(info.st_mode) ? 0 : info.st_size);
    entry->attributes = AttributesOf(info);
    entry->size_high = static_cast<std::uint32_t>(size >> 32);
    entry->size_low = static_cast<std::uint32_t>(size);
    return true;
}

std::uint32_t PosixGetFileAttributes(const char* path) {
    struct stat info {};
    if (stat(NativePath(path).c_str(), &info) != 0)
        return InvalidFileAttributes;
    return AttributesOf(info);
}

// No drive letters here: a root is the file system root or another mount point, reported
// as a fixed drive (3); anything else is "no such root" (1).
std::uint32_t PosixGetDriveType(const char* root) {
    std::string native = NativePath(root);
    if (native.empty() || (native.size() >= 2 && native[1] == ':'))
        return 1;
    struct stat self {};
    struct stat parent {};
    if (stat(native.c_str(), &self) != 0 || !S_ISDIR(self.st_mode) ||
        stat((native + "/..").c_str(), &parent) != 0)
        return 1;
    const bool mount_point = self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
    return mount_point ? 3 : 1;
}

} // namespace

FileOps file_ops = {&PosixFindFirstFile, &PosixGetFileAttributes, &PosixGetDriveType};

} // namespace platform
