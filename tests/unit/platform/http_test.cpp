// How both HTTP stacks read an answer: a header's lines joined and counted, a value too long cut
// so that it can never read as a shorter valid one, the final answer's Date and Age alone, the
// server reached; a cancel that ends a held request. On POSIX also: the connection kept from
// programs started meanwhile, and libcurl's microseconds taken before its older seconds.
#include "platform/http.h"
#include "tests/support/loopback_peer.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include "platform/posix/http_testing.h"
#include "platform/precise_time.h"
#include "tests/support/scoped_ops.h"
#include "tests/support/test_system.h"
#endif

namespace {

std::string UrlOf(const test_support::LoopbackTcpListener& server) {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
}

// Asks server for its Date while it serves answer once, after holding it hold_ms.
platform::HttpExchange Ask(test_support::LoopbackTcpListener& server, const std::string& answer,
                           std::int32_t hold_ms) {
    std::thread serve([&] { server.ServeOne({answer.begin(), answer.end()}, 3000, hold_ms); });
    platform::HttpExchange out;
    platform::HttpDateRequest(UrlOf(server).c_str(), true, 3000, &out);
    serve.join();
    return out;
}

TEST(AddHeaderValue, JoinsLinesAndMarksWhatIsCut) {
    const struct {
        const char* before;
        std::int32_t lines; // lines stored before
        const char* value;
        const char* after; // in a field of 12 bytes
    } cases[] = {
        {"", 0, "120", "120"},
        {"120", 1, "5", "120, 5"},
        {"", 0, "12345678901", "12345678901"},
        // A number of leading zeros that does not fit would otherwise be read as 0.
        {"", 0, "000000000000120", "00000000..."},
        {"1234567", 1, "890", "1234567,..."},
        {"", 0, "", ""},
        // After an empty line the value no longer stands alone.
        {"", 1, "120", ", 120"},
    };
    for (const auto& c : cases) {
        char field[12];
        std::strcpy(field, c.before);
        std::int32_t lines = c.lines;
        platform::AddHeaderValue(field, sizeof field, &lines, c.value, std::strlen(c.value));
        EXPECT_STREQ(field, c.after) << c.before << " + " << c.value;
        EXPECT_EQ(lines, c.lines + 1) << c.before << " + " << c.value;
    }
}

TEST(HttpDateRequest, ReadsTheFinalAnswersDateAndAgeAndWhoAnswered) {
    const std::string date = "Date: Mon, 07 Nov 1994 08:49:37 GMT\r\n";
    const std::string interim = "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\nAge: 5\r\n\r\n";
    const struct {
        std::string answer;
        const char* date; // "": no Date line
        std::int32_t age_lines;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n" + date + "Age: 5\r\n", "Mon, 07 Nov 1994 08:49:37 GMT", 1},
    // WinHTTP keeps interim answers to itself (wine's refuses a 100 and takes a 103 for the
    // answer): only libcurl's reading of them is ours.
#if !defined(_WIN32)
        {"HTTP/1.1 100 Continue\r\n" + interim + "HTTP/1.1 200 OK\r\n", "", 0},
        {"HTTP/1.1 103 Early Hints\r\n" + interim + "HTTP/1.1 200 OK\r\n" + date,
         "Mon, 07 Nov 1994 08:49:37 GMT", 0},
#endif
    };
    ASSERT_TRUE(platform::SocketStartup());
    for (const auto& c : cases) {
        test_support::LoopbackTcpListener server;
        const platform::HttpExchange out = Ask(server, c.answer + "Connection: close\r\n\r\n", 10);
        ASSERT_EQ(out.failure, platform::HttpFailure::None) << out.detail;
        EXPECT_STREQ(out.date, c.date) << c.answer;
        EXPECT_EQ(out.date_lines, c.date[0] != '\0' ? 1 : 0) << c.answer;
        EXPECT_EQ(out.age_lines, c.age_lines) << c.answer;
        EXPECT_STREQ(out.address, "127.0.0.1");
        EXPECT_EQ(out.port, server.Port());
    }
}

TEST(HttpDateRequest, AHeldRequestIsNotInheritedAndEndsSoonAtACancel) {
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackTcpListener server;
    // The server holds its answer longer than the request's 3 s; a cancel while it waits must
    // end the request within about a second (libcurl looks at the flag once a second).
    std::thread serve([&] { server.ServeOne({}, 3000, 3100); });
    std::atomic<bool> cancelled{false};
    std::thread cancel([&] {
#if !defined(_WIN32)
        // A program the host starts now (os.execute) must not inherit the connection.
        test_support::PeerDescriptors held{0, 0};
        for (int poll = 0; poll < 200 && held.connected == 0; ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            held = test_support::DescriptorsConnectedTo(server.Port());
        }
        EXPECT_EQ(held.connected, 1);
        EXPECT_EQ(held.inherited, 0);
#endif
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancelled = true;
    });
    const auto start = std::chrono::steady_clock::now();
    platform::HttpExchange out;
    platform::HttpDateRequest(UrlOf(server).c_str(), true, 3000, &out, &cancelled);
    const auto spent = std::chrono::steady_clock::now() - start;
    cancel.join();
    serve.join();
    EXPECT_EQ(out.failure, platform::HttpFailure::Cancelled) << out.detail;
    EXPECT_LT(spent, std::chrono::milliseconds(2500));
}

#if !defined(_WIN32)
// What libcurl reports in the case at hand: microseconds for the request leaving and for the
// first byte (1000 and 3000), seconds for both (0.0015 and 0.0045).
const struct CurlTimes {
    bool whole[2];            // microseconds given for the request leaving, for the first byte
    bool fraction;            // seconds given for both
    std::int64_t exchange_ns; // received - sent; 0: the whole transfer
} * curl_times;

bool FakeWholeUs(void*, bool first_byte, std::int64_t* us) {
    *us = first_byte ? 3000 : 1000;
    return curl_times->whole[first_byte ? 1 : 0];
}

bool FakeFractionS(void*, bool first_byte, double* seconds) {
    *seconds = first_byte ? 0.0045 : 0.0015;
    return curl_times->fraction;
}

TEST(HttpDateRequest, TakesLibcurlsMicrosecondsAndItsSecondsOnlyWithoutThem) {
    const CurlTimes cases[] = {
        {{true, true}, true, 2000000},
        {{false, false}, true, 3000000},
        {{true, false}, true, 3500000},
        {{false, false}, false, 0},
    };
    const test_support::ScopedOps<platform::CurlTimeOps> fake(platform::curl_time_ops,
                                                              {FakeWholeUs, FakeFractionS});
    for (const auto& c : cases) {
        curl_times = &c;
        test_support::LoopbackTcpListener server;
        std::int64_t before_ns = 0;
        std::int64_t after_ns = 0;
        platform::precise_time_ops.boot_time_ns(&before_ns);
        // Held 20 ms: the whole transfer is longer than any figure above.
        const platform::HttpExchange out = Ask(server, "HTTP/1.1 204 No Content\r\n\r\n", 20);
        platform::precise_time_ops.boot_time_ns(&after_ns);
        ASSERT_EQ(out.failure, platform::HttpFailure::None) << out.detail;
        EXPECT_LE(before_ns, out.sent_boot_ns);
        EXPECT_LE(out.received_boot_ns, after_ns);
        const std::int64_t exchange_ns = out.received_boot_ns - out.sent_boot_ns;
        if (c.exchange_ns > 0)
            EXPECT_EQ(exchange_ns, c.exchange_ns);
        else
            EXPECT_GE(exchange_ns, 20000000);
    }
}
#endif

} // namespace
