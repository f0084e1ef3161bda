// The Date header's three forms and what is not a date, the Age header, the offset a Date
// gives against an exchange; the URLs QueryHTTPS accepts; each header read once, and the
// server reached, from a web server on loopback.
#include "tests/support/loopback_peer.h"
#include "timelib/http_date.h"
#include "timelib/query_https.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

TEST(ParseHttpDate, TheThreeFormsAndNothingElse) {
    const struct {
        const char* text;
        std::int64_t seconds; // -1: not a date
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"Tue, 29 Feb 2028 23:59:60 GMT", 1835481600},     // a leap day, a leap second
        {"Sun, 07 Feb 2106 06:28:16 GMT", -1},             // past 32 bits: 2106
        {"Wednesday, 01-Jan-76 00:00:00 GMT", 3345062400}, // 2076: within 50 years of 2026
        {"Saturday, 01-Jan-77 00:00:00 GMT", 220924800},   // 1977: 2077 is too far ahead
        // The years: 1970 to 2105, and no further whatever the digits say.
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Thu, 31 Dec 2105 23:59:59 GMT", 4291747199},
        {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
        {"Fri, 31 Dec 9999 23:59:59 GMT", -1},
        {"Fri Dec 31 23:59:59 9999", -1},
        // Days that do not exist, each named with the weekday of the day it would roll over
        // to (day 00 of November is 31 October), so that only the day refuses it.
        {"Mon, 00 Nov 1994 08:49:37 GMT", -1},
        {"Sat, 29 Feb 2025 12:00:00 GMT", -1},
        {"Fri, 30 Feb 2024 12:00:00 GMT", -1},
        {"Thu, 31 Nov 1994 08:49:37 GMT", -1},
        {"Mon, 29 Feb 2100 08:49:37 GMT", -1},
        {"Fri, 28 Feb 2025 12:00:00 GMT", 1740744000},
        // The weekday must be the date's, in every form.
        {"Mon, 06 Nov 1994 08:49:37 GMT", -1},
        {"Monday, 06-Nov-94 08:49:37 GMT", -1},
        {"Mon Nov  6 08:49:37 1994", -1},
        // Second 60 only at 23:59:60.
        {"Sat, 31 Dec 2016 23:59:60 GMT", 1483228800},
        {"Sat, 31 Dec 2016 12:00:60 GMT", -1},
        {"Sat, 31 Dec 2016 23:58:60 GMT", -1},
        {"Sat, 31 Dec 2016 22:59:60 GMT", -1},
        {"Sat, 31 Dec 2016 23:59:61 GMT", -1},
        {"Sun, 06 Nov 1994 08:49:37 UTC", -1},
        {"Sun, 6 Nov 1994 08:49:37 GMT", -1},
        {"sun, 06 Nov 1994 08:49:37 GMT", -1},
        {"Sun, 06 nov 1994 08:49:37 GMT", -1},
        {"Sun, 06 Nov 1994 08:49:37 GMT ", -1},
        {"Sun, 06 Nov 1994 24:00:00 GMT", -1},
        {"Sun Nov 6 08:49:37 1994", -1},
        {"Sun, 06 Nov 1994 08:49", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        std::int64_t seconds = -1;
        const bool ok = timelib::ParseHttpDate(c.text, std::strlen(c.text), 2026, &seconds);
        EXPECT_EQ(ok, c.seconds >= 0) << c.text;
        if (ok) {
            EXPECT_EQ(seconds, c.seconds) << c.text;
        }
    }
}

TEST(ParseHttpAge, WholeSecondsThatFit) {
    const struct {
        const char* text;
        std::int64_t seconds; // -1: refused
    } cases[] = {
        {"0", 0},
        {"120", 120},
        {"0000000000000000000000000000000000000120", 120},
        {"2147483647", 2147483647},
        {"2147483648", -1},
        {"99999999999999999999999999", -1},
        {"", -1},
        {"-1", -1},
        {"+1", -1},
        {"1.5", -1},
        {"12a", -1},
        {"120, 5", -1},
        {"1...", -1},
    };
    for (const auto& c : cases) {
        std::int64_t seconds = -1;
        const bool ok = timelib::ParseHttpAge(c.text, std::strlen(c.text), &seconds);
        EXPECT_EQ(ok, c.seconds >= 0) << c.text;
        if (ok) {
            EXPECT_EQ(seconds, c.seconds) << c.text;
        }
    }
}

// Fixed instants, so that each part of the rule (the half second, the Age, the wider bound
// for an Age) moves a result whatever second the test runs in.
TEST(MeasureHttpDate, TheMiddleOfTheSecondAgainstTheMiddleOfTheExchange) {
    constexpr std::int64_t S = 1000000000;
    const struct {
        std::int64_t date_seconds;
        std::int64_t age_seconds;
        std::int64_t sent_ns;
        std::int64_t received_ns;
        double offset;
        double delay;
        double root_distance;
        std::int64_t server_ns;
    } cases[] = {
        // Date 1000 (its middle 1000.5) against the exchange's middle 1000.1.
        {1000, -1, 1000 * S, 1000 * S + S / 5, 0.4, 0.2, 0.6, 1000 * S + 6 * S / 10},
        // A Date a second behind an exchange that spans a second's turn.
        {999, -1, 1000 * S + 9 * S / 10, 1001 * S + S / 10, -1.5, 0.2, 0.6, 999 * S + 6 * S / 10},
        // A cache held the answer 120 s: the same time as above, a second less sure.
        {880, 120, 1000 * S, 1000 * S + S / 5, 0.4, 0.2, 1.6, 1000 * S + 6 * S / 10},
        {1000, 0, 1000 * S, 1000 * S + S / 5, 0.4, 0.2, 1.6, 1000 * S + 6 * S / 10},
        // The largest Date and Age: nothing overflows.
        {4291747199, 2147483647, 1800000000 * S, 1800000000 * S, 4639230846.5, 0, 1.5,
         6439230846 * S + S / 2},
    };
    for (const auto& c : cases) {
        const timelib::NtpMeasurement m =
            timelib::MeasureHttpDate(c.date_seconds, c.age_seconds, c.sent_ns, c.received_ns);
        EXPECT_NEAR(m.offset, c.offset, 1e-6) << c.date_seconds;
        EXPECT_NEAR(m.delay, c.delay, 1e-9) << c.date_seconds;
        EXPECT_NEAR(m.root_distance, c.root_distance, 1e-9) << c.date_seconds;
        EXPECT_EQ(m.server_ns, c.server_ns) << c.date_seconds;
        EXPECT_EQ(m.precision, 1) << c.date_seconds;
    }
}

TEST(NormaliseHttpsUrl, BareHostsBecomeHttpsAndOtherSchemesAreRefused) {
    const struct {
        const char* text;
        const char* url; // null: refused
    } cases[] = {
        {"example.net", "https://example.net/"},
        {"example.net:8443/time", "https://example.net:8443/time"},
        {"https://example.net", "https://example.net/"},
        {"http://192.0.2.1:8080/x?y", "http://192.0.2.1:8080/x?y"},
        {"https://[2001:db8::1]:443/", "https://[2001:db8::1]:443/"},
        {"ftp://example.net/", nullptr},
        {"HTTPS://example.net/", nullptr},
        {"https://", nullptr},
        {"https://ex ample.net/", nullptr},
        {"https://example.net:0/", nullptr},
        {"https://example.net:65536/", nullptr},
        {"https://example.net/a b", nullptr},
        {"https://[::1/", nullptr},
    };
    for (const auto& c : cases) {
        char url[timelib::UrlBytes];
        const bool ok = timelib::NormaliseHttpsUrl(c.text, url);
        EXPECT_EQ(ok, c.url != nullptr) << c.text;
        if (ok && c.url != nullptr) {
            EXPECT_STREQ(url, c.url) << c.text;
        }
    }
}

// Two lines of Date or Age say two things, whatever either holds: neither is taken.
TEST(QueryHttpsSource, TakesEachHeaderOnceAndTheServerReached) {
    const std::string date = "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n";
    const struct {
        std::string headers;
        bool ok;
    } cases[] = {
        {date + "Age: 5\r\n", true},
        {date + date, false},
        {"Date:\r\n" + date, false},
        {date + "Date: \r\n", false},
        {date + "Age: 5\r\nAge: 5\r\n", false},
    };
    ASSERT_TRUE(platform::SocketStartup());
    for (const auto& c : cases) {
        test_support::LoopbackTcpListener server;
        const std::string answer = "HTTP/1.1 200 OK\r\n" + c.headers + "Connection: close\r\n\r\n";
        std::thread serve([&] { server.ServeOne({answer.begin(), answer.end()}, 3000, 10); });
        const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
        const timelib::SourceOutcome o = timelib::QueryHttpsSource(url.c_str(), 3000);
        serve.join();
        EXPECT_EQ(o.ok, c.ok) << c.headers << o.message;
        EXPECT_EQ(std::string(o.message).substr(0, 5), c.ok ? "" : "http:") << c.headers;
        EXPECT_STREQ(o.address, "127.0.0.1");
        EXPECT_EQ(o.port, server.Port());
    }
}

} // namespace
