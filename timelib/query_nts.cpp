#include "timelib/query_nts.h"

#include "platform/random.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/lua_arguments.h"
#include "timelib/nts_key_exchange.h"
#include "timelib/result_table.h"

#include <cstdio>
#include <cstring>

namespace timelib {
namespace {

// Where the key exchange said the NTP server is: its own host when it named none.
bool ResolveNtpServer(const NtsKeyExchange& exchange, const runtime::NameLookup& key_server,
                      const runtime::Cancellation* cancel, NtsNtpServer* ntp,
                      SourceOutcome* outcome) {
    const std::uint16_t port =
        exchange.response.ntp_port != 0 ? exchange.response.ntp_port : NtpServerPort;
    runtime::NameLookup lookup = key_server;
    if (exchange.response.ntp_server[0] != '\0') {
        lookup = runtime::NameLookup{
            exchange.response.ntp_server, port, runtime::LookupKind::Any, {}, 0};
        const bool cancelled = !runtime::ResolveNames(&lookup, 1, cancel);
        if (!NtpServerResolved(lookup, cancelled, outcome))
            return false;
    }
    ntp->count = lookup.count;
    for (int i = 0; i < lookup.count; ++i) {
        ntp->addresses[i] = lookup.addresses[i];
        ntp->addresses[i].port = port;
    }
    return true;
}

// Milliseconds left before the deadline, at least 0; a negative limit stays negative (one
// look, no wait).
std::int32_t MsLeft(const runtime::Deadline& deadline) {
    if (deadline.limit_ms < 0)
        return -1;
    const std::uint32_t spent = runtime::MsBetween(deadline.start, runtime::ElapsedMs());
    return spent >= static_cast<std::uint32_t>(deadline.limit_ms)
               ? 0
               : deadline.limit_ms - static_cast<std::int32_t>(spent);
}

} // namespace

bool TakeNtsSourceTicket(const ServerAddress& server, NtsSource* source) {
    source->server = server;
    source->exchanged_keys = false;
    source->cookies_left = 0;
    return TakeNtsTicket(server, &source->ticket);
}

bool PrepareNtsSource(const ServerAddress& server, const runtime::Deadline& deadline,
                      const runtime::Cancellation* cancel, NtsSource* source,
                      SourceOutcome* outcome) {
    if (TakeNtsSourceTicket(server, source))
        return true;
    runtime::NameLookup key_server{server.host, server.port, runtime::LookupKind::Any, {}, 0};
    const bool cancelled = !runtime::ResolveNames(&key_server, 1, cancel);
    if (!NtpServerResolved(key_server, cancelled, outcome))
        return false;
    NtsKeyExchange exchange;
    if (!ExchangeNtsKeys(server, key_server.addresses, key_server.count, deadline, cancel,
                         &exchange, outcome))
        return false;
    source->exchanged_keys = true;
    NtsNtpServer ntp;
    const bool stored = ResolveNtpServer(exchange, key_server, cancel, &ntp, outcome) &&
                        StoreNtsSession(server, exchange.keys, exchange.response.cookies,
                                        exchange.response.cookie_count, ntp, &source->ticket);
    std::memset(&exchange.keys, 0, sizeof exchange.keys);
    if (!stored && outcome->message[0] == '\0')
        SetMessage(outcome, "nts-ke: %s gave no cookie", server.host);
    return stored;
}

bool StartNtsExchange(NtsSource* source, NtpExchange* exchange, SourceOutcome* outcome) {
    *exchange = NtpExchange{runtime::NoPeer, 0, 0, 0, 0, nullptr};
    // One draw for the request's nonce, its identifier and its authenticator's nonce.
    std::uint8_t random[sizeof(NtpTimestamp) + NtsUniqueIdBytes + NtsNonceBytes];
    NtpTimestamp nonce = 0;
    if (platform::RandomBytes(random, sizeof random))
        std::memcpy(&nonce, random, sizeof nonce);
    if (nonce == 0) {
        SetMessage(outcome, "network: no random bytes for the request");
        return false;
    }
    NtsReplyCheck& check = source->check;
    std::memcpy(check.unique_id, random + sizeof nonce, NtsUniqueIdBytes);
    check.keys = source->ticket.keys;
    check.cookies.count = 0;
    check.refused = false;
    // As many placeholders as bring the session back to a full set of cookies.
    const int missing = MaxNtsCookies - 1 - source->ticket.cookies_left;
    std::uint8_t request[MaxNtsRequestBytes];
    const std::int32_t length =
        BuildNtsRequest(nonce, check.unique_id, source->ticket.cookie, missing > 0 ? missing : 0,
                        source->ticket.keys, random + sizeof nonce + NtsUniqueIdBytes, request);
    if (length == 0) {
        SetMessage(outcome, "network: the request could not be sealed");
        return false;
    }
    exchange->nonce = nonce;
    exchange->nts = &check;
    return SendNtpRequest(source->ticket.ntp_server.addresses, source->ticket.ntp_server.count,
                          request, length, exchange, outcome);
}

void EndNtsExchange(NtsSource* source, const SourceOutcome& outcome) {
    if (source->check.refused) {
        DropNtsSession(source->server, source->ticket.session);
        source->cookies_left = 0;
    } else if (outcome.authenticated) {
        source->cookies_left =
            ReturnNtsCookies(source->server, source->ticket.session, source->check.cookies);
    }
}

void ReadQueryNtsArguments(lua_State* L, QueryNtsJob* job) {
    const char* text = luaL_checklstring(L, 1, nullptr);
    job->timeout_ms = OptInt32Argument(L, 2, DefaultNtsTimeoutMs);
    if (!ParseServerAddress(text, NtsKePort, &job->server))
        luaL_argerror(L, 1, "server expected as host, host:port or [IPv6]:port");
}

void RunQueryNts(QueryNtsJob* job, const runtime::Cancellation* cancel) {
    const runtime::Deadline deadline{runtime::ElapsedMs(), job->timeout_ms};
    SourceOutcome& outcome = job->outcome;
    NtsSource source;
    for (;;) {
        outcome = SourceOutcome{};
        NtpExchange exchange;
        if (!PrepareNtsSource(job->server, deadline, cancel, &source, &outcome) ||
            !StartNtsExchange(&source, &exchange, &outcome))
            return;
        FinishNtpExchanges(&exchange, &outcome, 1, MsLeft(deadline), cancel);
        EndNtsExchange(&source, outcome);
        // A session the server no longer takes: one key exchange more, unless this call has
        // made one already or its time is up.
        if (!source.check.refused || source.exchanged_keys || MsLeft(deadline) <= 0)
            break;
    }
    if (!outcome.ok)
        return;
    std::snprintf(job->ntp_server, sizeof job->ntp_server,
                  std::strchr(outcome.address, ':') != nullptr ? "[%s]:%u" : "%s:%u",
                  outcome.address,
                  static_cast<unsigned>(source.ticket.ntp_server.addresses[0].port));
    job->cookies = source.cookies_left;
    OfferAnchor(outcome.measurement.server_ns, outcome.boot_ns, outcome.measurement.root_distance);
}

int PushQueryNtsResult(lua_State* L, const QueryNtsJob& job) {
    const int count = PushSourceResult(L, job.outcome, 2); // and ntpServer, cookies
    if (job.outcome.ok) {
        SetStringField(L, "ntpServer", job.ntp_server);
        SetIntegerField(L, "cookies", job.cookies);
    }
    return count;
}

int QueryNTS(lua_State* L) {
    QueryNtsJob job;
    ReadQueryNtsArguments(L, &job);
    RunQueryNts(&job, nullptr);
    return PushQueryNtsResult(L, job);
}

} // namespace timelib
