#include "timelib/sntp.h"

#include "platform/system_time.h"
#include "runtime/clock.h"
#include "runtime/net.h"
#include "timelib/lua_arguments.h"
#include "timelib/result_table.h"
#include "timelib/zone.h"

namespace timelib {
namespace {

// Offsets in the packet (RFC 4330, section 4).
constexpr int OriginateOffset = 24;
constexpr int TransmitOffset = 40;

constexpr std::uint8_t RequestHeader = (3 << 3) | 3; // LI 0, version 3, mode 3 (client)
constexpr int ServerMode = 4;
constexpr int LeapUnsynchronised = 3;

std::uint32_t ReadBigEndian32(const SntpPacket& packet, int offset) {
    const auto at = static_cast<std::size_t>(offset);
    return (std::uint32_t{packet[at]} << 24) | (std::uint32_t{packet[at + 1]} << 16) |
           (std::uint32_t{packet[at + 2]} << 8) | std::uint32_t{packet[at + 3]};
}

void WriteBigEndian32(SntpPacket& packet, int offset, std::uint32_t value) {
    const auto at = static_cast<std::size_t>(offset);
    packet[at] = static_cast<std::uint8_t>(value >> 24);
    packet[at + 1] = static_cast<std::uint8_t>(value >> 16);
    packet[at + 2] = static_cast<std::uint8_t>(value >> 8);
    packet[at + 3] = static_cast<std::uint8_t>(value);
}

} // namespace

SntpPacket BuildSntpRequest() {
    SntpPacket packet{};
    packet[0] = RequestHeader;

    // Local wall-clock seconds plus the bias give UTC; counted from 1900, modulo 2^32.
    const std::int32_t bias = CurrentZoneBias();
    const runtime::TimeValue local = runtime::LocalNow();
    const std::uint32_t seconds =
        static_cast<std::uint32_t>(local) + static_cast<std::uint32_t>(bias) * 60u + NtpEpochOffset;
    WriteBigEndian32(packet, TransmitOffset, seconds);

    // The fraction carries the UTC milliseconds as 2^21 units each (not 2^32 / 1000).
    platform::SystemTime utc{};
    platform::system_time_ops.get_system_time(&utc);
    WriteBigEndian32(packet, TransmitOffset + 4,
                     static_cast<std::uint32_t>(utc.milliseconds) << 21);
    return packet;
}

bool IsValidSntpReply(const SntpPacket& request, const SntpPacket& reply, std::int32_t length) {
    // Test 1: the whole header; a longer datagram is read only up to it.
    if (length < SntpPacketSize) {
        return false;
    }
    // Test 2: a server's answer, not an echo of a client request or a broadcast.
    if ((reply[0] & 0x07) != ServerMode) {
        return false;
    }
    // Test 3: the server's clock is synchronised.
    if ((reply[0] >> 6) == LeapUnsynchronised) {
        return false;
    }
    // Test 4: stratum 0 is a kiss-o'-death message, 16 and above unsynchronised.
    if (reply[1] < 1 || reply[1] > 15) {
        return false;
    }
    // Test 5: a time is there at all.
    if (ReadBigEndian32(reply, TransmitOffset) == 0 &&
        ReadBigEndian32(reply, TransmitOffset + 4) == 0) {
        return false;
    }
    // Test 6: it answers our request, which it must echo as its Originate Timestamp.
    for (int i = 0; i < 8; ++i) {
        if (reply[static_cast<std::size_t>(OriginateOffset + i)] !=
            request[static_cast<std::size_t>(TransmitOffset + i)]) {
            return false;
        }
    }
    return true;
}

runtime::TimeValue NtpTimestampToTimeValue(std::uint32_t seconds, std::uint32_t fraction) {
    // Half a second or more rounds up; adding 2^32 - 2208988800 subtracts the epoch offset
    // modulo 2^32, which also carries NTP era 1 (from 2036-02-07) onto the right values.
    const std::uint32_t carry = fraction >= 0x80000000u ? 1u : 0u;
    return static_cast<runtime::TimeValue>(seconds + carry - NtpEpochOffset);
}

runtime::TimeValue SntpQuery(const char* host, std::int32_t timeout_ms,
                             const runtime::Cancellation* cancel) {
    const runtime::ConnectionHandle conn =
        runtime::OpenClientConnection(host, NtpPort, runtime::ProtocolUdp, -1, cancel);
    if (conn == nullptr) {
        return 0;
    }
    const SntpPacket request = BuildSntpRequest();
    // A failed send shows as silence until the deadline.
    runtime::SendToConnection(conn, request.data(), SntpPacketSize);

    const std::int32_t start = runtime::ElapsedMs();
    SntpPacket reply{};
    bool answered = false;
    for (;;) {
        // The deadline uses the time read before this poll, so a reply in the last cycle
        // still counts.
        const std::int32_t now = runtime::ElapsedMs();
        if (runtime::PollConnectionEvent(conn) != runtime::EventNone) {
            const std::int32_t length =
                runtime::ReceiveFromConnection(conn, reply.data(), SntpPacketSize);
            // A valid reply ends the call at once; anything else (a stray or damaged
            // datagram) is dropped and the wait goes on.
            answered = IsValidSntpReply(request, reply, length);
            if (answered) {
                break;
            }
        }
        // Until the next datagram arrives, for a millisecond at most.
        runtime::WaitConnectionEvent(conn, 1);
        if (runtime::DeadlinePassed(start, now, timeout_ms) || runtime::CancelRequested(cancel)) {
            break;
        }
    }
    runtime::CloseClientConnection(conn);
    if (!answered) {
        return 0;
    }
    // A time the 32-bit value cannot hold (before 1970, after 2038-01-19 03:14:07) comes out
    // negative: no time rather than a table without calendar fields.
    const runtime::TimeValue t = NtpTimestampToTimeValue(
        ReadBigEndian32(reply, TransmitOffset), ReadBigEndian32(reply, TransmitOffset + 4));
    return t < 0 ? 0 : t;
}

void ReadRetrieveNtpArguments(lua_State* L, RetrieveNtpJob* job) {
    CopyTextArgument(L, 1, job->server);
    job->timeout_ms = OptInt32Argument(L, 2, DefaultNtpTimeoutMs);
}

void RunRetrieveNtp(RetrieveNtpJob* job, const runtime::Cancellation* cancel) {
    job->time = SntpQuery(job->server, job->timeout_ms, cancel);
}

int PushRetrieveNtpResult(lua_State* L, const RetrieveNtpJob& job) {
    if (job.time == 0)
        lua_pushnil(L);
    else
        PushTimeResult(L, job.time);
    return 1;
}

int RetrieveNTPTime(lua_State* L) {
    RetrieveNtpJob job;
    ReadRetrieveNtpArguments(L, &job);
    RunRetrieveNtp(&job, nullptr);
    return PushRetrieveNtpResult(L, job);
}

} // namespace timelib
