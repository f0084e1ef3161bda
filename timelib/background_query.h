// Rizi.Start: a network function of table Rizi run on a thread of its own, and the query
// object a script polls, waits on or cancels meanwhile. The thread touches no Lua state: it
// runs the function's plain job (sntp, time_protocol, query_ntp, query_ntp_servers,
// query_https) and shares with the script only a record, freed by whichever lets go last.
#pragma once

#include "timelib/lua_api.h"

namespace timelib {

// Queries that may run in the background in one process at once.
constexpr int MaxBackgroundQueries = 64;

// Lua: Rizi.Start(f, ...) -> query object, or nil and "busy: ..."; f one of
// Rizi.RetrieveNTPTime, RetrieveTSTime, QueryNTP, QueryNTPServers, QueryHTTPS or QueryNTS, the
// rest its arguments, checked now with the argument errors of the direct call. The object's
// methods: Result() (nil, "pending" while it runs; then what the direct call returns), Wait([ms])
// and Cancel() (then nil, "cancelled"). Collecting the object, or closing its state, cancels it.
int Start(lua_State* L);

// How many background queries run in this process now (cancelled ones until their thread
// has ended).
int RunningBackgroundQueries();

} // namespace timelib
