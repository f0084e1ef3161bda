// The SNTP client (version 3 requests over UDP port 123, RFC 4330) behind Rizi.RetrieveNTPTime:
// one request, a poll with 1 ms sleeps until a valid reply to it or the deadline, and the
// reply's Transmit Timestamp as a time value. Connections come from runtime/net.h.
#pragma once

#include "runtime/calendar.h"
#include "runtime/cancellation.h"
#include "timelib/lua_api.h"
#include "timelib/lua_arguments.h"

#include <array>
#include <cstdint>

namespace timelib {

constexpr std::int32_t NtpPort = 123;
constexpr std::int32_t DefaultNtpTimeoutMs = 130;
constexpr int SntpPacketSize = 48;

// Seconds from 1900-01-01 (the NTP epoch) to 1970-01-01.
constexpr std::uint32_t NtpEpochOffset = 2208988800u;

using SntpPacket = std::array<std::uint8_t, SntpPacketSize>;

// The client request: 0x1B (version 3, client mode), zeros, and the Transmit Timestamp from
// the local clock plus the zone bias, with the UTC milliseconds << 21 as its fraction.
SntpPacket BuildSntpRequest();

// True when the first length bytes of reply answer request: 48 bytes or more, server mode,
// leap indicator not 3 (unsynchronised), stratum 1 to 15, a non-zero Transmit Timestamp and
// an Originate Timestamp equal to the request's Transmit Timestamp.
bool IsValidSntpReply(const SntpPacket& request, const SntpPacket& reply, std::int32_t length);

// An NTP timestamp (the words' values, seconds since 1900 and the binary fraction) as a time
// value rounded to the nearest second, wrapping modulo 2^32 into the next NTP era.
runtime::TimeValue NtpTimestampToTimeValue(std::uint32_t seconds, std::uint32_t fraction);

// Asks host for the time, waiting up to timeout_ms after the request (at least one poll);
// the server's time, or 0 when the host cannot be used, no valid reply came in time, or the
// reply's time lies outside 1970-01-01 00:00:00 to 2038-01-19 03:14:07 UTC.
// A cancel that is requested ends the wait as if the time had run out.
runtime::TimeValue SntpQuery(const char* host, std::int32_t timeout_ms,
                             const runtime::Cancellation* cancel = nullptr);

// Rizi.RetrieveNTPTime as plain data, so that it can run away from its Lua state: what it
// is asked and what it found.
struct RetrieveNtpJob {
    char server[ServerTextBytes];
    std::int32_t timeout_ms;
    runtime::TimeValue time; // 0: none
};

// Reads the arguments (server [, timeout_ms = 130]); raises their argument errors.
void ReadRetrieveNtpArguments(lua_State* L, RetrieveNtpJob* job);

// Asks the server; the time found, or 0.
void RunRetrieveNtp(RetrieveNtpJob* job, const runtime::Cancellation* cancel);

// Pushes the result table, or nil; returns 1.
int PushRetrieveNtpResult(lua_State* L, const RetrieveNtpJob& job);

// Lua: Rizi.RetrieveNTPTime(server [, timeout_ms = 130]) -> result table or nil.
int RetrieveNTPTime(lua_State* L);

} // namespace timelib
