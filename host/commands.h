// The host's commands: each talks to a loaded plug-in through its exports, prints what it
// gets, and returns the program's exit status (0 success, 1 failure, reported on stderr).
#pragma once

#include "host/plugin_library.h"

#include <string>
#include <vector>

namespace host {

// Exit statuses of rizi-host.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Prints "rizi-host: message" on stderr and returns ExitFailure.
int Fail(const std::string& message);

// Reads one text export by the buffer protocol, as a host asks for it: the size first with a
// capacity of 0, then the text into a buffer of exactly that size. False with a reason in
// error when the export is missing or breaks the protocol.
bool ReadText(const PluginLibrary& plugin, const char* name, std::string& text, std::string& error);

// The identity exports: name, version, author text, Lua version and SDK version.
int ShowInfo(const PluginLibrary& plugin);

// The action description document, byte for byte as the plug-in hands it over.
int ShowActions(const PluginLibrary& plugin);

// Asks the plug-in to show its help (action empty) or one action's help from folder.
// Succeeds when the plug-in reports that it started the viewer.
int ShowHelp(const PluginLibrary& plugin, const std::string& action, bool for_action,
             const std::string& folder);

// What `run` and `-e` execute: a script file or a chunk of code, with its arguments.
struct LuaJob {
    bool is_code = false;                  // chunk holds code (-e) rather than a script path
    std::string chunk;                     // the script's path, or the code
    std::vector<std::string> args;         // arg[1..n] and the chunk's ...
    std::vector<std::string> words_before; // the command line before chunk: arg[-n..-1]
    bool result_is_status = false;         // the chunk returns true on success (query)
};

// Creates a Lua 5.1 state with the standard libraries, registers the plug-in's actions and
// runs the job. A Lua error is printed with its message and gives ExitFailure, as does a
// chunk that returns no true value when its result is its status.
int RunLua(const PluginLibrary& plugin, const LuaJob& job);

} // namespace host
