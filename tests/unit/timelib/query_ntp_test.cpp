// Rizi.QueryNTP's exchange against in-process servers on loopback: the nonce, the one
// deadline of the wait (a negative one: one look, no wait), the arrival time of a reply that
// waited in the socket; and its address order, in a private network and mount namespace (root
// only): a name whose IPv6 address cannot be reached from here and whose IPv4 address answers
// still gets its time, since a send that fails at once moves on to the next address.
#include "platform/precise_time.h"
#include "platform/random.h"
#include "platform/socket.h"
#include "runtime/clock_testing.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/scoped_ops.h"
#include "tests/support/test_system.h"
#include "timelib/query_ntp.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace {

using test_support::PeerBytes;

// A valid answer to request from a server whose clock is this machine's.
PeerBytes AnswerTo(const PeerBytes& request) {
    PeerBytes reply(48, 0);
    reply[0] = (4 << 3) | 4;
    reply[1] = 2;
    reply[3] = 0xEC; // precision 2^-20 s
    std::memcpy(&reply[24], &request[40], 8);
    std::int64_t now_ns = 0;
    platform::precise_time_ops.real_time_ns(&now_ns);
    const timelib::NtpTimestamp now = timelib::NtpTimestampOf(now_ns);
    for (int i = 0; i < 8; ++i)
        reply[static_cast<std::size_t>(32 + i)] = reply[static_cast<std::size_t>(40 + i)] =
            static_cast<std::uint8_t>(now >> (56 - 8 * i));
    return reply;
}

timelib::ServerAddress Loopback(const test_support::LoopbackUdpPeer& peer) {
    return timelib::ServerAddress{"127.0.0.1", peer.Port()};
}

bool NoRandomBytes(void*, std::int32_t) {
    return false;
}

TEST(QueryNtpServer, EveryRequestHasAFreshNonceOrIsNotSent) {
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.Ok());
    PeerBytes requests[2];
    for (PeerBytes& request : requests) {
        std::thread server([&] {
            if (peer.Receive(&request, 2000))
                peer.SendToClient(AnswerTo(request));
        });
        EXPECT_TRUE(timelib::QueryNtpServer(Loopback(peer), 2000).ok);
        server.join();
        ASSERT_EQ(request.size(), 48u);
        EXPECT_NE(PeerBytes(request.begin() + 40, request.end()), PeerBytes(8, 0));
    }
    EXPECT_NE(PeerBytes(requests[0].begin() + 40, requests[0].end()),
              PeerBytes(requests[1].begin() + 40, requests[1].end()));

    // Without random bytes no request goes out: a predictable nonce would let anyone answer.
    test_support::ScopedOps<platform::RandomOps> failing(platform::random_ops, {NoRandomBytes});
    const timelib::SourceOutcome outcome = timelib::QueryNtpServer(Loopback(peer), 100);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(std::string(outcome.message).rfind("network: no random bytes", 0), 0u)
        << outcome.message;
    PeerBytes stray;
    EXPECT_FALSE(peer.Receive(&stray, 50));
}

TEST(FinishNtpExchanges, AStrayDoesNotPutOffTheDeadline) {
    // A datagram that is no answer (another nonce) 300 ms into a 400 ms wait ends that wait
    // early: the next one must be for the 100 ms that are left, not the whole time again.
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.Ok());
    std::thread server([&] {
        PeerBytes request;
        if (!peer.Receive(&request, 2000))
            return;
        PeerBytes stray = AnswerTo(request);
        stray[24] ^= 0xFF;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.SendToClient(stray);
    });
    const auto start = std::chrono::steady_clock::now();
    const timelib::SourceOutcome outcome = timelib::QueryNtpServer(Loopback(peer), 400);
    const auto waited = std::chrono::steady_clock::now() - start;
    server.join();
    EXPECT_EQ(std::string(outcome.message).rfind("timeout", 0), 0u) << outcome.message;
    // About 400 ms; a wait started again would last until 700 ms.
    EXPECT_LT(waited, std::chrono::milliseconds(600));
}

TEST(FinishNtpExchanges, ANegativeTimeLooksOnceAndNeverWaits) {
    // The first pass waits before it looks, except when no wait is allowed: then a reply
    // already there is still taken, and silence times out at once instead of waiting.
    ASSERT_TRUE(platform::SocketStartup());
    for (const bool answered : {true, false}) {
        test_support::LoopbackUdpPeer peer;
        ASSERT_TRUE(peer.Ok());
        platform::NetAddress address[1];
        ASSERT_EQ(platform::ResolveAddresses("127.0.0.1", peer.Port(), address, 1), 1);
        timelib::NtpExchange exchange;
        timelib::SourceOutcome outcome{};
        ASSERT_TRUE(timelib::StartNtpExchange(address, 1, &exchange, &outcome));
        PeerBytes request;
        ASSERT_TRUE(peer.Receive(&request, 2000));
        if (answered) {
            ASSERT_TRUE(peer.SendToClient(AnswerTo(request)));
            ASSERT_EQ(platform::WaitReadable(exchange.peer.socket, 2000), 1);
        }
        timelib::FinishNtpExchanges(&exchange, &outcome, 1, -1);
        EXPECT_EQ(outcome.ok, answered) << outcome.message;
        EXPECT_EQ(std::string(outcome.message).rfind("timeout", 0),
                  answered ? std::string::npos : 0u);
    }
}

// A boot clock that moves on 1 ms at every reading: T1's wall reading is paired with it only
// to within a millisecond.
std::int64_t boot_readings = 0;

bool SteppingBoot(std::int64_t* ns) {
    *ns = ++boot_readings * 1000000;
    return true;
}

TEST(QueryNtpServer, TheRootDistanceCountsHowCloselyT1WasPaired) {
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.Ok());
    const platform::PreciseTimeOps real = platform::precise_time_ops;
    test_support::ScopedOps<platform::PreciseTimeOps> clocks(platform::precise_time_ops,
                                                             {real.real_time_ns, SteppingBoot});
    std::thread server([&] {
        PeerBytes request;
        if (peer.Receive(&request, 2000))
            peer.SendToClient(AnswerTo(request));
    });
    const timelib::SourceOutcome outcome = timelib::QueryNtpServer(Loopback(peer), 2000);
    server.join();
    ASSERT_TRUE(outcome.ok) << outcome.message;
    // Beyond half the delay, at least half the 1 ms the pairing may be off.
    const timelib::NtpMeasurement& m = outcome.measurement;
    EXPECT_GE(m.root_distance - m.delay / 2, 0.0005);
}

// A wall clock in steps of 15.625 ms (64 a second, as Windows keeps it without the precise
// call) that moves on 1 us at every reading, so a step comes after a known number of
// readings however fast they are.
std::atomic<std::int64_t> coarse_readings{0};

bool CoarseWall(std::int64_t* ns) {
    constexpr std::int64_t StepNs = 15625000;
    const std::int64_t now = 1800000000000000000 + ++coarse_readings * 1000;
    *ns = now - now % StepNs;
    return true;
}

TEST(QueryNtpServer, TheRootDistanceCountsTheWallClocksResolution) {
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.Ok());
    timelib::SourceOutcome outcome;
    {
        const platform::PreciseTimeOps real = platform::precise_time_ops;
        test_support::ScopedOps<platform::PreciseTimeOps> clocks(platform::precise_time_ops,
                                                                 {CoarseWall, real.boot_time_ns});
        runtime::ResetClockForTesting(); // the resolution measured on the coarse clock
        std::thread server([&] {
            PeerBytes request;
            if (peer.Receive(&request, 2000))
                peer.SendToClient(AnswerTo(request));
        });
        outcome = timelib::QueryNtpServer(Loopback(peer), 2000);
        server.join();
    }
    runtime::ResetClockForTesting(); // and on the real one again
    ASSERT_TRUE(outcome.ok) << outcome.message;
    // Beyond half the delay, at least the one step T1 may lie behind the truth.
    const timelib::NtpMeasurement& m = outcome.measurement;
    EXPECT_GE(m.root_distance - m.delay / 2, 0.015625);
}

#if !defined(_WIN32)
TEST(FinishNtpExchanges, AReplyThatWaitedInTheSocketKeepsItsArrivalTime) {
    // The answer arrives at once but is taken 50 ms later: the kernel's arrival stamp keeps
    // the 50 ms out of the delay and the offset. (Windows keeps no such stamp.)
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackUdpPeer peer;
    ASSERT_TRUE(peer.Ok());
    platform::NetAddress address[1];
    ASSERT_EQ(platform::ResolveAddresses("127.0.0.1", peer.Port(), address, 1), 1);
    timelib::NtpExchange exchange;
    timelib::SourceOutcome outcome{};
    ASSERT_TRUE(timelib::StartNtpExchange(address, 1, &exchange, &outcome));
    PeerBytes request;
    ASSERT_TRUE(peer.Receive(&request, 2000));
    ASSERT_TRUE(peer.SendToClient(AnswerTo(request)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    timelib::FinishNtpExchanges(&exchange, &outcome, 1, 1000);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_LT(outcome.measurement.delay, 0.01);
    EXPECT_NEAR(outcome.measurement.offset, 0, 0.005);
}
#endif

} // namespace

#if !defined(_WIN32)
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Brings lo up in a new network namespace, whose only interface it is.
bool LoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    close(fd);
    return up;
}

// Answers one request on socket with a valid reply: the request's Transmit Timestamp echoed.
void AnswerOnce(platform::SocketHandle socket) {
    std::uint8_t request[48];
    platform::NetAddress from{};
    std::int64_t queued = 0;
    platform::WaitReadable(socket, 5000);
    if (platform::ReceiveFromAddress(socket, request, 48, &from, &queued) != 48)
        return;
    std::uint8_t reply[48] = {(4 << 3) | 4, 2};
    std::memcpy(reply + 24, request + 40, 8);
    reply[32] = reply[40] = 0xED; // 2026, receive = transmit
    platform::SendToAddress(socket, reply, 48, from);
}

TEST(QueryNtpServer, MovesOnWhenAnAddressCannotBeSentTo) {
    test_support::TempFolder folder;
    const std::string hosts = folder.Path() + "/hosts";
    ASSERT_TRUE(test_support::WriteFile(
        hosts, "2001:db8::123 dual.rizi.test\n127.0.0.1 dual.rizi.test\n", false));
    const pid_t child = fork();
    if (child == 0) {
        // Exit status: 0 answered, 1 no answer, 4 no namespace.
        if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 || !LoopbackUp())
            _exit(4);
        const platform::SocketHandle server = platform::OpenDatagramSocket(4);
        std::uint16_t port = 0;
        if (!platform::Bind(server, platform::InetAddr("127.0.0.1"), 0) ||
            !platform::LocalPort(server, &port))
            _exit(4);
        std::thread answer(AnswerOnce, server);
        timelib::ServerAddress address{"dual.rizi.test", port};
        const timelib::SourceOutcome outcome = timelib::QueryNtpServer(address, 3000);
        answer.join();
        _exit(outcome.ok && std::strcmp(outcome.address, "127.0.0.1") == 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 4)
        GTEST_SKIP() << "no private namespaces here (root needed)";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
#endif
