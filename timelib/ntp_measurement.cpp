#include "timelib/ntp_measurement.h"

#include "platform/socket.h"

#include <cmath>
#include <cstring>

namespace timelib {
namespace {

// Offsets in the packet (RFC 5905, figure 8).
constexpr int StratumOffset = 1;
constexpr int PrecisionOffset = 3;
constexpr int RootDelayOffset = 4;
constexpr int RootDispersionOffset = 8;
constexpr int ReferenceIdOffset = 12;
constexpr int OriginateOffset = 24;
constexpr int ReceiveOffset = 32;
constexpr int TransmitOffset = 40;

constexpr std::uint8_t RequestHeader = (4 << 3) | 3; // leap 0, version 4, mode 3 (client)
constexpr int ServerMode = 4;
constexpr int LeapUnsynchronised = 3;
constexpr int MaxStratum = 15;

constexpr std::int64_t NsPerSecond = 1000000000;
// Seconds from 1900-01-01 (the NTP epoch) to 1970-01-01.
constexpr std::int64_t NtpEpochOffset = 2208988800;

std::uint32_t Read32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

NtpTimestamp Read64(const std::uint8_t* p) {
    return (NtpTimestamp{Read32(p)} << 32) | Read32(p + 4);
}

// A 16.16 fixed-point field (root delay, root dispersion) in seconds.
double Short(const std::uint8_t* p) {
    return static_cast<double>(Read32(p)) / 65536.0;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// A kiss code is printable ASCII, padded with zeros; empty is no code.
bool ReadKissCode(const std::uint8_t* p, char (&code)[5]) {
    int length = 0;
    while (length < 4 && p[length] != 0) {
        if (p[length] < 0x20 || p[length] > 0x7E)
            return false;
        code[length] = static_cast<char>(p[length]);
        ++length;
    }
    for (int i = length; i < 4; ++i) {
        if (p[i] != 0)
            return false;
    }
    code[length] = '\0';
    return length > 0;
}

void FormatReferenceId(const std::uint8_t* p, std::int32_t stratum, bool over_ipv4,
                       char (&text)[16]) {
    if (stratum == 1) {
        // A source name such as "GPS" or "PPS", zero-padded; what is not printable is left out.
        int length = 0;
        for (int i = 0; i < 4 && p[i] != 0; ++i) {
            if (p[i] >= 0x20 && p[i] <= 0x7E)
                text[length++] = static_cast<char>(p[i]);
        }
        text[length] = '\0';
    } else if (over_ipv4) {
        // The upstream's IPv4 address, dotted.
        platform::NetAddress upstream{4, {p[0], p[1], p[2], p[3]}, 0, 0};
        char dotted[platform::AddressTextBytes];
        platform::AddressToText(upstream, dotted);
        std::memcpy(text, dotted, sizeof text - 1);
        text[sizeof text - 1] = '\0';
    } else {
        // Over IPv6 the field is the first bytes of a hash of the upstream's address.
        static const char Hex[] = "0123456789ABCDEF";
        for (int i = 0; i < 8; ++i)
            text[i] = Hex[(p[i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0xF];
        text[8] = '\0';
    }
}

} // namespace

NtpPacket BuildNtpRequest(NtpTimestamp nonce) {
    NtpPacket packet{};
    packet[0] = RequestHeader;
    for (int i = 0; i < 8; ++i)
        packet[static_cast<std::size_t>(TransmitOffset + i)] =
            static_cast<std::uint8_t>(nonce >> (56 - 8 * i));
    return packet;
}

ReplyCheck CheckNtpReply(NtpTimestamp nonce, const std::uint8_t* reply, std::int32_t length) {
    ReplyCheck check{ReplyVerdict::Ignore, {}};
    // Test 1: the whole header; extension fields after it are not read.
    if (reply == nullptr || length < NtpPacketBytes)
        return check;
    // Test 2: a server's answer, not a client's request or a broadcast.
    if ((reply[0] & 0x07) != ServerMode)
        return check;
    // Test 3: a version this client knows.
    const int version = (reply[0] >> 3) & 0x07;
    if (version < 1 || version > 4)
        return check;
    // Test 4: it answers our request: the nonce comes back as the Originate Timestamp. Only
    // a sender that saw the request can know it, so from here on the reply is authentic.
    if (Read64(reply + OriginateOffset) != nonce)
        return check;
    // Test 5: stratum 0 is a kiss-o'-death; its code tells why (RFC 5905, section 7.4).
    const int stratum = reply[StratumOffset];
    if (stratum == 0) {
        check.verdict = ReadKissCode(reply + ReferenceIdOffset, check.kiss_code)
                            ? ReplyVerdict::Kiss
                            : ReplyVerdict::Unsynchronised;
        return check;
    }
    // Test 6: the server says its clock is not synchronised.
    if ((reply[0] >> 6) == LeapUnsynchronised || stratum > MaxStratum) {
        check.verdict = ReplyVerdict::Unsynchronised;
        return check;
    }
    // Test 7: a time is there at all, and the server did not send before it received.
    const NtpTimestamp receive = Read64(reply + ReceiveOffset);
    const NtpTimestamp transmit = Read64(reply + TransmitOffset);
    if (transmit == 0 || static_cast<std::int64_t>(transmit - receive) < 0)
        return check;
    check.verdict = ReplyVerdict::Answer;
    return check;
}

NtpTimestamp NtpTimestampOf(std::int64_t unix_ns) {
    const std::int64_t seconds = FloorDiv(unix_ns, NsPerSecond);
    const auto rest = static_cast<std::uint64_t>(unix_ns - seconds * NsPerSecond);
    // Modulo 2^64 the era drops out by itself.
    const std::uint64_t ntp_seconds = static_cast<std::uint64_t>(seconds + NtpEpochOffset);
    return (ntp_seconds << 32) | ((rest << 32) / NsPerSecond);
}

std::int64_t NtpTimestampNear(NtpTimestamp timestamp, std::int64_t reference_ns) {
    // The difference to the reference, read as a signed 32.32 number of seconds, picks the
    // era that puts the timestamp within 68 years of the reference.
    const auto difference = static_cast<std::int64_t>(timestamp - NtpTimestampOf(reference_ns));
    const std::int64_t seconds = difference >> 32; // floor: the fraction stays positive
    const auto fraction = static_cast<std::uint64_t>(difference) & 0xFFFFFFFFu;
    const auto fraction_ns = static_cast<std::int64_t>((fraction * NsPerSecond) >> 32);
    // Both conversions cut below a nanosecond; the result is that close.
    return reference_ns + seconds * NsPerSecond + fraction_ns;
}

NtpMeasurement MeasureNtpReply(const std::uint8_t* reply, std::int64_t t1_ns, std::int64_t t4_ns,
                               bool over_ipv4, double local_precision) {
    NtpMeasurement m{};
    // T2 (received) and T3 (sent) on the server's clock, in the era nearest ours.
    const std::int64_t t2_ns = NtpTimestampNear(Read64(reply + ReceiveOffset), t1_ns);
    const std::int64_t t3_ns = NtpTimestampNear(Read64(reply + TransmitOffset), t1_ns);
    // RFC 5905, section 8: offset ((T2 - T1) + (T3 - T4)) / 2, delay (T4 - T1) - (T3 - T2).
    // Each difference stays within 2^31 s, so neither the sum nor the ns overflow.
    const std::int64_t offset_ns = ((t2_ns - t1_ns) + (t3_ns - t4_ns)) / 2;
    const std::int64_t delay_ns = (t4_ns - t1_ns) - (t3_ns - t2_ns);
    m.server_ns = t4_ns + offset_ns;
    m.offset = static_cast<double>(offset_ns) / NsPerSecond;
    m.delay = delay_ns > 0 ? static_cast<double>(delay_ns) / NsPerSecond : 0.0;
    m.precision = std::ldexp(1.0, static_cast<std::int8_t>(reply[PrecisionOffset]));
    m.root_delay = Short(reply + RootDelayOffset);
    m.root_dispersion = Short(reply + RootDispersionOffset);
    // RFC 5905, section 10: half the round trip to the reference clock, the dispersion, and
    // the precision of the two clocks that read the timestamps.
    m.root_distance =
        (m.root_delay + m.delay) / 2 + m.root_dispersion + m.precision + local_precision;
    m.stratum = reply[StratumOffset];
    m.leap = reply[0] >> 6;
    m.version = (reply[0] >> 3) & 0x07;
    FormatReferenceId(reply + ReferenceIdOffset, m.stratum, over_ipv4, m.reference_id);
    return m;
}

} // namespace timelib
