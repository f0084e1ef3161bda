// NTPv4 client exchanges as plain data (RFC 5905): the request that carries a random nonce,
// the checks a reply must pass, and the measurement taken from a reply with the local send
// and receipt times. No sockets and no Lua here; query_ntp and the clock selection use it.
#pragma once

#include <array>
#include <cstdint>

namespace timelib {

constexpr int NtpPacketBytes = 48;

using NtpPacket = std::array<std::uint8_t, NtpPacketBytes>;

// An NTP timestamp: seconds since 1900 in the high 32 bits, the binary fraction in the low
// ones, without its era.
using NtpTimestamp = std::uint64_t;

// A larger root distance means the server does not know the time well enough to be used.
constexpr double MaxRootDistance = 1.5;

// A client request (leap 0, version 4, mode 3) whose Transmit Timestamp is nonce; every other
// field is zero, so it tells nothing about this machine.
NtpPacket BuildNtpRequest(NtpTimestamp nonce);

enum class ReplyVerdict {
    Ignore,         // not an answer to our request, or no time in it: keep waiting
    Kiss,           // the server asks us to stop (stratum 0 with a code): end now
    Unsynchronised, // an answer, but the server has no good time: end now
    Answer,         // a time to measure with
};

struct ReplyCheck {
    ReplyVerdict verdict;
    char kiss_code[5]; // for Kiss: the code, such as "RATE"
};

// Checks the first length bytes of a datagram from the server against the request's nonce.
ReplyCheck CheckNtpReply(NtpTimestamp nonce, const std::uint8_t* reply, std::int32_t length);

// What one reply says, with the local times of the exchange.
struct NtpMeasurement {
    std::int64_t server_ns; // the server's time when the reply arrived, ns since 1970 (UTC)
    double offset;          // seconds to add to this machine's clock to get the server's
    double delay;           // round trip without the server's own time, seconds, >= 0
    double precision;       // the server clock's precision, seconds
    double root_delay;      // seconds
    double root_dispersion; // seconds
    double root_distance;   // (root_delay + delay) / 2 + root_dispersion + both precisions
    std::int32_t stratum;
    std::int32_t leap;     // 0, 1 (a second added at the day's end) or 2 (one removed)
    std::int32_t version;  //
    char reference_id[16]; // four characters, a dotted IPv4 address, or eight hex digits
};

// The measurement from a reply that CheckNtpReply answered with Answer. t1_ns: this machine's
// clock when the request went out; t4_ns: when the reply arrived (both ns since 1970). The
// server's timestamps are read in the era nearest t1_ns. over_ipv4 picks the form of the
// reference ID of a stratum 2+ server. local_precision: the resolution of the clock that read
// t1_ns, in seconds; like the server's precision, it widens the root distance.
NtpMeasurement MeasureNtpReply(const std::uint8_t* reply, std::int64_t t1_ns, std::int64_t t4_ns,
                               bool over_ipv4, double local_precision);

// timestamp read as the time, in ns since 1970, nearest to reference_ns (within 2^31 s):
// this is how a timestamp without an era finds it.
std::int64_t NtpTimestampNear(NtpTimestamp timestamp, std::int64_t reference_ns);

// The NTP timestamp of a time in ns since 1970.
NtpTimestamp NtpTimestampOf(std::int64_t unix_ns);

} // namespace timelib
