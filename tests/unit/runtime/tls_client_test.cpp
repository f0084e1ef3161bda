// The TLS client against servers that never answer a handshake: the deadline ends the wait, a
// cancel ends it at once, and no way of failing leaves a socket open. Handshakes with real
// servers are the end-to-end tests' (tests/nts).
#include "platform/socket.h"
#include "runtime/clock.h"
#include "runtime/tls_client.h"
#include "tests/support/loopback_peer.h"

#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

using test_support::LoopbackTcpListener;

TEST(OpenTlsClient, EndsAtTheDeadlineOrACancelWithNothingLeftOpen) {
    ASSERT_TRUE(platform::SocketStartup());
    // The kernel completes connects into the backlog; nobody ever answers the hello.
    LoopbackTcpListener silent;
    // Bound but not listening: connects are refused.
    LoopbackTcpListener refusing(8, false);
    ASSERT_TRUE(silent.Ok() && refusing.Ok());
    const struct {
        std::uint16_t port;
        std::int32_t limit_ms;
        std::int32_t cancel_after_ms; // -1: never; 0: before the call
        const char* first_word;
    } cases[] = {
        {silent.Port(), 200, -1, "timeout: "},
        {silent.Port(), -1, -1, "timeout: "}, // a negative limit has always passed
        {silent.Port(), 60000, 0, "cancelled"},
        {silent.Port(), 60000, 100, "cancelled"},
        {refusing.Port(), 60000, -1, "network: "},
    };
    const int before = test_support::CountOpenDescriptors();
    for (const auto& c : cases) {
        runtime::Cancellation cancel;
        if (c.cancel_after_ms == 0)
            cancel.Request();
        std::thread canceller;
        if (c.cancel_after_ms > 0)
            canceller = std::thread([&cancel, &c] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.cancel_after_ms));
                cancel.Request();
            });
        const platform::NetAddress address{4, {127, 0, 0, 1}, c.port, 0};
        char message[runtime::TlsMessageBytes] = "unset";
        const auto start = std::chrono::steady_clock::now();
        runtime::TlsClient* client = runtime::OpenTlsClient(
            &address, 1, "localhost", "ntske/1",
            runtime::Deadline{runtime::ElapsedMs(), c.limit_ms}, &cancel, message);
        const auto waited = std::chrono::steady_clock::now() - start;
        if (canceller.joinable())
            canceller.join();
        EXPECT_EQ(client, nullptr);
        runtime::CloseTlsClient(client);
        EXPECT_EQ(std::string(message).rfind(c.first_word, 0), 0u) << message;
        // Sanity only: a cancel did not wait for the minute's limit.
        EXPECT_LT(waited, std::chrono::seconds(30)) << message;
    }
    if (before >= 0) {
        EXPECT_EQ(test_support::CountOpenDescriptors(), before);
    }
}

} // namespace
