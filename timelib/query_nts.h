// Rizi.QueryNTS: one NTPv4 exchange that Network Time Security authenticates (RFC 8915). The
// first call with a key-exchange server exchanges keys over TLS (nts_key_exchange) and keeps a
// session (nts_sessions); every call then spends one cookie on a request whose reply counts
// only when its authenticator verifies. The exchange is split into steps like query_ntp's, so
// that the clock selection asks NTS sources beside the others, under the same wait.
#pragma once

#include "runtime/cancellation.h"
#include "runtime/tls_client.h"
#include "timelib/lua_api.h"
#include "timelib/nts_sessions.h"
#include "timelib/query_ntp.h"

#include <cstdint>

namespace timelib {

constexpr std::int32_t DefaultNtsTimeoutMs = 3000;

// Room for the text of the NTP server asked: "address:port", "[IPv6 address]:port".
constexpr int NtpServerTextBytes = platform::AddressTextBytes + 8;

// One NTS source on its way through the steps below.
struct NtsSource {
    ServerAddress server; // the key-exchange server
    NtsTicket ticket;
    NtsReplyCheck check;
    bool exchanged_keys; // this call did a key exchange
    int cookies_left;    // in the session once the exchange has ended
};

// Step 1 when server's session has a cookie: a ticket from it, at once; false when a key
// exchange is due.
bool TakeNtsSourceTicket(const ServerAddress& server, NtsSource* source);

// Step 1: a ticket from server's session, or, when there is none, a key exchange with it (its
// name resolved, then the NTP server's that it names) and a new session, within the deadline.
// False with the outcome's message set (resolve, network, timeout, cancelled, tls, nts-ke).
bool PrepareNtsSource(const ServerAddress& server, const runtime::Deadline& deadline,
                      const runtime::Cancellation* cancel, NtsSource* source,
                      SourceOutcome* outcome);

// Step 2: the authenticated request, sent to the session's NTP server. False with the
// outcome's message set (network) and nothing open.
bool StartNtsExchange(NtsSource* source, NtpExchange* exchange, SourceOutcome* outcome);

// Step 4, once FinishNtpExchanges (step 3) has ended the exchange: the reply's cookies go to
// the session, or the session is dropped after a kiss NTSN.
void EndNtsExchange(NtsSource* source, const SourceOutcome& outcome);

// Rizi.QueryNTS as plain data, so that it can run away from its Lua state.
struct QueryNtsJob {
    ServerAddress server;
    std::int32_t timeout_ms;
    SourceOutcome outcome;
    char ntp_server[NtpServerTextBytes];
    int cookies;
};

// Reads the arguments (server [, timeout_ms = 3000]); raises their argument errors.
void ReadQueryNtsArguments(lua_State* L, QueryNtsJob* job);

// The key exchange when one is due and the NTP exchange, within the timeout; after a kiss
// NTSN, one key exchange more if this call has not made one and time is left. A measurement
// also goes to Rizi.Now's anchor.
void RunQueryNts(QueryNtsJob* job, const runtime::Cancellation* cancel);

// Pushes the result table, or nil and the message; returns how many values.
int PushQueryNtsResult(lua_State* L, const QueryNtsJob& job);

// Lua: Rizi.QueryNTS(server [, timeout_ms = 3000]) -> result table, or nil and a message.
int QueryNTS(lua_State* L);

} // namespace timelib
