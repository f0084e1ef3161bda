// Rizi.QueryNTPServers asks its web sources at once: two web servers on loopback that each
// hold their answer 300 ms both answer within a 500 ms timeout, where asking them in turn
// would leave the second 200 ms. The nonces of one call's requests, drawn together.
#include "platform/random.h"
#include "platform/socket.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/scoped_ops.h"
#include "timelib/query_ntp_servers.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <set>
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

bool NoRandomBytes(void*, std::int32_t) {
    return false;
}

bool RepeatingBytes(void* buffer, std::int32_t length) {
    std::memset(buffer, 0x5A, static_cast<std::size_t>(length));
    return true;
}

TEST(QueryNtpServers, NoTwoRequestsOfACallShareANonce) {
    // The nonces come from one draw for the whole call: each request must still get its own,
    // and a draw that fails or repeats itself must send nothing at all.
    ASSERT_TRUE(platform::SocketStartup());
    const struct {
        const char* generator;
        bool (*random_bytes)(void*, std::int32_t);
        bool sent;
    } cases[] = {
        {"the system's", platform::random_ops.random_bytes, true},
        {"a failing one", NoRandomBytes, false},
        {"one that repeats itself", RepeatingBytes, false},
    };
    for (const auto& c : cases) {
        test_support::ScopedOps<platform::RandomOps> random(platform::random_ops, {c.random_bytes});
        test_support::LoopbackUdpPeer peers[3];
        std::string text;
        for (const auto& peer : peers)
            text += "127.0.0.1:" + std::to_string(peer.Port()) + " ";
        timelib::ServerList list;
        ASSERT_TRUE(timelib::SplitServerList(text.c_str(), &list));
        auto result = std::make_unique<timelib::ServersOutcome>();
        timelib::QueryNtpServers(list, 200, result.get());
        std::set<test_support::PeerBytes> nonces;
        for (int i = 0; i < 3; ++i) {
            test_support::PeerBytes request;
            if (peers[i].Receive(&request, 50) && request.size() == 48)
                nonces.insert(test_support::PeerBytes(request.begin() + 40, request.end()));
            const std::string message = result->outcomes[i].message;
            EXPECT_TRUE(c.sent || message.rfind("network: no random", 0) == 0) << message;
        }
        EXPECT_EQ(nonces.size(), c.sent ? 3u : 0u) << c.generator;
        EXPECT_EQ(nonces.count(test_support::PeerBytes(8, 0)), 0u) << c.generator;
    }
}

} // namespace
