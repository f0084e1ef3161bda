// Rizi.QueryNTPServers: every source asked at once (the HTTPS ones on threads of their own,
// the NTP servers' names resolved first, at most 8 at a time, then one NTPv4 request to each
// and one wait over all their sockets), and a verdict by clock selection: the one largest set
// of sources whose intervals share a point, when it holds more than half of those that
// answered. A server listed twice votes once.
// Exchanges come from query_ntp and query_https, the selection from clock_selection.
#pragma once

#include "runtime/cancellation.h"
#include "timelib/clock_selection.h"
#include "timelib/lua_api.h"
#include "timelib/lua_arguments.h"
#include "timelib/query_https.h"
#include "timelib/query_ntp.h"
#include "timelib/query_nts.h"

#include <cstdint>

namespace timelib {

static_assert(ServerTextBytes >= UrlBytes, "a server text holds a URL");

struct ServerList {
    int count;
    bool https[MaxSources];                  // an https:// (or http://) source
    bool nts[MaxSources];                    // an nts:// source
    ServerAddress servers[MaxSources];       // an NTP server, or an NTS key-exchange server
    char texts[MaxSources][ServerTextBytes]; // as the script gave them
};

// Every exchange's outcome and the verdict over them.
struct ServersOutcome {
    bool ok;              // a majority agrees
    int answered;         // sources with a measurement, duplicates not counted
    int best;             // the agreeing source with the smallest root distance, or -1
    Selection selection;  // over the sources that answered, by their index in outcomes
    std::int64_t time_ns; // the agreed time at the end of the call, ns since 1970
    std::int64_t boot_ns; // the boot clock then
    SourceOutcome outcomes[MaxSources];
    int duplicate_of[MaxSources]; // the earlier source that reaches the same server, or -1
    char message[MessageBytes];
};

// Splits text at commas and white space into server texts; false when one is neither an NTP
// server (see ParseServerAddress), nor nts:// and an NTS key-exchange server, nor an
// http(s):// URL, or there are none or more than MaxSources.
bool SplitServerList(const char* text, ServerList* list);

// Asks every source at once (a server already asked under another name or the same one is a
// duplicate, not asked again): each HTTPS source within timeout_ms; each NTS source's key
// exchange, when one is due, within timeout_ms; each NTP server and NTS source, once every
// name has resolved and every key exchange has ended, until it has answered or failed or
// until timeout_ms have passed (at most 1000 ms when the list holds HTTPS or NTS sources).
// A cancel ends every wait early.
void QueryNtpServers(const ServerList& list, std::int32_t timeout_ms, ServersOutcome* result,
                     const runtime::Cancellation* cancel = nullptr);

// Rizi.QueryNTPServers as plain data, so that it can run away from its Lua state: what it is
// asked and what it found.
struct ServersJob {
    ServerList list;
    std::int32_t timeout_ms;
    ServersOutcome outcome;
};

// Reads the arguments (servers [, timeout_ms]); raises their argument errors.
void ReadQueryNtpServersArguments(lua_State* L, ServersJob* job);

// Asks the servers; a verdict also goes to Rizi.Now's anchor.
void RunQueryNtpServers(ServersJob* job, const runtime::Cancellation* cancel);

// Pushes the result table, or nil and the message; returns how many values.
int PushQueryNtpServersResult(lua_State* L, const ServersJob& job);

// Lua: Rizi.QueryNTPServers(servers [, timeout_ms = 1000]) -> result table, or nil and a
// message (resolve, timeout, no majority).
int QueryNTPServers(lua_State* L);

} // namespace timelib
