// The resolver from several threads at once: each thread must get its own name's address,
// never another thread's.
#include "platform/socket.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

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

} // namespace
