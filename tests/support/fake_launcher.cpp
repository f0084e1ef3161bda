#include "tests/support/fake_launcher.h"

namespace test_support {
namespace {

FakeLauncher* active_launcher = nullptr;
FakeFiles* active_files = nullptr;

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

} // namespace

FakeLauncher::FakeLauncher(bool process_starts, bool shell_starts)
    : process_starts_(process_starts), shell_starts_(shell_starts),
      scope_(platform::process_ops,
             platform::ProcessOps{&CreateProcess, &ShellExecute, &GetSystemWindowsDirectory}) {
    active_launcher = this;
}

FakeLauncher::~FakeLauncher() {
    active_launcher = nullptr;
}

bool FakeLauncher::CreateProcess(const char* application, char* command_line,
                                 const char* working_folder) {
    active_launcher->processes.push_back({Text(command_line), "", Text(working_folder),
                                          working_folder != nullptr, Text(application)});
    return active_launcher->process_starts_;
}

bool FakeLauncher::ShellExecute(const char* file, const char* parameters, const char* directory) {
    active_launcher->shell_launches.push_back(
        {Text(file), Text(parameters), Text(directory), directory != nullptr, ""});
    return active_launcher->shell_starts_;
}

std::uint32_t FakeLauncher::GetSystemWindowsDirectory(char* buffer, std::uint32_t size) {
    const std::string& folder = active_launcher->windows_folder;
    const auto length = static_cast<std::uint32_t>(folder.size());
    if (length == 0 || length >= size)
        return length == 0 ? 0 : length + 1;
    folder.copy(buffer, length);
    buffer[length] = '\0';
    return length;
}

FakeFiles::FakeFiles()
    : scope_(platform::file_ops,
             platform::FileOps{&FindFirstFile, &GetFileAttributes, &GetDriveType}) {
    active_files = this;
}

FakeFiles::~FakeFiles() {
    active_files = nullptr;
}

bool FakeFiles::FindFirstFile(const char* path, platform::FileEntry* entry) {
    active_files->probes.push_back("find " + Text(path));
    auto found = active_files->entries.find(Text(path));
    if (found == active_files->entries.end())
        return false;
    *entry = found->second;
    return true;
}

std::uint32_t FakeFiles::GetFileAttributes(const char* path) {
    active_files->probes.push_back("attributes " + Text(path));
    auto found = active_files->attributes.find(Text(path));
    return found == active_files->attributes.end() ? platform::InvalidFileAttributes
                                                   : found->second;
}

std::uint32_t FakeFiles::GetDriveType(const char* root) {
    active_files->probes.push_back("drive " + Text(root));
    auto found = active_files->drive_types.find(Text(root));
    return found == active_files->drive_types.end() ? 1u : found->second;
}

} // namespace test_support
