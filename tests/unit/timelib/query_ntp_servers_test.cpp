// Rizi.QueryNTPServers asks its web sources at once: two web servers on loopback that each
// hold their answer 300 ms both answer within a 500 ms timeout, where asking them in turn
// would leave the second 200 ms.
#include "platform/socket.h"
#include "tests/support/loopback_peer.h"
#include "timelib/query_ntp_servers.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

// Answers one request with the given head after holding it 300 ms; a plain-HTTP web server.
void AnswerLate(test_support::LoopbackTcpListener* listener, const std::string& head) {
    listener->ServeOne(test_support::PeerBytes(head.begin(), head.end()), 2000, 300);
}

TEST(QueryNtpServers, AsksItsWebSourcesAtOnce) {
    ASSERT_TRUE(platform::SocketStartup());
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&now));
    const std::string head =
        std::string("HTTP/1.1 200 OK\r\nDate: ") + date + "\r\nContent-Length: 0\r\n\r\n";
    test_support::LoopbackTcpListener first, second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    std::thread a(AnswerLate, &first, head), b(AnswerLate, &second, head);
    timelib::ServerList list;
    const std::string text = "http://127.0.0.1:" + std::to_string(first.Port()) +
                             "/ http://127.0.0.1:" + std::to_string(second.Port()) + "/";
    ASSERT_TRUE(timelib::SplitServerList(text.c_str(), &list));
    auto* result = new timelib::ServersOutcome;
    timelib::QueryNtpServers(list, 500, result);
    a.join();
    b.join();
    EXPECT_TRUE(result->outcomes[0].ok) << result->outcomes[0].message;
    EXPECT_TRUE(result->outcomes[1].ok) << result->outcomes[1].message;
    EXPECT_EQ(result->answered, 2);
    delete result;
}

} // namespace

namespace {

TEST(SameWebServer, SchemeHostInAnyCaseAndPortAsANumber) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"http://localhost:18080/", "http://LOCALHOST:18080/", true},
        {"http://localhost:18080/", "http://localhost:018080/a", true},
        {"https://example.net/", "example.net", true},
        {"https://example.net/", "https://example.net:443/", true},
        {"http://example.net/", "http://example.net:80/", true},
        {"http://[::1]:80/", "http://[::1]/", true},
        {"http://example.net/", "https://example.net/", false},
        {"https://example.net:8443/", "https://example.net/", false},
        {"http://example.net:80/", "https://example.net:80/", false},
        {"https://example.net/", "https://example.ne/", false},
        {"http://localhost:18080/", "http://127.0.0.1:18080/", false}, // told apart once reached
        {"ftp://example.net/", "ftp://example.net/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(timelib::SameWebServer(c.a, c.b), c.same) << c.a << " " << c.b;
}

} // namespace
