// Rizi.QueryNTPServers asks its web sources at once: two web servers on loopback that each
// hold their answer 300 ms both answer within a 500 ms timeout, where asking them in turn
// would leave the second 200 ms. The verdict's time is carried from the best source's reply.
// The nonces of one call's requests, drawn together.
#include "platform/precise_time.h"
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

// The wall clock as an NTP timestamp, written at reply[at].
void PutNow(test_support::PeerBytes* reply, std::size_t at) {
    std::int64_t now_ns = 0;
    platform::precise_time_ops.real_time_ns(&now_ns);
    const timelib::NtpTimestamp now = timelib::NtpTimestampOf(now_ns);
    for (std::size_t i = 0; i < 8; ++i)
        (*reply)[at + i] = static_cast<std::uint8_t>(now >> (56 - 8 * i));
}

// An NTP server whose clock is this machine's: answers one request after holding it hold_ms,
// its receive and transmit times true. root_dispersion in 1/65536 s.
void AnswerNtp(test_support::LoopbackUdpPeer* peer, int hold_ms, std::uint8_t root_dispersion) {
    test_support::PeerBytes request;
    if (!peer->Receive(&request, 2000) || request.size() != 48)
        return;
    test_support::PeerBytes reply(48, 0);
    reply[0] = (4 << 3) | 4;
    reply[1] = 2;
    reply[3] = 0xEC; // precision 2^-20 s
    reply[11] = root_dispersion;
    std::memcpy(&reply[24], &request[40], 8);
    PutNow(&reply, 32);
    std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
    PutNow(&reply, 40);
    peer->SendToClient(reply);
}

TEST(QueryNtpServers, TheVerdictsTimeIsCarriedFromTheBestReply) {
    // Both servers agree; the first answers at once with the narrower interval (the best), the
    // last 50 ms later. The verdict's time is the best reply's arrival carried to the end of
    // the call by the boot clock: the wall clock then. The later reply's arrival carried by
    // the best one's boot reading would make it 50 ms late.
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer prompt, held;
    ASSERT_TRUE(prompt.Ok() && held.Ok());
    std::thread a(AnswerNtp, &prompt, 0, 0), b(AnswerNtp, &held, 50, 200);
    timelib::ServerList list;
    const std::string text =
        "127.0.0.1:" + std::to_string(prompt.Port()) + " 127.0.0.1:" + std::to_string(held.Port());
    ASSERT_TRUE(timelib::SplitServerList(text.c_str(), &list));
    const auto result = std::make_unique<timelib::ServersOutcome>();
    timelib::QueryNtpServers(list, 1000, result.get());
    std::int64_t end_ns = 0;
    platform::precise_time_ops.real_time_ns(&end_ns);
    a.join();
    b.join();
    ASSERT_TRUE(result->ok) << result->message;
    EXPECT_EQ(result->best, 0);
    EXPECT_NEAR(static_cast<double>(result->time_ns - end_ns) / 1e6, 0, 5); // ms
}

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
