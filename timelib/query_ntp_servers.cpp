#include "timelib/query_ntp_servers.h"

#include "platform/precise_time.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/lua_arguments.h"
#include "timelib/lua_compat.h"
#include "timelib/result_table.h"

#include <cstdio>
#include <cstring>

namespace timelib {
namespace {

bool IsSeparator(char c) {
    return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Adds one server text to the list; false when it is not one or the list is full.
bool AddServer(const char* text, std::size_t length, ServerList* list) {
    if (list->count == MaxSources || length >= static_cast<std::size_t>(ServerTextBytes))
        return false;
    char* copy = list->texts[list->count];
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    char url[UrlBytes];
    list->https[list->count] = HasHttpScheme(copy);
    if (list->https[list->count]
            ? !NormaliseHttpsUrl(copy, url)
            : !ParseServerAddress(copy, NtpServerPort, &list->servers[list->count]))
        return false;
    ++list->count;
    return true;
}

// Reads argument 1, a string of servers or an array of server strings, before anything else
// is made: its errors are Lua argument errors, which must find nothing to clean up.
void ReadServerList(lua_State* L, ServerList* list) {
    list->count = 0;
    if (lua_type(L, 1) == LUA_TSTRING) {
        if (!SplitServerList(lua_tostring(L, 1), list))
            luaL_argerror(L, 1, "1 to 32 servers expected, each host, host:port or [IPv6]:port");
        return;
    }
    luaL_checktype(L, 1, LUA_TTABLE);
    const std::size_t length = RawLength(L, 1);
    if (length < 1 || length > MaxSources)
        luaL_argerror(L, 1, "1 to 32 servers expected");
    for (int i = 1; i <= static_cast<int>(length); ++i) {
        lua_rawgeti(L, 1, i); // stack: ..., server
        std::size_t size = 0;
        const char* text = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &size) : nullptr;
        if (text == nullptr || !AddServer(text, size, list))
            luaL_argerror(L, 1, "each server a string: host, host:port or [IPv6]:port");
        lua_pop(L, 1); // stack: ...
    }
}

// Exchanges still waiting, as peers for one wait.
int PendingPeers(const NtpExchange* exchanges, const bool* done, int count,
                 runtime::DatagramPeer* peers) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (!done[i])
            peers[n++] = exchanges[i].peer;
    }
    return n;
}

} // namespace

bool SplitServerList(const char* text, ServerList* list) {
    list->count = 0;
    const char* at = text;
    for (;;) {
        while (IsSeparator(*at))
            ++at;
        if (*at == '\0')
            break;
        const char* end = at;
        while (*end != '\0' && !IsSeparator(*end))
            ++end;
        if (!AddServer(at, static_cast<std::size_t>(end - at), list))
            return false;
        at = end;
    }
    return list->count > 0;
}

void QueryNtpServers(const ServerList& list, std::int32_t timeout_ms, ServersOutcome* result) {
    std::memset(result, 0, sizeof *result);
    result->best = -1;
    NtpExchange exchanges[MaxSources];
    bool done[MaxSources] = {};
    // Step 1: a request to every NTP server; a failed start ends that source alone.
    int started = 0;
    int unresolved = 0;
    bool any_https = false;
    for (int i = 0; i < list.count; ++i) {
        exchanges[i] = NtpExchange{runtime::NoPeer, 0, 0, 0};
        if (list.https[i]) {
            done[i] = true;
            any_https = true;
        } else if (StartNtpExchange(list.servers[i], &exchanges[i], &result->outcomes[i])) {
            ++started;
        } else {
            done[i] = true;
            unresolved += std::strncmp(result->outcomes[i].message, "resolve", 7) == 0 ? 1 : 0;
        }
    }
    // Step 2: take replies as they come, under one wait, until each exchange has ended or the
    // deadline has passed; HTTPS sources leave the NTP servers a second at most.
    const std::int32_t start = runtime::ElapsedMs();
    const std::int32_t ntp_limit_ms =
        any_https && (timeout_ms > 1000 || timeout_ms < 0) ? 1000 : timeout_ms;
    int pending = started;
    while (pending > 0) {
        const std::int32_t now = runtime::ElapsedMs();
        for (int i = 0; i < list.count; ++i) {
            if (!done[i] && TakeNtpReplies(exchanges[i], &result->outcomes[i])) {
                done[i] = true;
                --pending;
            }
        }
        if (pending == 0)
            break;
        if (runtime::DeadlinePassed(start, now, ntp_limit_ms)) {
            for (int i = 0; i < list.count; ++i) {
                if (!done[i])
                    SetNtpTimeout(ntp_limit_ms, &result->outcomes[i]);
            }
            break;
        }
        runtime::DatagramPeer peers[MaxSources];
        const int n = PendingPeers(exchanges, done, list.count, peers);
        const std::uint32_t left =
            static_cast<std::uint32_t>(ntp_limit_ms) - runtime::MsBetween(start, now);
        runtime::WaitForPeers(
            peers, n, left >= 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(left + 1));
    }
    for (int i = 0; i < list.count; ++i)
        runtime::CloseDatagramPeer(&exchanges[i].peer);
    // Step 3: the HTTPS sources in turn, each within what is left of the whole time.
    for (int i = 0; i < list.count; ++i) {
        if (!list.https[i])
            continue;
        const std::uint32_t passed = runtime::MsBetween(start, runtime::ElapsedMs());
        const std::int64_t left_ms = std::int64_t{timeout_ms} - passed;
        char url[UrlBytes];
        NormaliseHttpsUrl(list.texts[i], url);
        if (left_ms > 0) {
            result->outcomes[i] = QueryHttpsSource(url, static_cast<std::int32_t>(left_ms));
        } else {
            result->outcomes[i].http = true;
            std::snprintf(result->outcomes[i].message, sizeof result->outcomes[i].message,
                          "timeout: no time was left for this source");
        }
        if (!result->outcomes[i].ok && std::strncmp(result->outcomes[i].message, "resolve", 7) == 0)
            ++unresolved;
    }
    // Step 4: the selection over the sources that answered.
    SourceInterval intervals[MaxSources];
    int index_of[MaxSources];
    for (int i = 0; i < list.count; ++i) {
        const SourceOutcome& o = result->outcomes[i];
        if (o.ok) {
            intervals[result->answered] =
                SourceInterval{o.measurement.offset, o.measurement.root_distance, o.http};
            index_of[result->answered++] = i;
        }
    }
    if (result->answered == 0) {
        if (unresolved == list.count)
            std::snprintf(result->message, sizeof result->message,
                          "resolve: none of the %d server names resolves", list.count);
        else
            std::snprintf(result->message, sizeof result->message,
                          "timeout: none of the %d servers answered (the first: %.200s)",
                          list.count, result->outcomes[0].message);
        return;
    }
    const Selection by_answer = SelectSources(intervals, result->answered);
    result->selection = by_answer;
    std::memset(result->selection.agrees, 0, sizeof result->selection.agrees);
    for (int k = 0; k < result->answered; ++k) {
        const int i = index_of[k];
        result->selection.agrees[i] = by_answer.agrees[k];
        if (by_answer.agrees[k] &&
            (result->best < 0 || result->outcomes[i].measurement.root_distance <
                                     result->outcomes[result->best].measurement.root_distance))
            result->best = i;
    }
    if (!IsMajority(by_answer.agree, result->answered)) {
        std::snprintf(result->message, sizeof result->message,
                      "no majority: %d of %d servers answered, the largest agreeing set has %d",
                      result->answered, list.count, by_answer.agree);
        return;
    }
    // Step 5: the agreed time, taken now, from this machine's clock and the agreed offset.
    std::int64_t now_ns = 0;
    runtime::ReadWallAndBoot(&now_ns, &result->boot_ns);
    result->time_ns = now_ns + static_cast<std::int64_t>(by_answer.offset * 1e9);
    result->ok = true;
}

int QueryNTPServers(lua_State* L) {
    ServerList list;
    ReadServerList(L, &list);
    bool any_https = false;
    for (int i = 0; i < list.count; ++i)
        any_https = any_https || list.https[i];
    const auto timeout_ms =
        OptInt32Argument(L, 2, any_https ? DefaultHttpsTimeoutMs : DefaultQueryTimeoutMs);
    ServersOutcome result;
    QueryNtpServers(list, timeout_ms, &result);
    if (!result.ok) {
        lua_pushnil(L);
        lua_pushstring(L, result.message);
        return 2;
    }
    const double error = (result.selection.high - result.selection.low) / 2;
    OfferAnchor(result.time_ns, result.boot_ns, error);

    // The calendar tables and time, the best source's measurement, then the verdict.
    PushInstantResult(L, result.time_ns); // stack: result
    SetMeasurementFields(L, result.outcomes[result.best]);
    SetNumberField(L, "offset", result.selection.offset);
    SetIntegerField(L, "agree", result.selection.agree);
    SetIntegerField(L, "answered", result.answered);
    SetIntegerField(L, "asked", list.count);
    SetNumberField(L, "error", error);
    lua_pushstring(L, "sources");
    lua_createtable(L, list.count, 0); // stack: result, "sources", sources
    for (int i = 0; i < list.count; ++i) {
        const SourceOutcome& o = result.outcomes[i];
        lua_createtable(L, 0, 0); // stack: ..., sources, source
        SetStringField(L, "server", list.texts[i]);
        if (o.ok) {
            SetMeasurementFields(L, o);
            SetStringField(L, "verdict", result.selection.agrees[i] ? "agrees" : "disagrees");
        } else {
            if (o.address[0] != '\0')
                SetStringField(L, "address", o.address);
            SetStringField(L, "verdict", "failed");
            SetStringField(L, "message", o.message);
        }
        lua_rawseti(L, -2, i + 1); // stack: result, "sources", sources
    }
    lua_settable(L, -3); // stack: result
    return 1;
}

} // namespace timelib
