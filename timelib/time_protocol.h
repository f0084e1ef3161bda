// The Time Protocol client (RFC 868, TCP port 37) behind Rizi.RetrieveTSTime: connect, wait
// with 1 ms sleeps for the server's 4 bytes, convert them to a time value. Connections come
// from runtime/net.h.
#pragma once

#include "runtime/calendar.h"
#include "runtime/cancellation.h"
#include "timelib/lua_api.h"
#include "timelib/lua_arguments.h"

#include <cstdint>

namespace timelib {

constexpr std::int32_t TimePort = 37;
// Empty polls, each followed by a 1 ms sleep.
constexpr std::int32_t DefaultTimeWaitLimit = 130;

// Seconds since 1900-01-01 (as the server sends them) as a time value: counted from 1990
// and read as if from 1970, then moved 20 calendar years on, which also carries the count's
// wrap in 2036. Dates that AddYears cannot reach give its failure value.
runtime::TimeValue TimeProtocolSecondsToTimeValue(std::uint32_t seconds);

// The time in the received bytes of a reply: the first 4, big-endian, as
// TimeProtocolSecondsToTimeValue reads them. False, with time untouched, when fewer than 4
// came or their time lies outside 1990-01-01 00:00:00 to 2038-01-18 23:59:59 UTC.
bool TimeProtocolReplyTime(const std::uint8_t* reply, std::int32_t received,
                           runtime::TimeValue* time);

// Connects to host (the connect bounded by max(wait_limit, 1) ms) and reads the 4-byte
// reply, in as many pieces as it comes, until the peer closes or max(wait_limit, 1) polls
// found nothing. False, with time untouched, when fewer than 4 bytes came or their time lies
// outside 1990-01-01 00:00:00 to 2038-01-18 23:59:59 UTC.
// A cancel that is requested ends the wait with what came so far.
bool TimeProtocolQuery(const char* host, std::int32_t wait_limit, runtime::TimeValue* time,
                       const runtime::Cancellation* cancel = nullptr);

// Rizi.RetrieveTSTime as plain data, so that it can run away from its Lua state: what it is
// asked and what it found.
struct RetrieveTsJob {
    char server[ServerTextBytes];
    std::int32_t wait_limit;
    bool ok;
    runtime::TimeValue time;
};

// Reads the arguments (server [, wait_limit = 130]); raises their argument errors.
void ReadRetrieveTsArguments(lua_State* L, RetrieveTsJob* job);

// Asks the server.
void RunRetrieveTs(RetrieveTsJob* job, const runtime::Cancellation* cancel);

// Pushes the result table, or nil; returns 1.
int PushRetrieveTsResult(lua_State* L, const RetrieveTsJob& job);

// Lua: Rizi.RetrieveTSTime(server [, wait_limit = 130]) -> result table or nil.
int RetrieveTSTime(lua_State* L);

} // namespace timelib
