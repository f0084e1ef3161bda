#include "host/plugin_library.h"

#include <cstdio>

namespace host {

bool PluginLibrary::Open(const std::string& path, std::string& error) {
    path_ = path;
    // Tell "no such file" apart from "not a loadable plug-in": the loader's text for the
    // first is often vague.
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        error = "plug-in not found: " + path;
        return false;
    }
    handle_ = platform::LoadLibraryFile(path.c_str());
    if (handle_ == nullptr) {
        std::string reason = platform::LastLibraryError();
        error = "cannot load plug-in " + path + (reason.empty() ? "" : ": " + reason);
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    std::string::size_type end = path.find_last_of("/\\");
    if (end == std::string::npos)
        return ".";
    if (end == 0)
        return path.substr(0, 1);
    return path.substr(0, end);
}

std::string DefaultPluginPath() {
    std::string program = platform::ExecutablePath();
    if (program.empty())
        return "Rizi.lmd";
    // Keep the program path's own separator style (backslashes on Windows).
    std::string::size_type end = program.find_last_of("/\\");
    return program.substr(0, end + 1) + "Rizi.lmd";
}

} // namespace host
