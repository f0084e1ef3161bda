#if !defined(_WIN32)

#include "tests/support/test_system.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace test_support {
namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

} // namespace

TempFolder::TempFolder() {
    char pattern[] = "/tmp/rizi-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
}

TempFolder::~TempFolder() {
    if (!path_.empty())
        nftw(path_.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_value_ = old != nullptr;
    old_value_ = had_value_ ? old : "";
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_value_)
        setenv(name_.c_str(), old_value_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

bool WriteFile(const std::string& path, const std::string& content, bool executable) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << content;
        if (!out)
            return false;
    }
    return chmod(path.c_str(), executable ? 0755 : 0644) == 0;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool WaitForFile(const std::string& path, int polls) {
    for (int i = 0; i < polls; ++i) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0)
            return true;
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

bool MakeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

int OpenDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (readdir(dir) != nullptr)
        ++count;
    closedir(dir);
    return count - 3; // ".", ".." and the listing's own descriptor
}

PeerDescriptors DescriptorsConnectedTo(std::uint16_t port) {
    PeerDescriptors found{0, 0};
    DIR* dir = opendir("/proc/self/fd");
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == port) {
            ++found.connected;
            found.inherited += (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0 ? 1 : 0;
        }
    }
    if (dir != nullptr)
        closedir(dir);
    return found;
}

int ZombieChildCount() {
    const std::string self = std::to_string(getpid());
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return -1;
    int zombies = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        // /proc/PID/stat: "pid (name) state ppid ..."; the name may hold blanks.
        const std::string stat = ReadWholeFile(std::string("/proc/") + entry->d_name + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        std::string parent;
        fields >> state >> parent;
        if (state == "Z" && parent == self)
            ++zombies;
    }
    closedir(dir);
    return zombies;
}

bool IsMapped(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::istringstream maps(ReadWholeFile("/proc/self/maps"));
    std::string line;
    while (std::getline(maps, line)) {
        // "start-end perms ...", both in hexadecimal.
        const std::uintptr_t start = std::stoull(line, nullptr, 16);
        const std::uintptr_t end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
        if (at >= start && at < end)
            return true;
    }
    return false;
}

std::size_t HeapBytesInUse() {
    return mallinfo2().uordblks;
}

StandInViewer::StandInViewer(const char* program)
    : log_(bin_.Path() + "/viewer.log"), path_("PATH", bin_.Path() + ":/usr/bin:/bin") {
    WriteFile(bin_.Path() + "/" + program,
              "#!/bin/sh\n"
              "{ pwd -P; for arg in \"$@\"; do printf '%s\\n' \"$arg\"; done; } > '" +
                  log_ + ".part'\n/bin/mv '" + log_ + ".part' '" + log_ + "'\n",
              true);
}

std::vector<std::string> StandInViewer::Record() const {
    std::vector<std::string> lines;
    if (!WaitForFile(log_, 500))
        return lines;
    const std::string log = ReadWholeFile(log_);
    std::size_t start = 0;
    for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(log.substr(start, end - start));
    return lines;
}

bool StandInViewer::Ran() const {
    return WaitForFile(log_, 1);
}

} // namespace test_support

#endif
