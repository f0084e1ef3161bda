// Rizi.QueryNTP: one NTPv4 exchange with one server, over IPv4 or IPv6, measured to the
// nanosecond and checked against a random nonce. The exchange is split into a start and the
// taking of replies so that the clock selection can run many at once under one wait.
// Packets and measurements come from ntp_measurement, sockets from runtime/datagram.
#pragma once

#include "runtime/datagram.h"
#include "timelib/lua_api.h"
#include "timelib/ntp_measurement.h"
#include "timelib/server_address.h"
#include "timelib/source_outcome.h"

#include <cstdint>

namespace timelib {

constexpr std::uint16_t NtpServerPort = 123;
constexpr std::int32_t DefaultQueryTimeoutMs = 1000;

// One request in flight.
struct NtpExchange {
    runtime::DatagramPeer peer;
    NtpTimestamp nonce;
    std::int64_t t1_ns;      // this machine's clock when the request went out
    std::int64_t t1_boot_ns; // the boot clock then, so that T4 follows it, not the wall clock
};

// Resolves the server and sends a fresh request to the first of its addresses that takes it
// (the next only when a send fails at once). False when none did, with the outcome's message
// (resolve or network) set and nothing left open.
bool StartNtpExchange(const ServerAddress& server, NtpExchange* exchange, SourceOutcome* outcome);

// Takes the datagrams waiting for the exchange. True once it has ended: a valid answer, a
// kiss-o'-death or an unsynchronised server, with the outcome set; false while it waits on.
bool TakeNtpReplies(const NtpExchange& exchange, SourceOutcome* outcome);

// Sets the outcome of an exchange that got no valid reply within timeout_ms.
void SetNtpTimeout(std::int32_t timeout_ms, SourceOutcome* outcome);

// The whole exchange: start, then take replies until one ends it or the deadline has passed
// (at least one look; waits end when a datagram arrives).
SourceOutcome QueryNtpServer(const ServerAddress& server, std::int32_t timeout_ms);

// Lua: Rizi.QueryNTP(server [, timeout_ms = 1000]) -> result table, or nil and a message.
int QueryNTP(lua_State* L);

} // namespace timelib
