// Client connections against in-process peers on loopback (127.0.0.0/8 only): datagram sizes
// and pieces, foreign senders, TCP data before a close, waits that events end, and every way
// opening can fail without leaving a socket open.
#include "runtime/clock.h"
#include "runtime/net.h"
#include "tests/support/fake_time_clock.h"
#include "tests/support/loopback_peer.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::LoopbackTcpListener;
using test_support::LoopbackUdpPeer;
using test_support::PatternBytes;
using test_support::PeerBytes;

// How long a peer waits for the client, and how many 1 ms polls a client makes, at most.
constexpr std::int32_t PeerWaitMs = 5000;
constexpr int MaxPolls = 5000;

struct Closer {
    void operator()(runtime::ClientConnection* conn) const { runtime::CloseClientConnection(conn); }
};
using Connection = std::unique_ptr<runtime::ClientConnection, Closer>;

Connection Open(const char* host, std::int32_t port, std::int32_t protocol,
                std::int32_t connect_timeout_ms = -1) {
    return Connection(runtime::OpenClientConnection(host, port, protocol, connect_timeout_ms));
}

// Polls with 1 ms sleeps until something other than EventNone comes, or MaxPolls.
std::int32_t PollUntilEvent(runtime::ClientConnection* conn) {
    for (int i = 0; i < MaxPolls; ++i) {
        const std::int32_t event = runtime::PollConnectionEvent(conn);
        if (event != runtime::EventNone)
            return event;
        runtime::SleepMs(1);
    }
    return runtime::EventNone;
}

// Reads the pending datagram in pieces of piece bytes until a read returns 0.
PeerBytes ReadInPieces(runtime::ClientConnection* conn, std::int32_t piece,
                       std::vector<std::int32_t>* sizes) {
    PeerBytes all;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(piece) + 16, 0xCC);
    for (int i = 0; i < 100; ++i) {
        const std::int32_t n = runtime::ReceiveFromConnection(conn, buffer.data(), piece);
        sizes->push_back(n);
        if (n <= 0)
            break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
        // Nothing is written past the requested length.
        EXPECT_EQ(buffer[static_cast<std::size_t>(piece)], 0xCC);
    }
    return all;
}

// Starts the socket library before any peer opens a socket (Winsock needs it).
struct NetworkStarted {
    NetworkStarted() { EXPECT_EQ(runtime::NetworkStartup(), 1); }
};

// A UDP connection to a fresh peer, after one request so the peer knows the client.
struct UdpPair {
    NetworkStarted started;
    LoopbackUdpPeer peer;
    Connection conn;

    UdpPair() {
        if (!peer.Ok())
            return;
        conn = Open("127.0.0.1", peer.Port(), runtime::ProtocolUdp);
        const PeerBytes request = PatternBytes(48);
        PeerBytes received;
        if (conn == nullptr || runtime::SendToConnection(conn.get(), request.data(), 48) != 48 ||
            !peer.Receive(&received, PeerWaitMs) || received != request)
            conn.reset();
    }
    bool Ok() const { return conn != nullptr; }
};

// Descriptors open before and after a test body; unchanged unless it leaked (POSIX only).
void ExpectNoNewDescriptors(int before) {
    if (before < 0)
        return;
    EXPECT_EQ(test_support::CountOpenDescriptors(), before);
}

TEST(NetworkStartup, StartsOnceAndAgainAfterShutdown) {
    EXPECT_EQ(runtime::NetworkStartup(), 1);
    EXPECT_EQ(runtime::NetworkStartup(), 1);
    runtime::NetworkShutdown();
    EXPECT_EQ(runtime::NetworkStartup(), 1);
    // The library works after the restart.
    UdpPair pair;
    EXPECT_TRUE(pair.Ok());
}

TEST(OpenClientConnection, FailuresLeaveNothingOpen) {
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    LoopbackTcpListener refusing(0, false); // bound, never listening: connects are refused
    ASSERT_TRUE(refusing.Ok());
    struct Case {
        const char* name;
        const char* host;
        std::int32_t port;
        std::int32_t protocol;
        std::int32_t limit_ms;
    };
    const Case cases[] = {
        {"null host, TCP", nullptr, refusing.Port(), runtime::ProtocolTcp, -1},
        {"null host, UDP", nullptr, refusing.Port(), runtime::ProtocolUdp, -1},
        {"all-ones address, TCP", "255.255.255.255", refusing.Port(), runtime::ProtocolTcp, -1},
        {"all-ones address, UDP", "255.255.255.255", refusing.Port(), runtime::ProtocolUdp, -1},
        // Empty labels cannot even be put into a query, so no resolver traffic leaves.
        {"unresolvable name, TCP", "no..such..host", refusing.Port(), runtime::ProtocolTcp, 500},
        {"unresolvable name, UDP", "no..such..host", refusing.Port(), runtime::ProtocolUdp, -1},
        {"refused, blocking", "127.0.0.1", refusing.Port(), runtime::ProtocolTcp, -1},
        {"refused, bounded", "127.0.0.1", refusing.Port(), runtime::ProtocolTcp, 2000},
        {"refused, protocol 0", "127.0.0.1", refusing.Port(), 0, -1},
        {"unknown protocol", "127.0.0.1", refusing.Port(), 3, -1},
        {"negative protocol", "127.0.0.1", refusing.Port(), -2, -1},
    };
    const int before = test_support::CountOpenDescriptors();
    for (const Case& c : cases) {
        runtime::ClientConnection* conn =
            runtime::OpenClientConnection(c.host, c.port, c.protocol, c.limit_ms);
        EXPECT_EQ(conn, nullptr) << c.name;
        runtime::CloseClientConnection(conn);
        ExpectNoNewDescriptors(before);
    }
}

TEST(OpenClientConnection, ProtocolZeroIsTcp) {
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    // Only a stream connection sees the peer's close as EventDisconnect.
    for (std::int32_t protocol : {0, static_cast<std::int32_t>(runtime::ProtocolTcp)}) {
        for (std::int32_t limit_ms : {-1, 5000}) {
            LoopbackTcpListener listener;
            ASSERT_TRUE(listener.Ok());
            Connection conn = Open("127.0.0.1", listener.Port(), protocol, limit_ms);
            ASSERT_NE(conn, nullptr) << protocol << " " << limit_ms;
            ASSERT_TRUE(listener.ServeOne({}, PeerWaitMs));
            EXPECT_EQ(PollUntilEvent(conn.get()), runtime::EventDisconnect) << protocol;
        }
    }
}

TEST(OpenClientConnection, PortUsesTheLowSixteenBits) {
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    LoopbackTcpListener listener;
    ASSERT_TRUE(listener.Ok());
    Connection conn = Open("127.0.0.1", 0x50000 + listener.Port(), runtime::ProtocolTcp, 5000);
    ASSERT_NE(conn, nullptr);
    EXPECT_TRUE(listener.ServeOne(PatternBytes(3), PeerWaitMs));
}

TEST(OpenClientConnection, ResolvesANameFromTheHostsFile) {
    UdpPair pair;
    ASSERT_TRUE(pair.peer.Ok());
    Connection conn = Open("localhost", pair.peer.Port(), runtime::ProtocolUdp);
    ASSERT_NE(conn, nullptr);
    const PeerBytes hello = PatternBytes(5, 9);
    ASSERT_EQ(runtime::SendToConnection(conn.get(), hello.data(), 5), 5);
    PeerBytes received;
    ASSERT_TRUE(pair.peer.Receive(&received, PeerWaitMs));
    EXPECT_EQ(received, hello);
}

TEST(OpenClientConnection, ConnectLimitEndsAWaitOnAFullBacklog) {
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    // Nobody accepts, so once the backlog is full new connection attempts go unanswered; an
    // unbounded connect would wait for the system's own limit (minutes).
    LoopbackTcpListener listener(0);
    ASSERT_TRUE(listener.Ok());
    const int before = test_support::CountOpenDescriptors();
    std::vector<Connection> queued;
    bool limited = false;
    std::int32_t waited_ms = 0;
    for (int attempt = 0; attempt < 16 && !limited; ++attempt) {
        const std::int32_t start = runtime::ElapsedMs();
        Connection conn = Open("127.0.0.1", listener.Port(), runtime::ProtocolTcp, 300);
        waited_ms = static_cast<std::int32_t>(runtime::MsBetween(start, runtime::ElapsedMs()));
        if (conn == nullptr)
            limited = true;
        else
            queued.push_back(std::move(conn));
    }
    ASSERT_TRUE(limited) << "the backlog never filled";
    EXPECT_GE(queued.size(), 1u);
    EXPECT_LT(waited_ms, 30000); // sanity only: the limit, not the system's minutes
    if (before >= 0) {
        EXPECT_EQ(test_support::CountOpenDescriptors(), before + static_cast<int>(queued.size()));
    }
    queued.clear();
    ExpectNoNewDescriptors(before);
}

TEST(SendToConnection, HandsOverEveryByte) {
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{48}, std::size_t{1400}}) {
        const PeerBytes bytes = PatternBytes(size, 3);
        EXPECT_EQ(runtime::SendToConnection(pair.conn.get(), bytes.data(),
                                            static_cast<std::int32_t>(size)),
                  static_cast<std::int32_t>(size));
        PeerBytes received;
        ASSERT_TRUE(pair.peer.Receive(&received, PeerWaitMs));
        EXPECT_EQ(received, bytes);
    }
    LoopbackTcpListener listener;
    ASSERT_TRUE(listener.Ok());
    Connection tcp = Open("127.0.0.1", listener.Port(), runtime::ProtocolTcp);
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(runtime::SendToConnection(tcp.get(), "abc", 3), 3);
    EXPECT_EQ(runtime::SendToConnection(nullptr, "abc", 3), -1);
    EXPECT_EQ(runtime::SendToConnection(tcp.get(), "abc", -1), -1);
}

TEST(PollConnectionEvent, DatagramSizes) {
    // Each datagram is followed by a 1-byte marker, so one that is dropped shows as the
    // marker arriving first.
    struct Case {
        std::size_t size;
        bool delivered;
        std::int32_t piece;
    };
    const Case cases[] = {
        {0, false, 48}, {48, true, 48}, {68, true, 48}, {2048, true, 500}, {2049, false, 48},
    };
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    const PeerBytes marker{0xEE};
    for (const Case& c : cases) {
        const PeerBytes datagram = PatternBytes(c.size, 1);
        ASSERT_TRUE(pair.peer.SendToClient(datagram)) << c.size;
        ASSERT_TRUE(pair.peer.SendToClient(marker));
        ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData) << c.size;
        std::vector<std::int32_t> sizes;
        if (c.delivered) {
            EXPECT_EQ(ReadInPieces(pair.conn.get(), c.piece, &sizes), datagram) << c.size;
            ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData);
            sizes.clear();
        }
        EXPECT_EQ(ReadInPieces(pair.conn.get(), c.piece, &sizes), marker) << c.size;
        EXPECT_EQ(runtime::PollConnectionEvent(pair.conn.get()), runtime::EventNone);
    }
}

TEST(PollConnectionEvent, ForeignSendersAreIgnored) {
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    LoopbackUdpPeer other_port("127.0.0.1");
    ASSERT_TRUE(other_port.Ok());
    std::vector<LoopbackUdpPeer*> foreigners{&other_port};
    // The peer's port on another loopback address. Wine refuses a port that is already
    // bound on another address, so there the case is left out.
    LoopbackUdpPeer other_address("127.0.0.2", pair.peer.Port());
    if (other_address.Ok())
        foreigners.push_back(&other_address);
#ifndef _WIN32
    EXPECT_TRUE(other_address.Ok());
#endif
    for (LoopbackUdpPeer* foreign : foreigners) {
        ASSERT_TRUE(foreign->SendToClientOf(pair.peer, PatternBytes(48, 7)));
        const PeerBytes reply = PatternBytes(48, 8);
        ASSERT_TRUE(pair.peer.SendToClient(reply));
        ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData);
        std::vector<std::int32_t> sizes;
        EXPECT_EQ(ReadInPieces(pair.conn.get(), 48, &sizes), reply);
    }
}

TEST(PollConnectionEvent, SilentPeerGivesNothing) {
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(runtime::PollConnectionEvent(pair.conn.get()), runtime::EventNone);
    // Nothing pending, so nothing to read.
    char buffer[8];
    EXPECT_EQ(runtime::ReceiveFromConnection(pair.conn.get(), buffer, 8), 0);
    EXPECT_EQ(runtime::PollConnectionEvent(nullptr), runtime::EventNone);
}

TEST(PollConnectionEvent, TcpDataOutlivesThePeersClose) {
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    LoopbackTcpListener listener;
    ASSERT_TRUE(listener.Ok());
    Connection conn = Open("127.0.0.1", listener.Port(), runtime::ProtocolTcp);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(runtime::PollConnectionEvent(conn.get()), runtime::EventNone);
    ASSERT_TRUE(listener.ServeOne({'a', 'b', 'c'}, PeerWaitMs));
    // Data, and data again on every poll until it is read; then the close.
    ASSERT_EQ(PollUntilEvent(conn.get()), runtime::EventData);
    EXPECT_EQ(runtime::PollConnectionEvent(conn.get()), runtime::EventData);
    EXPECT_EQ(runtime::PollConnectionEvent(conn.get()), runtime::EventData);
    char buffer[8] = {};
    EXPECT_EQ(runtime::ReceiveFromConnection(conn.get(), buffer, 2), 2);
    EXPECT_EQ(runtime::PollConnectionEvent(conn.get()), runtime::EventData);
    EXPECT_EQ(runtime::ReceiveFromConnection(conn.get(), buffer + 2, 8), 1);
    EXPECT_EQ(std::string(buffer), "abc");
    EXPECT_EQ(PollUntilEvent(conn.get()), runtime::EventDisconnect);
    EXPECT_EQ(runtime::PollConnectionEvent(conn.get()), runtime::EventDisconnect);
    EXPECT_EQ(runtime::ReceiveFromConnection(conn.get(), buffer, 8), 0);
}

TEST(WaitConnectionEvent, EndsWhenSomethingArrivesAndTakesNothing) {
    // The wait allows 10 s; what the peer does 20 ms later ends it (the fake clock records
    // the wait's result: 1 for readable), and the poll after it still finds the event.
    struct Case {
        const char* what;
        std::int32_t protocol;
        PeerBytes bytes;
        std::int32_t event;
    };
    const Case cases[] = {
        {"a datagram", runtime::ProtocolUdp, PatternBytes(48), runtime::EventData},
        {"bytes, then the close", runtime::ProtocolTcp, {'a', 'b', 'c'}, runtime::EventData},
        {"the close alone", runtime::ProtocolTcp, {}, runtime::EventDisconnect},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UdpPair pair;
        LoopbackTcpListener listener;
        ASSERT_TRUE(pair.Ok() && listener.Ok());
        Connection tcp;
        if (c.protocol == runtime::ProtocolTcp) {
            tcp = Open("127.0.0.1", listener.Port(), runtime::ProtocolTcp);
            ASSERT_NE(tcp, nullptr);
        }
        runtime::ClientConnection* conn = tcp != nullptr ? tcp.get() : pair.conn.get();
        bool peer_done = false;
        std::thread peer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            peer_done = tcp != nullptr ? listener.ServeOne(c.bytes, PeerWaitMs)
                                       : pair.peer.SendToClient(c.bytes);
        });
        test_support::FakeClock clock;
        runtime::WaitConnectionEvent(conn, 10000);
        peer.join();
        ASSERT_TRUE(peer_done);
        EXPECT_EQ(clock.WaitResults(), std::vector<int>{1});
        EXPECT_EQ(runtime::PollConnectionEvent(conn), c.event);
    }
}

TEST(WaitConnectionEvent, SilenceLastsTheWholeTimeAndANegativeTimeNone) {
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    test_support::FakeClock clock;
    runtime::WaitConnectionEvent(pair.conn.get(), 3);
    runtime::WaitConnectionEvent(pair.conn.get(), -1); // never "without limit"
    EXPECT_EQ(clock.WaitResults(), (std::vector<int>{0, 0}));
    EXPECT_EQ(clock.WaitedMs(), 3);
    // No connection: the time passes all the same, so a caller's loop keeps its pace.
    runtime::WaitConnectionEvent(nullptr, 2);
    EXPECT_EQ(clock.SleptMs(), 2);
    EXPECT_EQ(runtime::PollConnectionEvent(pair.conn.get()), runtime::EventNone);
}

TEST(ReceiveFromConnection, ReadsADatagramInPieces) {
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    const PeerBytes datagram = PatternBytes(68, 2);
    ASSERT_TRUE(pair.peer.SendToClient(datagram));
    ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData);
    std::vector<std::int32_t> sizes;
    EXPECT_EQ(ReadInPieces(pair.conn.get(), 48, &sizes), datagram);
    EXPECT_EQ(sizes, (std::vector<std::int32_t>{48, 20, 0}));
    EXPECT_EQ(runtime::ReceiveFromConnection(pair.conn.get(), nullptr, 0), 0);
    EXPECT_EQ(runtime::ReceiveFromConnection(nullptr, nullptr, 0), -1);
}

TEST(ReceiveFromConnection, ANewDatagramReplacesUnreadBytes) {
    UdpPair pair;
    ASSERT_TRUE(pair.Ok());
    ASSERT_TRUE(pair.peer.SendToClient(PatternBytes(68, 4)));
    ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData);
    std::uint8_t buffer[48];
    ASSERT_EQ(runtime::ReceiveFromConnection(pair.conn.get(), buffer, 48), 48);
    // 20 bytes are still pending when the next datagram is taken: they are gone.
    const PeerBytes second = PatternBytes(30, 5);
    ASSERT_TRUE(pair.peer.SendToClient(second));
    ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData);
    std::vector<std::int32_t> sizes;
    EXPECT_EQ(ReadInPieces(pair.conn.get(), 48, &sizes), second);
    EXPECT_EQ(sizes, (std::vector<std::int32_t>{30, 0}));
}

TEST(CloseClientConnection, ReleasesSocketAndPendingBytes) {
    ASSERT_EQ(runtime::NetworkStartup(), 1);
    const int before = test_support::CountOpenDescriptors();
    {
        UdpPair pair;
        ASSERT_TRUE(pair.Ok());
        // Close with a datagram pending (the sanitizer build reports it if it leaks).
        ASSERT_TRUE(pair.peer.SendToClient(PatternBytes(100)));
        ASSERT_EQ(PollUntilEvent(pair.conn.get()), runtime::EventData);
    }
    ExpectNoNewDescriptors(before);
    runtime::CloseClientConnection(nullptr);
}

} // namespace
