// Rizi.QueryNTP: one NTPv4 exchange with one server, over IPv4 or IPv6, measured to the
// nanosecond and checked against a random nonce. The exchange is split into resolving, a start
// and the taking of replies, so that the clock selection runs many at once under one wait.
// Packets and measurements come from ntp_measurement, sockets from runtime/datagram; the wait
// loop also takes NTS replies, checked by nts_fields, for query_nts.
#pragma once

#include "runtime/cancellation.h"
#include "runtime/datagram.h"
#include "runtime/name_lookup.h"
#include "timelib/lua_api.h"
#include "timelib/ntp_measurement.h"
#include "timelib/nts_fields.h"
#include "timelib/server_address.h"
#include "timelib/source_outcome.h"

#include <cstdint>

namespace timelib {

constexpr std::uint16_t NtpServerPort = 123;
constexpr std::int32_t DefaultQueryTimeoutMs = 1000;

// A name with many addresses is tried on its first ones only.
constexpr int MaxAddresses = runtime::MaxLookupAddresses;

// What a reply to an NTS request must carry beside the nonce, and what it brings back.
struct NtsReplyCheck {
    std::uint8_t unique_id[NtsUniqueIdBytes];
    NtsKeys keys;
    NtsReplyCookies cookies; // from the authentic reply
    bool refused;            // a kiss NTSN that carried unique_id: the session is spent
};

// One request in flight.
struct NtpExchange {
    runtime::DatagramPeer peer;
    NtpTimestamp nonce;
    std::int64_t t1_ns;      // this machine's clock when the request went out
    std::int64_t t1_boot_ns; // the boot clock then, so that T4 follows it, not the wall clock
    std::int64_t t1_gap_ns;  // how closely the two were paired (see runtime::ReadWallAndBoot)
    NtsReplyCheck* nts;      // an NTS request's; null for plain NTP
};

// What runtime::ResolveNames is given for the server: its host and port, any family.
runtime::NameLookup NtpServerLookup(const ServerAddress& server);

// True when the lookup found addresses; else sets the outcome's message: "cancelled" when the
// lookups were cancelled, else resolve.
bool NtpServerResolved(const runtime::NameLookup& lookup, bool cancelled, SourceOutcome* outcome);

// Fills count nonces for the requests of one call from one draw of the system's generator,
// none zero and no two alike; false (and every one 0) when the generator fails or gives
// such bytes.
bool DrawNtpNonces(NtpTimestamp* nonces, int count);

// Sends a fresh request to the first of count addresses that takes it (the next only when a
// send fails at once). nonce: the request's, drawn by the caller with the rest of its call
// (DrawNtpNonces); null draws one here. False when none did, or the nonce is 0 or could not be
// had, with the outcome's message (network) set and nothing sent or left open.
bool StartNtpExchange(const platform::NetAddress* addresses, int count, NtpExchange* exchange,
                      SourceOutcome* outcome, const NtpTimestamp* nonce = nullptr);

// Sends request (length bytes whose Transmit Timestamp is exchange->nonce) to the first of
// count addresses that takes it, as StartNtpExchange does; the exchange's nonce and nts part
// are the caller's and stay.
bool SendNtpRequest(const platform::NetAddress* addresses, int count, const std::uint8_t* request,
                    std::int32_t length, NtpExchange* exchange, SourceOutcome* outcome);

// Takes replies for count exchanges under one wait, until each has ended (a valid answer, a
// kiss-o'-death or an unsynchronised server, with its outcome set; for an NTS exchange only a
// reply whose authenticator verifies counts, and an NTSN kiss that carries its identifier
// ends it as refused) or timeout_ms have passed
// since the call (at least one look; the rest time out), or cancel is requested (the rest
// say "cancelled"). Closed exchanges count as ended. Closes every exchange's socket.
void FinishNtpExchanges(NtpExchange* exchanges, SourceOutcome* outcomes, int count,
                        std::int32_t timeout_ms, const runtime::Cancellation* cancel = nullptr);

// The whole exchange with one server: resolve, start, finish.
SourceOutcome QueryNtpServer(const ServerAddress& server, std::int32_t timeout_ms,
                             const runtime::Cancellation* cancel = nullptr);

// Rizi.QueryNTP as plain data, so that it can run away from its Lua state: what it is asked
// and what it found.
struct QueryNtpJob {
    ServerAddress server;
    std::int32_t timeout_ms;
    SourceOutcome outcome;
};

// Reads the arguments (server [, timeout_ms = 1000]); raises their argument errors.
void ReadQueryNtpArguments(lua_State* L, QueryNtpJob* job);

// The exchange; a measurement also goes to Rizi.Now's anchor.
void RunQueryNtp(QueryNtpJob* job, const runtime::Cancellation* cancel);

// Pushes the result table, or nil and the message; returns how many values.
int PushQueryNtpResult(lua_State* L, const QueryNtpJob& job);

// Lua: Rizi.QueryNTP(server [, timeout_ms = 1000]) -> result table, or nil and a message.
int QueryNTP(lua_State* L);

} // namespace timelib
