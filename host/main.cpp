// rizi-host: loads an action plug-in the way a host application does and drives it from the
// command line: its identity, its action document, its help, and Lua scripts with its actions.
#include "host/commands.h"
#include "host/plugin_library.h"
#include "host/query.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const Usage = R"(usage: rizi-host [--plugin PATH] COMMAND [ARGUMENTS]

Loads an action plug-in the way a host application does and talks to it.

Commands:
  info                    the plug-in's name, version, author, Lua version and SDK version
  actions                 the plug-in's action description document, byte for byte
  help [ACTION] [--folder DIR]
                          asks the plug-in to show its help, or the page of one action,
                          from Rizi.chm in DIR (default: the plug-in's folder)
  run SCRIPT.lua [ARGS]   runs a Lua 5.1 script with the plug-in's table registered;
                          ARGS reach the script as arg[1], arg[2], ... and as ...
  -e CODE [ARGS]          runs CODE the same way
  query SERVER...         measures each NTP server with Rizi.QueryNTP (an https:// URL
                          with Rizi.QueryHTTPS, nts://HOST with Rizi.QueryNTS): address,
                          stratum, offset and delay in milliseconds, leap, reference ID
                          ("authenticated" for NTS), or why not;
                          for several, all at once and the verdict of Rizi.QueryNTPServers
                          last; fails unless every server answered

Scripts also see a global table host, the host's side of the interface:
  host.Info()             {name, version, author, luaVersion, sdkVersion} from the exports
  host.Actions()          the action description document
  host.ShowHelp(DIR [, ACTION])   what the help export returns (1 when the viewer started)

Options:
  --plugin PATH           the plug-in file (default: Rizi.lmd beside this program)
  -h, --help              show this text

Exit status: 0 on success, 1 when the plug-in, an export or a script fails, 2 on a usage error.
)";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "rizi-host: %s\nTry 'rizi-host --help'.\n", message.c_str());
    return host::ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv, argv + argc);
    std::string plugin_path;
    std::size_t i = 1;

    // Options before the command.
    for (; i < words.size() && words[i].size() > 1 && words[i][0] == '-' && words[i] != "-e"; ++i) {
        if (words[i] == "-h" || words[i] == "--help") {
            std::fputs(Usage, stdout);
            return host::ExitOk;
        }
        if (words[i] != "--plugin")
            return UsageError("unknown option " + words[i]);
        if (++i == words.size())
            return UsageError("--plugin needs a path");
        plugin_path = words[i];
    }
    if (i == words.size())
        return UsageError("no command given");

    // The command and its own arguments, checked before the plug-in is loaded.
    const std::string command = words[i++];
    host::LuaJob job;
    std::string action, folder;
    bool for_action = false, have_folder = false;
    if (command == "run" || command == "-e") {
        if (i == words.size())
            return UsageError(command == "run" ? "run needs a script" : "-e needs code");
        job.is_code = command == "-e";
        job.words_before.assign(words.begin(), words.begin() + static_cast<long>(i));
        job.chunk = words[i++];
        job.args.assign(words.begin() + static_cast<long>(i), words.end());
    } else if (command == "query") {
        if (i == words.size())
            return UsageError("query needs a server");
        job = host::QueryJob(
            std::vector<std::string>(words.begin() + static_cast<long>(i), words.end()));
        job.words_before.assign(words.begin(), words.begin() + static_cast<long>(i));
    } else if (command == "help") {
        for (; i < words.size(); ++i) {
            if (words[i] == "--folder") {
                if (++i == words.size())
                    return UsageError("--folder needs a folder");
                folder = words[i];
                have_folder = true;
            } else if (!for_action) {
                action = words[i];
                for_action = true;
            } else {
                return UsageError("help takes one action name, got also " + words[i]);
            }
        }
    } else if (command == "info" || command == "actions") {
        if (i != words.size())
            return UsageError(command + " takes no arguments, got " + words[i]);
    } else {
        return UsageError("unknown command " + command);
    }

    if (plugin_path.empty())
        plugin_path = host::DefaultPluginPath();
    host::PluginLibrary plugin;
    std::string error;
    if (!plugin.Open(plugin_path, error))
        return host::Fail(error);

    if (command == "info")
        return host::ShowInfo(plugin);
    if (command == "actions")
        return host::ShowActions(plugin);
    if (command == "help")
        return host::ShowHelp(plugin, action, for_action,
                              have_folder ? folder : host::FolderOf(plugin.Path()));
    return host::RunLua(plugin, job);
}
