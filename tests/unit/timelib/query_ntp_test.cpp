// Rizi.QueryNTP's address order, in a private network and mount namespace (root only): a name
// whose IPv6 address cannot be reached from here and whose IPv4 address answers still gets
// its time, since a send that fails at once moves on to the next address.
#include "platform/socket.h"
#include "tests/support/test_system.h"
#include "timelib/query_ntp.h"

#include <gtest/gtest.h>

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
