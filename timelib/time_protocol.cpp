#include "timelib/time_protocol.h"

#include "runtime/clock.h"
#include "runtime/net.h"
#include "timelib/lua_arguments.h"
#include "timelib/result_table.h"
#include "timelib/zone.h"

namespace timelib {
namespace {

constexpr int ReplySize = 4;

// 2^32 - 2840140800: subtracting the seconds from 1900-01-01 to 1990-01-01 modulo 2^32.
constexpr std::uint32_t From1900To1990 = 2840140800u;
// 1970 and 1990 share their place in the leap cycle, so 20 calendar years bridge them.
constexpr std::int32_t YearsFrom1970To1990 = 20;

} // namespace

runtime::TimeValue TimeProtocolSecondsToTimeValue(std::uint32_t seconds) {
    const auto since_1990 = static_cast<runtime::TimeValue>(seconds - From1900To1990);
    return runtime::AddYears(since_1990, YearsFrom1970To1990);
}

bool TimeProtocolReplyTime(const std::uint8_t* reply, std::int32_t received,
                           runtime::TimeValue* time) {
    if (received < ReplySize) {
        return false;
    }
    // Big-endian, every byte counting, zero bytes included.
    const std::uint32_t seconds = (std::uint32_t{reply[0]} << 24) |
                                  (std::uint32_t{reply[1]} << 16) | (std::uint32_t{reply[2]} << 8) |
                                  std::uint32_t{reply[3]};
    // The calendar cannot place times before 1990 or after 2038-01-18 23:59:59 (a negative
    // value): no time rather than a table without calendar fields.
    const runtime::TimeValue t = TimeProtocolSecondsToTimeValue(seconds);
    if (t < 0) {
        return false;
    }
    *time = t;
    return true;
}

bool TimeProtocolQuery(const char* host, std::int32_t wait_limit, runtime::TimeValue* time,
                       const runtime::Cancellation* cancel) {
    // The limit also bounds the connect, so an unreachable server cannot hold the thread.
    const std::int32_t limit = wait_limit < 1 ? 1 : wait_limit;
    const runtime::ConnectionHandle conn =
        runtime::OpenClientConnection(host, TimePort, runtime::ProtocolTcp, limit, cancel);
    if (conn == nullptr) {
        return false;
    }

    std::uint8_t reply[ReplySize] = {};
    std::int32_t received = 0;
    std::int32_t empty_polls = 0;
    while (received < ReplySize) {
        const std::int32_t event = runtime::PollConnectionEvent(conn);
        if (event == runtime::EventNone) {
            // Nothing yet: one wait of at most a millisecond per empty poll, ended early by
            // data or a close; the first poll comes before any wait.
            runtime::WaitConnectionEvent(conn, 1);
            if (++empty_polls >= limit || runtime::CancelRequested(cancel)) {
                break;
            }
            continue;
        }
        if (event != runtime::EventData) {
            break; // closed or failed: what came so far is all there is
        }
        // The reply may come in pieces; read only what is still missing.
        const std::int32_t n =
            runtime::ReceiveFromConnection(conn, reply + received, ReplySize - received);
        if (n <= 0) {
            break;
        }
        received += n;
    }
    runtime::CloseClientConnection(conn);
    return TimeProtocolReplyTime(reply, received, time);
}

void ReadRetrieveTsArguments(lua_State* L, RetrieveTsJob* job) {
    CopyTextArgument(L, 1, job->server);
    job->wait_limit = OptInt32Argument(L, 2, DefaultTimeWaitLimit);
}

void RunRetrieveTs(RetrieveTsJob* job, const runtime::Cancellation* cancel) {
    job->time = 0;
    job->ok = TimeProtocolQuery(job->server, job->wait_limit, &job->time, cancel);
}

int PushRetrieveTsResult(lua_State* L, const RetrieveTsJob& job) {
    if (job.ok)
        PushTimeResult(L, job.time);
    else
        lua_pushnil(L);
    return 1;
}

int RetrieveTSTime(lua_State* L) {
    RetrieveTsJob job;
    ReadRetrieveTsArguments(L, &job);
    RunRetrieveTs(&job, nullptr);
    return PushRetrieveTsResult(L, job);
}

} // namespace timelib
