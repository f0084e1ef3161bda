// How both HTTP stacks read an answer: a header's lines joined and counted, a value too long cut
// so that it can never read as a shorter valid one, the final answer's Date and Age alone, the
// server reached; a cancel that ends a held request. On POSIX also: the connection kept from
// programs started meanwhile.
#include "platform/http.h"
#include "tests/support/loopback_peer.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#if !defined(_WIN32)
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

} // namespace
