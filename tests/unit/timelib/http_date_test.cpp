// The Date header's three forms and what is not a date; the URLs QueryHTTPS accepts.
#include "timelib/http_date.h"
#include "timelib/query_https.h"

#include <cstring>
#include <gtest/gtest.h>

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
        {"Mon, 07 Feb 2106 06:28:16 GMT", 4294967296},     // past 32 bits
        {"Wednesday, 01-Jan-76 00:00:00 GMT", 3345062400}, // 2076: within 50 years of 2026
        {"Wednesday, 01-Jan-77 00:00:00 GMT", 220924800},  // 1977: 2077 is too far ahead
        {"Sun, 06 Nov 1994 08:49:37 UTC", -1},
        {"Sun, 6 Nov 1994 08:49:37 GMT", -1},
        {"sun, 06 Nov 1994 08:49:37 GMT", -1},
        {"Sun, 06 nov 1994 08:49:37 GMT", -1},
        {"Sun, 06 Nov 1994 08:49:37 GMT ", -1},
        {"Sun, 31 Nov 1994 08:49:37 GMT", -1},
        {"Sun, 29 Feb 2100 08:49:37 GMT", -1},
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

} // namespace
