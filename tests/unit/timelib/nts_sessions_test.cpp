// The NTS sessions of the process: each cookie handed out once, the oldest first; cookies and
// NAKs for a session that a newer key exchange replaced change nothing; a new server makes room
// by dropping the one used longest ago.
#include "timelib/nts_sessions.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using timelib::NtsCookie;
using timelib::NtsTicket;
using timelib::ServerAddress;

ServerAddress Server(const char* host, std::uint16_t port = 4460) {
    ServerAddress s{};
    std::snprintf(s.host, sizeof s.host, "%s", host);
    s.port = port;
    return s;
}

// A cookie whose first byte is its number.
NtsCookie Cookie(int number) {
    NtsCookie c{};
    c.length = 100;
    c.bytes[0] = static_cast<std::uint8_t>(number);
    return c;
}

// Stores a session of count cookies numbered from first; returns its first ticket.
NtsTicket Store(const ServerAddress& server, int count, int first = 0) {
    NtsCookie cookies[timelib::MaxNtsCookies];
    for (int i = 0; i < count; ++i)
        cookies[i] = Cookie(first + i);
    NtsTicket ticket{};
    EXPECT_TRUE(timelib::StoreNtsSession(server, timelib::NtsKeys{}, cookies, count,
                                         timelib::NtsNtpServer{}, &ticket));
    return ticket;
}

TEST(NtsSessions, EachCookieOnceTheOldestFirstAndStaleSessionsChangeNothing) {
    const ServerAddress server = Server("Time.Example.NET");
    NtsTicket ticket = Store(server, 3, 10);
    EXPECT_EQ(ticket.cookie.bytes[0], 10);
    EXPECT_EQ(ticket.cookies_left, 2);
    // Another spelling of the host is the same server; another port is not.
    ASSERT_TRUE(timelib::TakeNtsTicket(Server("time.example.net"), &ticket));
    EXPECT_EQ(ticket.cookie.bytes[0], 11);
    EXPECT_FALSE(timelib::TakeNtsTicket(Server("time.example.net", 4461), &ticket));
    const std::uint64_t old_session = ticket.session;

    // A reply's cookies join the session, up to a full set.
    timelib::NtsReplyCookies reply{};
    reply.count = timelib::MaxNtsCookies;
    for (int i = 0; i < reply.count; ++i)
        reply.cookies[i] = Cookie(20 + i);
    EXPECT_EQ(timelib::ReturnNtsCookies(server, old_session, reply), timelib::MaxNtsCookies);

    // A new key exchange replaces the session: the old one's cookies and NAK are ignored.
    const NtsTicket fresh = Store(server, 2, 40);
    EXPECT_NE(fresh.session, old_session);
    EXPECT_EQ(timelib::ReturnNtsCookies(server, old_session, reply), 0);
    timelib::DropNtsSession(server, old_session);
    ASSERT_TRUE(timelib::TakeNtsTicket(server, &ticket));
    EXPECT_EQ(ticket.cookie.bytes[0], 41);
    EXPECT_FALSE(timelib::TakeNtsTicket(server, &ticket)); // spent: a key exchange is due

    // A NAK for the current session drops it; a key exchange without cookies keeps nothing.
    timelib::DropNtsSession(server, Store(server, 2).session);
    EXPECT_FALSE(timelib::TakeNtsTicket(server, &ticket));
    EXPECT_FALSE(timelib::StoreNtsSession(server, timelib::NtsKeys{}, nullptr, 0,
                                          timelib::NtsNtpServer{}, &ticket));
}

TEST(NtsSessions, ANewServerDropsTheOneUsedLongestAgo) {
    const ServerAddress kept = Server("kept.example.net");
    NtsTicket ticket = Store(kept, 2);
    const timelib::NtsReplyCookies one{1, {Cookie(1)}};
    for (int i = 0; i < timelib::MaxNtsSessions + 8; ++i) {
        char host[32];
        std::snprintf(host, sizeof host, "s%d.example.net", i);
        Store(Server(host), 2);
        // kept is used after every new server, so it is never the one used longest ago.
        ASSERT_TRUE(timelib::TakeNtsTicket(kept, &ticket)) << "dropped after " << host;
        timelib::ReturnNtsCookies(kept, ticket.session, one);
    }
    EXPECT_FALSE(timelib::TakeNtsTicket(Server("s0.example.net"), &ticket));
    EXPECT_TRUE(timelib::TakeNtsTicket(Server("s39.example.net"), &ticket));
}

} // namespace
