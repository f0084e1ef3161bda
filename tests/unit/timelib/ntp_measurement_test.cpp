// The NTPv4 measurement as plain data: which replies count, how timestamps find their era,
// what offset and delay come out, and how server texts split into host and port.
#include "runtime/calendar.h"
#include "timelib/ntp_measurement.h"
#include "timelib/server_address.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using timelib::NtpPacket;
using timelib::ReplyVerdict;

constexpr std::int64_t Ns = 1000000000;
constexpr timelib::NtpTimestamp Nonce = 0x0123456789ABCDEFu;

void Put64(NtpPacket& p, int at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

// A valid answer to Nonce: version 4, stratum 2, received and sent at the given times.
NtpPacket Reply(std::int64_t t2_ns, std::int64_t t3_ns) {
    NtpPacket p{};
    p[0] = (4 << 3) | 4;
    p[1] = 2;
    p[3] = 0xEC;  // precision 2^-20
    p[7] = 0x80;  // root delay 1/512 s
    p[11] = 0x40; // root dispersion 1/1024 s
    p[12] = 192, p[13] = 0, p[14] = 2, p[15] = 1;
    Put64(p, 24, Nonce);
    Put64(p, 32, timelib::NtpTimestampOf(t2_ns));
    Put64(p, 40, timelib::NtpTimestampOf(t3_ns));
    return p;
}

TEST(CheckNtpReply, OnlyAnswersToTheNonceWithATimeCount) {
    const std::int64_t now = 1796760000 * Ns;
    const struct {
        const char* what;
        void (*change)(NtpPacket&);
        std::int32_t length;
        ReplyVerdict verdict;
    } cases[] = {
        {"valid", [](NtpPacket&) {}, 48, ReplyVerdict::Answer},
        {"with extension bytes", [](NtpPacket&) {}, 68, ReplyVerdict::Answer},
        {"version 1", [](NtpPacket& p) { p[0] = (1 << 3) | 4; }, 48, ReplyVerdict::Answer},
        {"47 bytes", [](NtpPacket&) {}, 47, ReplyVerdict::Ignore},
        {"client mode", [](NtpPacket& p) { p[0] = (4 << 3) | 3; }, 48, ReplyVerdict::Ignore},
        {"broadcast mode", [](NtpPacket& p) { p[0] = (4 << 3) | 5; }, 48, ReplyVerdict::Ignore},
        {"version 0", [](NtpPacket& p) { p[0] = 4; }, 48, ReplyVerdict::Ignore},
        {"version 5", [](NtpPacket& p) { p[0] = (5 << 3) | 4; }, 48, ReplyVerdict::Ignore},
        {"other origin", [](NtpPacket& p) { p[31] ^= 1; }, 48, ReplyVerdict::Ignore},
        {"zero transmit", [](NtpPacket& p) { Put64(p, 40, 0); }, 48, ReplyVerdict::Ignore},
        {"receive after transmit", [](NtpPacket& p) { p[32] = 0xFF; }, 48, ReplyVerdict::Ignore},
        {"kiss with a forged origin", [](NtpPacket& p) { p[1] = 0, p[24] = 0; }, 48,
         ReplyVerdict::Ignore},
        {"leap 3", [](NtpPacket& p) { p[0] |= 0xC0; }, 48, ReplyVerdict::Unsynchronised},
        {"stratum 16", [](NtpPacket& p) { p[1] = 16; }, 48, ReplyVerdict::Unsynchronised},
        {"stratum 0, no code", [](NtpPacket& p) { p[1] = 0, p[12] = p[13] = p[14] = p[15] = 0; },
         48, ReplyVerdict::Unsynchronised},
        {"stratum 0, zero transmit",
         [](NtpPacket& p) {
             p[1] = 0, p[12] = 'D', p[13] = 'E', p[14] = 'N', p[15] = 'Y', Put64(p, 40, 0);
         },
         48, ReplyVerdict::Kiss},
    };
    for (const auto& c : cases) {
        NtpPacket p = Reply(now, now + Ns / 1000);
        c.change(p);
        std::uint8_t bytes[68] = {};
        std::copy(p.begin(), p.end(), bytes);
        const timelib::ReplyCheck check = timelib::CheckNtpReply(Nonce, bytes, c.length);
        EXPECT_EQ(check.verdict, c.verdict) << c.what;
        if (c.verdict == ReplyVerdict::Kiss) {
            EXPECT_STREQ(check.kiss_code, "DENY");
        }
    }
}

TEST(NtpTimestampNear, FindsTheEraAndTheCalendarFollows) {
    const struct {
        const char* reference; // the local clock, UTC
        std::int64_t unix_seconds;
        const char* expected; // the server's time as UTC fields
    } cases[] = {
        {"2026", 1796760000, "2026-12-08 20:00:00 2 342"},
        {"2026", 2214129600, "2040-02-29 12:00:00 3 60"}, // era 1
        {"2036", 2085978495, "2036-02-07 06:28:15 4 38"}, // the last second of era 0
        {"2036", 2085978496, "2036-02-07 06:28:16 4 38"}, // the first of era 1
        {"2100", 4107542400, "2100-03-01 00:00:00 1 60"}, // no leap day in 2100
        {"2106", 4294967295, "2106-02-07 06:28:15 0 38"}, // beyond 32-bit unsigned
        {"1980", -1, "1969-12-31 23:59:59 3 365"},        // before 1970
    };
    for (const auto& c : cases) {
        const std::int64_t reference = (c.unix_seconds + 86400 * 200) * Ns + 123;
        const std::int64_t ns = c.unix_seconds * Ns + Ns / 2;
        const std::int64_t found =
            timelib::NtpTimestampNear(timelib::NtpTimestampOf(ns), reference);
        EXPECT_NEAR(static_cast<double>(found - ns), 0.0, 2.0) << c.expected;
        const runtime::CivilTime f = runtime::CivilFromSeconds(c.unix_seconds);
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %d %d", f.year, f.month,
                      f.day, f.hour, f.minute, f.second, f.weekday, f.yearday);
        EXPECT_EQ(std::string(text), c.expected) << c.reference;
    }
}

TEST(MeasureNtpReply, OffsetDelayAndHealth) {
    // Sent at T1, back at T1 + 10 ms; the server, 2.5 s ahead, held it 2 ms (T2 = T1 + 2.504 s,
    // T3 = T1 + 2.506 s): 8 ms on the way, 4 ms each way.
    const std::int64_t t1 = 1796760000 * Ns;
    NtpPacket p = Reply(t1 + 2504 * Ns / 1000, t1 + 2506 * Ns / 1000);
    timelib::NtpMeasurement m =
        timelib::MeasureNtpReply(p.data(), t1, t1 + 10 * Ns / 1000, true, 1e-6);
    EXPECT_NEAR(m.offset, 2.5, 1e-6);
    EXPECT_NEAR(m.delay, 0.008, 1e-6);
    EXPECT_NEAR(m.precision, 1.0 / (1 << 20), 1e-12);
    // Half of root delay and delay, the dispersion, and both clocks' precision.
    EXPECT_NEAR(m.root_distance, 0.004 + 1.0 / 1024 + 1.0 / 1024 + 1.0 / (1 << 20) + 1e-6, 1e-9);
    EXPECT_NEAR(static_cast<double>(m.server_ns - t1), 2.510e9, 10.0); // T4 + offset
    EXPECT_STREQ(m.reference_id, "192.0.2.1");
    EXPECT_STREQ(timelib::MeasureNtpReply(p.data(), t1, t1, false, 0).reference_id, "C0000201");
    EXPECT_EQ(timelib::MeasureNtpReply(p.data(), t1, t1, false, 0).delay, 0.0); // never below 0
    p[1] = 1, p[12] = 'G', p[13] = 'P', p[14] = 'S', p[15] = 0;
    EXPECT_STREQ(timelib::MeasureNtpReply(p.data(), t1, t1, true, 0).reference_id, "GPS");
}

TEST(ParseServerAddress, HostAndPort) {
    const struct {
        const char* text;
        const char* host; // null: refused
        int port;
    } cases[] = {
        {"time.example.net", "time.example.net", 123},
        {"192.0.2.10:1123", "192.0.2.10", 1123},
        {"[2001:db8::1]:1123", "2001:db8::1", 1123},
        {"::1", "::1", 123},
        {"[::1]", "::1", 123},
        {"h:65535", "h", 65535},
        {"[::1", nullptr, 0},
        {"[::1]1", nullptr, 0},
        {"[]:1", nullptr, 0},
        {"h:", nullptr, 0},
        {"h:0", nullptr, 0},
        {"h:65536", nullptr, 0},
        {"h:+1", nullptr, 0},
        {":1", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const auto& c : cases) {
        timelib::ServerAddress a{};
        const bool ok = timelib::ParseServerAddress(c.text, 123, &a);
        EXPECT_EQ(ok, c.host != nullptr) << c.text;
        if (ok && c.host != nullptr) {
            EXPECT_STREQ(a.host, c.host) << c.text;
            EXPECT_EQ(a.port, c.port) << c.text;
        }
    }
    timelib::ServerAddress a{};
    EXPECT_FALSE(timelib::ParseServerAddress(std::string(256, 'a').c_str(), 123, &a));
}

} // namespace
