// Seam fakes for help display: FakeLauncher answers program launches and records them;
// FakeFiles answers file probes from a table and records what was probed. Each installs
// itself in the platform table for its lifetime and restores the real one after.
#pragma once

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/scoped_ops.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test_support {

class FakeLauncher {
  public:
    // One launch as the seam saw it; folder_given is false for a null folder.
    struct Launch {
        std::string program_or_command_line;
        std::string parameters; // shell launches only
        std::string folder;
        bool folder_given;
        std::string application; // process launches only; "" for none
    };

    FakeLauncher(bool process_starts, bool shell_starts);
    ~FakeLauncher();
    FakeLauncher(const FakeLauncher&) = delete;
    FakeLauncher& operator=(const FakeLauncher&) = delete;

    std::vector<Launch> processes;
    std::vector<Launch> shell_launches;

    // What GetSystemWindowsDirectoryA answers; empty: no Windows folder.
    std::string windows_folder;

  private:
    static bool CreateProcess(const char* application, char* command_line,
                              const char* working_folder);
    static bool ShellExecute(const char* file, const char* parameters, const char* directory);
    static std::uint32_t GetSystemWindowsDirectory(char* buffer, std::uint32_t size);

    bool process_starts_;
    bool shell_starts_;
    ScopedOps<platform::ProcessOps> scope_;
};

class FakeFiles {
  public:
    FakeFiles();
    ~FakeFiles();
    FakeFiles(const FakeFiles&) = delete;
    FakeFiles& operator=(const FakeFiles&) = delete;

    // What each probe answers, by the exact path it is given.
    std::map<std::string, platform::FileEntry> entries;
    std::map<std::string, std::uint32_t> attributes;
    std::map<std::string, std::uint32_t> drive_types;

    // Every probe in order, as "find PATH", "attributes PATH" or "drive PATH".
    std::vector<std::string> probes;

  private:
    static bool FindFirstFile(const char* path, platform::FileEntry* entry);
    static std::uint32_t GetFileAttributes(const char* path);
    static std::uint32_t GetDriveType(const char* root);

    ScopedOps<platform::FileOps> scope_;
};

} // namespace test_support
