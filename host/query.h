// `rizi-host query SERVER...`: one measurement line per server, in the manner of the usual
// SNTP client tools, by a Lua chunk run through the plug-in like any script.
#pragma once

#include "host/commands.h"

#include <string>
#include <vector>

namespace host {

// The job that measures each server (Rizi.QueryNTP; several at once with
// Rizi.QueryNTPServers, whose verdict it prints last) and prints a line for it; it fails (and
// the host exits with ExitFailure) unless every server answered.
LuaJob QueryJob(const std::vector<std::string>& servers);

} // namespace host
