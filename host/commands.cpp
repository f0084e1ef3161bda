#include "host/commands.h"

#include "platform/library.h"
#include "platform/terminal.h"

#include <cstdint>
#include <cstdio>

namespace host {
namespace {

// Prints a labelled value; continuation lines of a CR LF separated text line up under it.
void PrintField(const char* label, const std::string& value) {
    std::printf("%-13s", label);
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = value.find("\r\n", start);
        std::string line = value.substr(start, end == std::string::npos ? end : end - start);
        std::printf("%s\n", line.c_str());
        if (end == std::string::npos)
            break;
        start = end + 2;
        std::printf("%-13s", "");
    }
}

} // namespace

// One text by the plug-in's buffer protocol, as a host asks for it: first the size with a
// capacity of 0, then the text into a buffer of exactly that size.
bool ReadText(const PluginLibrary& plugin, const char* name, std::string& text,
              std::string& error) {
    auto get = plugin.Find<TextExport>(name, error);
    if (get == nullptr)
        return false;
    char probe[1] = {'\x7f'};
    std::int32_t size = 0;
    if (get(probe, &size) != -1 || size < 1 || probe[0] != '\x7f') {
        error = std::string(name) + " did not answer a capacity of 0 with -1 and the size needed";
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(size));
    std::int32_t capacity = size;
    std::int32_t length = get(buffer.data(), &capacity);
    if (length != size - 1 || capacity != size || buffer[buffer.size() - 1] != '\0') {
        error = std::string(name) + " did not fill a buffer of the size it asked for (" +
                std::to_string(size) + " bytes; it returned " + std::to_string(length) + ")";
        return false;
    }
    text.assign(buffer.data(), static_cast<std::size_t>(length));
    return true;
}

int Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "rizi-host: %s\n", message.c_str());
    return ExitFailure;
}

int ShowInfo(const PluginLibrary& plugin) {
    std::string error;
    std::string name, version, author, lua_version;
    // All exports are looked up before anything is printed, so a missing one gives one line.
    auto sdk_version = plugin.Find<SdkVersionExport>("irPlg_GetSDKVersion", error);
    if (sdk_version == nullptr || !ReadText(plugin, "irPlg_GetPluginName", name, error) ||
        !ReadText(plugin, "irPlg_GetPluginVersion", version, error) ||
        !ReadText(plugin, "irPlg_GetAuthorInfo", author, error) ||
        !ReadText(plugin, "irPlg_GetLuaVersion", lua_version, error))
        return Fail(error);
    // The texts are ANSI; the terminal may expect another character set (the 0xA9 of the
    // rights notice is not a character of UTF-8).
    PrintField("Name:", platform::AnsiTextForTerminal(name));
    PrintField("Version:", platform::AnsiTextForTerminal(version));
    PrintField("Author:", platform::AnsiTextForTerminal(author));
    PrintField("Lua version:", platform::AnsiTextForTerminal(lua_version));
    PrintField("SDK version:", std::to_string(sdk_version()));
    return ExitOk;
}

int ShowActions(const PluginLibrary& plugin) {
    std::string error, document;
    if (!ReadText(plugin, "irPlg_GetPluginActionXML", document, error))
        return Fail(error);
    // The document's own line ends, unchanged on every system.
    std::fflush(stdout);
    platform::SetBinaryOutput(stdout);
    std::fwrite(document.data(), 1, document.size(), stdout);
    return std::fflush(stdout) == 0 ? ExitOk : Fail("cannot write the document");
}

int ShowHelp(const PluginLibrary& plugin, const std::string& action, bool for_action,
             const std::string& folder) {
    std::string error;
    std::int32_t result = 0;
    const char* export_name = nullptr;
    if (for_action) {
        export_name = "irPlg_ShowHelpForAction";
        auto show = plugin.Find<HelpForActionExport>(export_name, error);
        if (show == nullptr)
            return Fail(error);
        result = show(action.c_str(), folder.c_str());
    } else {
        export_name = "irPlg_ShowHelpForPlugin";
        auto show = plugin.Find<HelpForPluginExport>(export_name, error);
        if (show == nullptr)
            return Fail(error);
        result = show(folder.c_str());
    }
    std::printf("%s returned %d\n", export_name, static_cast<int>(result));
    if (result != 1)
        return Fail("no help shown: no Rizi.chm in " + folder +
                    ", or the help viewer could not be started");
    return ExitOk;
}

} // namespace host
