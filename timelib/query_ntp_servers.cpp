#include "timelib/query_ntp_servers.h"

#include "platform/precise_time.h"
#include "platform/thread.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/lua_arguments.h"
#include "timelib/lua_compat.h"
#include "timelib/result_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace timelib {
namespace {

// The scheme of an NTS source, in any case.
bool HasNtsScheme(const char* text) {
    static const char scheme[] = "nts://";
    for (int i = 0; scheme[i] != '\0'; ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i])
            return false;
    }
    return true;
}

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
    list->nts[list->count] = HasNtsScheme(copy);
    ServerAddress* server = &list->servers[list->count];
    if (list->https[list->count] ? !NormaliseHttpsUrl(copy, url)
        : list->nts[list->count] ? !ParseServerAddress(copy + 6, NtsKePort, server)
                                 : !ParseServerAddress(copy, NtpServerPort, server))
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

// True when the two lookups share an address and port (an IPv4-mapped IPv6 address is its
// IPv4 form): both reach the same server.
bool ShareAnEndpoint(const runtime::NameLookup& a, const runtime::NameLookup& b) {
    for (int x = 0; x < a.count; ++x) {
        for (int y = 0; y < b.count; ++y) {
            if (runtime::SameEndpoint(a.addresses[x], b.addresses[y]))
                return true;
        }
    }
    return false;
}

// True when two web sources reached the same address and port (their texts read as numeric
// addresses, so that an IPv4-mapped IPv6 address is its IPv4 form).
bool ReachedTheSameServer(const SourceOutcome& a, const SourceOutcome& b) {
    platform::NetAddress x;
    platform::NetAddress y;
    return a.port != 0 && platform::ResolveAddresses(a.address, a.port, &x, 1, true) == 1 &&
           platform::ResolveAddresses(b.address, b.port, &y, 1, true) == 1 &&
           runtime::SameEndpoint(x, y);
}

// The earlier source that reaches the same server as source i, or -1. NTP servers: one that
// shares an address and port with i (lookups by source, unresolved ones empty). Web servers
// before they are asked: the same scheme, host and port however written; after: the same
// address and port reached (reached true).
int DuplicateOf(const ServerList& list, const runtime::NameLookup* lookups,
                const ServersOutcome& result, int i, bool reached) {
    for (int j = 0; j < i; ++j) {
        if (list.https[i] != list.https[j] || result.duplicate_of[j] >= 0)
            continue;
        if (!list.https[i] && ShareAnEndpoint(lookups[i], lookups[j]))
            return j;
        if (list.https[i] && !reached && SameWebServer(list.texts[i], list.texts[j]))
            return j;
        if (list.https[i] && reached &&
            ReachedTheSameServer(result.outcomes[i], result.outcomes[j]))
            return j;
    }
    return -1;
}

// One NTS source's key exchange on a thread of its own.
struct KeyExchangeQuery {
    const ServerAddress* server;
    runtime::Deadline deadline;
    const runtime::Cancellation* cancel;
    NtsSource* source;
    SourceOutcome* outcome;
    bool prepared; // a ticket is there
    bool threaded;
    platform::ThreadHandle thread;
};

void PrepareKeys(void* work) {
    auto* q = static_cast<KeyExchangeQuery*>(work);
    q->prepared = PrepareNtsSource(*q->server, q->deadline, q->cancel, q->source, q->outcome);
}

// One HTTPS source asked on a thread of its own.
struct WebQuery {
    char url[UrlBytes];
    std::int32_t timeout_ms;
    const runtime::Cancellation* cancel;
    SourceOutcome* outcome;
    bool threaded;
    platform::ThreadHandle thread;
};

void AskWebSource(void* work) {
    auto* q = static_cast<WebQuery*>(work);
    *q->outcome = QueryHttpsSource(q->url, q->timeout_ms, q->cancel);
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

void QueryNtpServers(const ServerList& list, std::int32_t timeout_ms, ServersOutcome* result,
                     const runtime::Cancellation* cancel) {
    std::memset(result, 0, sizeof *result);
    result->best = -1;
    // Step 1: every HTTPS source on a thread of its own, with the whole time; one that no
    // thread takes is asked after the NTP servers.
    bool any_https = false;
    bool any_nts = false;
    WebQuery web[MaxSources];
    const runtime::Deadline deadline{runtime::ElapsedMs(), timeout_ms};
    NtsSource nts[MaxSources];
    KeyExchangeQuery keys[MaxSources];
    for (int i = 0; i < list.count; ++i) {
        result->duplicate_of[i] = -1;
        web[i].threaded = false;
        keys[i] = KeyExchangeQuery{&list.servers[i],     deadline, cancel, &nts[i],
                                   &result->outcomes[i], false,    false,  {}};
        if (list.nts[i]) {
            // NTS sources: the same key-exchange server votes once; a session with a cookie
            // left needs no thread.
            any_nts = true;
            for (int j = 0; j < i && result->duplicate_of[i] < 0; ++j) {
                if (list.nts[j] && result->duplicate_of[j] < 0 &&
                    SameNtsServer(list.servers[i], list.servers[j]))
                    result->duplicate_of[i] = j;
            }
            if (result->duplicate_of[i] < 0 &&
                !(keys[i].prepared = TakeNtsSourceTicket(list.servers[i], &nts[i])))
                keys[i].threaded =
                    platform::StartJoinableThread(PrepareKeys, &keys[i], &keys[i].thread);
            continue;
        }
        if (!list.https[i])
            continue;
        any_https = true;
        result->duplicate_of[i] = DuplicateOf(list, nullptr, *result, i, false);
        if (result->duplicate_of[i] >= 0)
            continue;
        NormaliseHttpsUrl(list.texts[i], web[i].url);
        web[i].timeout_ms = timeout_ms;
        web[i].cancel = cancel;
        web[i].outcome = &result->outcomes[i];
        web[i].threaded = platform::StartJoinableThread(AskWebSource, &web[i], &web[i].thread);
    }
    // Step 2: every NTP server's name before any request goes out, so that no reply waits
    // for the resolver (runtime/name_lookup.h: numeric addresses at once, names on threads); a
    // name that does not resolve ends that source alone, a cancel all of them.
    runtime::NameLookup lookups[MaxSources];
    runtime::NameLookup names[MaxSources];
    int source_of[MaxSources];
    int name_count = 0;
    for (int i = 0; i < list.count; ++i) {
        lookups[i] = runtime::NameLookup{"", 0, runtime::LookupKind::Any, {}, 0};
        if (!list.https[i] && !list.nts[i]) {
            names[name_count] = NtpServerLookup(list.servers[i]);
            source_of[name_count++] = i;
        }
    }
    const bool cancelled = !runtime::ResolveNames(names, name_count, cancel);
    for (int k = 0; k < name_count; ++k) {
        lookups[source_of[k]] = names[k];
        NtpServerResolved(names[k], cancelled, &result->outcomes[source_of[k]]);
    }
    // Every key exchange has ended (one that had no thread is made now); an NTS source's
    // addresses are its NTP server's.
    for (int i = 0; i < list.count; ++i) {
        if (!list.nts[i] || result->duplicate_of[i] >= 0 || keys[i].prepared)
            continue;
        if (keys[i].threaded)
            platform::JoinThread(keys[i].thread);
        else
            PrepareKeys(&keys[i]);
    }
    for (int i = 0; i < list.count; ++i) {
        if (!keys[i].prepared)
            continue;
        const NtsNtpServer& ntp = nts[i].ticket.ntp_server;
        lookups[i].count = ntp.count;
        std::copy(ntp.addresses, ntp.addresses + ntp.count, lookups[i].addresses);
    }
    // Step 3: a request to every server not already asked, one after another at once. The
    // timeout counts from here, as for a single server.
    const std::int32_t start = runtime::ElapsedMs();
    NtpExchange exchanges[MaxSources];
    NtpTimestamp nonces[MaxSources]; // every request's, from one draw
    DrawNtpNonces(nonces, list.count);
    for (int i = 0; i < list.count; ++i) {
        exchanges[i] = NtpExchange{runtime::NoPeer, 0, 0, 0, 0, nullptr};
        if (list.https[i] || lookups[i].count <= 0)
            continue;
        result->duplicate_of[i] = DuplicateOf(list, lookups, *result, i, false);
        if (result->duplicate_of[i] >= 0) {
            platform::AddressToText(lookups[i].addresses[0], result->outcomes[i].address);
            if (list.nts[i]) // its cookie was not spent
                ReturnNtsCookies(nts[i].server, nts[i].ticket.session,
                                 NtsReplyCookies{1, {nts[i].ticket.cookie}});
        } else if (list.nts[i]) {
            StartNtsExchange(&nts[i], &exchanges[i], &result->outcomes[i]);
        } else {
            StartNtpExchange(lookups[i].addresses, lookups[i].count, &exchanges[i],
                             &result->outcomes[i], &nonces[i]);
        }
    }
    // Step 4: replies as they come, under one wait, until each exchange has ended or the
    // deadline has passed; beside HTTPS and NTS sources, NTP servers get a second at most.
    const std::int32_t ntp_limit_ms =
        (any_https || any_nts) && (timeout_ms > 1000 || timeout_ms < 0) ? 1000 : timeout_ms;
    FinishNtpExchanges(exchanges, result->outcomes, list.count, ntp_limit_ms, cancel);
    for (int i = 0; i < list.count; ++i) {
        if (keys[i].prepared && result->duplicate_of[i] < 0)
            EndNtsExchange(&nts[i], result->outcomes[i]);
    }
    // Step 5: the HTTPS sources' answers; one that had no thread is asked now, within what is
    // left of the whole time.
    for (int i = 0; i < list.count; ++i) {
        if (!list.https[i] || result->duplicate_of[i] >= 0)
            continue;
        if (web[i].threaded) {
            platform::JoinThread(web[i].thread);
            continue;
        }
        const std::int64_t left_ms =
            std::int64_t{timeout_ms} - runtime::MsBetween(start, runtime::ElapsedMs());
        web[i].timeout_ms = static_cast<std::int32_t>(left_ms > 0 ? left_ms : 0);
        AskWebSource(&web[i]);
    }
    // A web server reached under two names votes once too.
    for (int i = 0; i < list.count; ++i) {
        if (list.https[i] && result->duplicate_of[i] < 0)
            result->duplicate_of[i] = DuplicateOf(list, lookups, *result, i, true);
    }
    // Step 6: the selection over the sources that answered, each server once.
    SourceInterval intervals[MaxSources];
    int index_of[MaxSources];
    int unresolved = 0;
    int duplicates = 0;
    for (int i = 0; i < list.count; ++i) {
        const SourceOutcome& o = result->outcomes[i];
        if (result->duplicate_of[i] >= 0) {
            ++duplicates;
        } else if (o.ok) {
            intervals[result->answered] =
                SourceInterval{o.measurement.offset, o.measurement.root_distance, o.http};
            index_of[result->answered++] = i;
        } else if (std::strncmp(o.message, "resolve", 7) == 0) {
            ++unresolved;
        }
    }
    if (result->answered == 0) {
        if (unresolved == list.count - duplicates)
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
    if (by_answer.largest_sets > 1) {
        std::snprintf(result->message, sizeof result->message,
                      "no majority: %d of %d servers answered, and %d sets of %d disagree",
                      result->answered, list.count, by_answer.largest_sets, by_answer.agree);
        return;
    }
    if (!IsVerdict(by_answer, result->answered)) {
        std::snprintf(result->message, sizeof result->message,
                      "no majority: %d of %d servers answered, the largest agreeing set has %d",
                      result->answered, list.count, by_answer.agree);
        return;
    }
    // Step 7: the agreed time now, carried from the best source's reply by the boot clock: its
    // arrival on this machine's clock plus the agreed offset, plus what has passed since.
    const SourceOutcome& best = result->outcomes[result->best];
    const std::int64_t arrival_ns =
        best.measurement.server_ns - std::llround(best.measurement.offset * 1e9);
    platform::precise_time_ops.boot_time_ns(&result->boot_ns);
    result->time_ns =
        arrival_ns + std::llround(by_answer.offset * 1e9) + (result->boot_ns - best.boot_ns);
    result->ok = true;
}

void ReadQueryNtpServersArguments(lua_State* L, ServersJob* job) {
    ReadServerList(L, &job->list);
    bool slow = false; // a source that needs more than one round trip
    for (int i = 0; i < job->list.count; ++i)
        slow = slow || job->list.https[i] || job->list.nts[i];
    job->timeout_ms = OptInt32Argument(L, 2, slow ? DefaultHttpsTimeoutMs : DefaultQueryTimeoutMs);
}

void RunQueryNtpServers(ServersJob* job, const runtime::Cancellation* cancel) {
    QueryNtpServers(job->list, job->timeout_ms, &job->outcome, cancel);
    const ServersOutcome& result = job->outcome;
    if (result.ok)
        OfferAnchor(result.time_ns, result.boot_ns, result.selection.error);
}

int PushQueryNtpServersResult(lua_State* L, const ServersJob& job) {
    const ServerList& list = job.list;
    const ServersOutcome& result = job.outcome;
    if (!result.ok) {
        lua_pushnil(L);
        lua_pushstring(L, result.message);
        return 2;
    }
    // The calendar tables and time, the best source's measurement, then the verdict.
    PushInstantResult(L, result.time_ns); // stack: result
    SetMeasurementFields(L, result.outcomes[result.best]);
    SetNumberField(L, "offset", result.selection.offset);
    SetIntegerField(L, "agree", result.selection.agree);
    SetIntegerField(L, "answered", result.answered);
    SetIntegerField(L, "asked", list.count);
    SetNumberField(L, "error", result.selection.error);
    lua_pushstring(L, "sources");
    lua_createtable(L, list.count, 0); // stack: result, "sources", sources
    for (int i = 0; i < list.count; ++i) {
        const SourceOutcome& o = result.outcomes[i];
        lua_createtable(L, 0, 0); // stack: ..., sources, source
        SetStringField(L, "server", list.texts[i]);
        if (result.duplicate_of[i] >= 0) {
            if (o.address[0] != '\0')
                SetStringField(L, "address", o.address);
            SetStringField(L, "verdict", "duplicate");
            SetIntegerField(L, "duplicateOf", result.duplicate_of[i] + 1);
        } else if (o.ok) {
            SetMeasurementFields(L, o);
            if (!o.authenticated)
                SetBooleanField(L, "authenticated", false);
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

int QueryNTPServers(lua_State* L) {
    ServersJob job;
    ReadQueryNtpServersArguments(L, &job);
    RunQueryNtpServers(&job, nullptr);
    return PushQueryNtpServersResult(L, job);
}

} // namespace timelib
