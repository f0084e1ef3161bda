// A plug-in file loaded the way a host application loads it: by path, with every export
// looked up by name when it is first needed. Also the host's view of the export types.
#pragma once

#include "platform/library.h"
#include "timelib/lua_api.h"

#include <cstdint>
#include <string>

namespace host {

// The plug-in interface as the host calls it: plain C functions, signed 32-bit integers.
using SdkVersionExport = std::int32_t (*)();
using TextExport = std::int32_t (*)(char* buffer, std::int32_t* size);
using HelpForPluginExport = std::int32_t (*)(const char* folder);
using HelpForActionExport = std::int32_t (*)(const char* action, const char* folder);
using RegisterActionsExport = std::int32_t (*)(lua_State* L);

// Owns one loaded plug-in file; unloads it when destroyed.
class PluginLibrary {
  public:
    PluginLibrary() = default;
    ~PluginLibrary() { platform::FreeLibraryFile(handle_); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the file; false with a one-line reason in error when it is missing or unloadable.
    bool Open(const std::string& path, std::string& error);

    // The export of that name as type F; null with a one-line reason in error when absent.
    template <typename F> F Find(const char* name, std::string& error) const {
        platform::LibrarySymbol symbol = platform::FindLibrarySymbol(handle_, name);
        if (symbol == nullptr) {
            error = "plug-in " + path_ + " has no export " + name;
            return nullptr;
        }
        return reinterpret_cast<F>(symbol);
    }

    const std::string& Path() const { return path_; }

  private:
    platform::LibraryHandle handle_ = nullptr;
    std::string path_;
};

// The plug-in a host finds by default: Rizi.lmd in the program's own folder.
std::string DefaultPluginPath();

// The folder part of a path, without its last separator; "." when there is none.
std::string FolderOf(const std::string& path);

} // namespace host
