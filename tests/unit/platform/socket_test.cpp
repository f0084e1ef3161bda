// The resolver from several threads at once: each thread must get its own name's address,
// never another thread's. A datagram socket as it is opened; the wait for a connect or a
// wake-up. On POSIX also the socket wait under signals: a stream of them, and one late in it.
#include "platform/socket.h"
#include "platform/thread.h"
#include "tests/support/loopback_peer.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include "tests/support/test_system.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netdb.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    // Network byte order, as the resolver gives it.
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address = 0;
    static_assert(sizeof address == sizeof bytes, "four bytes");
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

TEST(ResolveFirstAddress, EveryThreadGetsItsOwnAnswer) {
    ASSERT_TRUE(platform::SocketStartup());
    // Half the threads ask the hosts file for localhost, the others give dotted addresses
    // of their own, which the resolver answers in the same result storage.
    constexpr int Threads = 8;
    constexpr int Rounds = 2000;
    struct Name {
        std::string text;
        std::uint32_t address;
    };
    std::vector<Name> names;
    for (int i = 0; i < Threads; ++i) {
        if (i % 2 == 0) {
            names.push_back({"localhost", Ipv4(127, 0, 0, 1)});
        } else {
            const auto last = static_cast<std::uint8_t>(10 + i);
            names.push_back({"127.0.0." + std::to_string(last), Ipv4(127, 0, 0, last)});
        }
    }
    std::atomic<int> wrong{0};
    std::atomic<int> unresolved{0};
    std::vector<std::thread> threads;
    for (const Name& name : names) {
        threads.emplace_back([&name, &wrong, &unresolved] {
            for (int round = 0; round < Rounds; ++round) {
                std::uint32_t address = 0;
                if (!platform::ResolveFirstAddress(name.text.c_str(), &address)) {
                    ++unresolved;
                } else if (address != name.address) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(unresolved.load(), 0);
    platform::SocketCleanup();
}

TEST(AddressToText, NumericFormsOfBothFamilies) {
    const struct {
        platform::NetAddress address;
        const char* text;
    } cases[] = {
        {{4, {0, 0, 0, 0}, 123, 0}, "0.0.0.0"},
        {{4, {10, 99, 100, 255}, 123, 0}, "10.99.100.255"},
        {{4, {192, 0, 2, 1}, 0, 0}, "192.0.2.1"},
        {{6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 123, 0}, "::1"},
        {{6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2a}, 123, 0},
         "2001:db8::2a"},
    };
    for (const auto& c : cases) {
        char text[platform::AddressTextBytes] = "?";
        EXPECT_TRUE(platform::AddressToText(c.address, text)) << c.text;
        EXPECT_STREQ(text, c.text);
    }
}

TEST(WaitWritableOrReadable, TellsTheConnectFromTheWakeUp) {
    // A listener with a full queue holds the last connect in progress: neither side is ready
    // until the wake-up is signalled; a connected socket is ready at once.
    ASSERT_TRUE(platform::SocketStartup());
    test_support::LoopbackTcpListener full(0);
    platform::SocketHandle connects[4];
    for (platform::SocketHandle& c : connects) {
        c = platform::OpenSocket(platform::SocketType::Stream);
        ASSERT_TRUE(platform::SetNonBlocking(c, true));
        platform::Connect(c, platform::InetAddr("127.0.0.1"), full.Port());
    }
    platform::WakeUp wake;
    ASSERT_TRUE(platform::OpenWakeUp(&wake));
    EXPECT_EQ(platform::WaitWritableOrReadable(connects[0], wake.readable, 1000), 1);
    EXPECT_EQ(platform::WaitWritableOrReadable(connects[3], wake.readable, 50), 0);
    platform::SignalWakeUp(wake);
    EXPECT_EQ(platform::WaitWritableOrReadable(connects[3], wake.readable, 1000), 2);
    platform::CloseWakeUp(&wake);
    for (platform::SocketHandle c : connects)
        platform::CloseSocket(c);
}

TEST(OpenDatagramSocket, OpensNonBlockingAndNotInherited) {
    // The exchanges receive without a poll first: a blocking socket would hang them, and a
    // receive that took "none waiting" for an error would spin through its datagram limit.
    ASSERT_TRUE(platform::SocketStartup());
    const platform::SocketHandle s = platform::OpenDatagramSocket(4);
    ASSERT_NE(s, platform::InvalidSocket);
#if !defined(_WIN32)
    EXPECT_NE(fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_NE(fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK, 0);
#endif
    ASSERT_TRUE(platform::Bind(s, platform::InetAddr("127.0.0.1"), 0));
    std::uint8_t buffer[64];
    platform::NetAddress from{};
    std::int64_t queued_ns = 0;
    EXPECT_EQ(platform::ReceiveFromAddress(s, buffer, sizeof buffer, &from, &queued_ns),
              platform::NothingReceived);
    platform::CloseSocket(s);
    platform::SocketCleanup();
}

#if !defined(_WIN32)

// A name with 300 addresses, read together ("multi on"), from a private hosts file that a
// child process mounts in a namespace of its own (root only): the answer outgrows the
// resolver's first buffer, and the first address must still come back.
TEST(ResolveFirstAddress, GivesTheFirstOfSeveralHundredAddresses) {
    test_support::TempFolder folder;
    const std::string hosts = folder.Path() + "/hosts";
    const std::string conf = folder.Path() + "/host.conf";
    std::string lines;
    for (int i = 0; i < 300; ++i)
        lines += "10.77." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250) +
                 " many.rizi.test\n";
    ASSERT_TRUE(test_support::WriteFile(hosts, lines, false) &&
                test_support::WriteFile(conf, "multi on\n", false));
    const pid_t child = fork();
    if (child == 0) {
        // Exit status: 0 the first address, 1 unresolved, 2 another address, 3 an answer that
        // fits the resolver's first kilobyte (proving nothing), 4 no namespace.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
            mount(conf.c_str(), "/etc/host.conf", nullptr, MS_BIND, nullptr) != 0)
            _exit(4);
        char small[1024];
        hostent entry{};
        hostent* host = nullptr;
        int error = 0;
        if (gethostbyname_r("many.rizi.test", &entry, small, sizeof small, &host, &error) != ERANGE)
            _exit(3);
        std::uint32_t address = 0;
        if (!platform::ResolveFirstAddress("many.rizi.test", &address))
            _exit(1);
        _exit(address == Ipv4(10, 77, 0, 1) ? 0 : 2);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 4)
        GTEST_SKIP() << "no private mount namespace here (root needed)";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit status " << WEXITSTATUS(status);
}

std::atomic<int> signals_seen{0};

void CountSignal(int) {
    ++signals_seen;
}

TEST(WaitReadable, BothWaitsEndOnTimeUnderSignals) {
    // A host's interval timer (a signal every 0.3 ms), and one signal late in a wait; the
    // handler lets poll fail with EINTR (no SA_RESTART). SIGWINCH is ignored by default, so one
    // that comes late does no harm.
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGWINCH, &action, &previous), 0);
    const platform::SocketHandle silent = platform::OpenSocket(platform::SocketType::Datagram);
    ASSERT_NE(silent, platform::InvalidSocket);
    ASSERT_TRUE(platform::Bind(silent, platform::InetAddr("127.0.0.1"), 0));

    using Wait = int (*)(platform::SocketHandle, std::int32_t);
    const Wait wait_any = [](platform::SocketHandle socket, std::int32_t ms) {
        return platform::WaitAnyReadable(&socket, 1, ms);
    };
    // A wait that starts again from the whole timeout, or that loses the part of a millisecond
    // between two signals, lasts until the signals stop (2 s), or 450 ms after the late one.
    const struct {
        const char* what;
        Wait wait;
        int timeout_ms;
        int first_signal_us;
        int every_us; // 0: one signal only
        int below_ms; // the wait ends before this; room for a busy machine
        int signals;  // at least this many came
    } cases[] = {
        {"WaitReadable, a stream", platform::WaitReadable, 50, 300, 300, 500, 3},
        {"WaitAnyReadable, a stream", wait_any, 50, 300, 300, 500, 3},
        {"WaitReadable, one at 200 ms", platform::WaitReadable, 250, 200000, 0, 400, 1},
    };
    for (const auto& c : cases) {
        signals_seen = 0;
        std::atomic<bool> done{false};
        const pthread_t waiter = pthread_self();
        std::thread timer([&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            std::this_thread::sleep_for(std::chrono::microseconds(c.first_signal_us));
            do {
                pthread_kill(waiter, SIGWINCH);
                std::this_thread::sleep_for(std::chrono::microseconds(c.every_us));
            } while (c.every_us > 0 && !done && std::chrono::steady_clock::now() < until);
        });
        const auto start = std::chrono::steady_clock::now();
        const int result = c.wait(silent, c.timeout_ms);
        const auto waited = std::chrono::steady_clock::now() - start;
        done = true;
        timer.join();

        EXPECT_EQ(result, 0) << c.what;
        EXPECT_GE(signals_seen.load(), c.signals) << c.what;
        EXPECT_GE(waited, std::chrono::milliseconds(c.timeout_ms)) << c.what; // never shorter
        EXPECT_LT(waited, std::chrono::milliseconds(c.below_ms)) << c.what;
    }
    platform::CloseSocket(silent);
    sigaction(SIGWINCH, &previous, nullptr);
}

#endif

} // namespace
