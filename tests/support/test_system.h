// POSIX helpers for tests that use the real system: a private temporary folder, the process
// environment, open descriptors, and waiting for a file that another process writes.
#pragma once

#if !defined(_WIN32)

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder under /tmp, removed with its contents at scope end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Sets an environment variable for the scope and restores its old value (or absence).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_value_;
    bool had_value_;
};

// Writes a file (mode 0755 when executable); false on failure.
bool WriteFile(const std::string& path, const std::string& content, bool executable);

// The file's content, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Waits for another process to create path, sleeping 10 ms between at most polls looks.
// True when it appeared.
bool WaitForFile(const std::string& path, int polls);

// Creates a folder; false on failure.
bool MakeFolder(const std::string& path);

// The number of descriptors this process has open.
int OpenDescriptorCount();

// This process's descriptors connected to port (IPv4), and how many of them a program
// it starts would inherit (no FD_CLOEXEC).
struct PeerDescriptors {
    int connected;
    int inherited;
};
PeerDescriptors DescriptorsConnectedTo(std::uint16_t port);

// Child processes of this process that have ended but were not waited for.
int ZombieChildCount();

// True when address lies in a mapping of this process.
bool IsMapped(const void* address);

// Bytes of the C library's heap in use (0 where the allocator does not tell).
std::size_t HeapBytesInUse();

// A stand-in program on PATH (for the scope) that writes its working folder and its
// arguments, one a line, to a log, which it moves into place only when complete.
class StandInViewer {
  public:
    explicit StandInViewer(const char* program = "hh.exe");

    // The recorded lines (working folder first), waiting up to 500 polls; empty when it
    // never ran.
    std::vector<std::string> Record() const;

    // True when it has run, without waiting.
    bool Ran() const;

  private:
    TempFolder bin_;
    std::string log_;
    ScopedEnv path_;
};

} // namespace test_support

#endif
