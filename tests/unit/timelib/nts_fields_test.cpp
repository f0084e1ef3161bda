// NTS's NTP extension fields: a request read back as a server reads it, replies sealed here as
// a server seals them, and every way a reply can fail to be ours and authentic.
#include "timelib/nts_fields.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr timelib::NtsKeys Keys = {
    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25},
    {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117}};
const Bytes Uid(timelib::NtsUniqueIdBytes, 0x55);
const Bytes Nonce(timelib::NtsNonceBytes, 0x4E);

// A field with its body padded to a multiple of 4.
Bytes Field(std::uint16_t type, Bytes body) {
    body.resize((body.size() + 3) & ~std::size_t{3});
    const std::size_t length = body.size() + 4;
    body.insert(body.begin(),
                {static_cast<std::uint8_t>(type >> 8), static_cast<std::uint8_t>(type),
                 static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    return body;
}

Bytes Cat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A server's reply: the header, fields, then the authenticator sealing inner under key.
Bytes Reply(const std::vector<Bytes>& fields, const Bytes& inner, const Bytes& nonce = Nonce,
            const std::uint8_t* key = Keys.server_to_client) {
    Bytes reply = Cat({Bytes(timelib::NtpPacketBytes, 0x24), Cat(fields)});
    Bytes sealed(timelib::AesSivTagBytes + inner.size());
    const timelib::ByteSpan parts[] = {{reply.data(), static_cast<std::int32_t>(reply.size())},
                                       {nonce.data(), static_cast<std::int32_t>(nonce.size())}};
    EXPECT_TRUE(timelib::AesSivSeal(key, parts, 2, inner.data(),
                                    static_cast<std::int32_t>(inner.size()), sealed.data()));
    Bytes body = {0, static_cast<std::uint8_t>(nonce.size()),
                  static_cast<std::uint8_t>(sealed.size() >> 8),
                  static_cast<std::uint8_t>(sealed.size())};
    body.insert(body.end(), nonce.begin(), nonce.end());
    return Cat({reply, Field(0x0404, Cat({body, sealed}))});
}

bool Opens(const Bytes& reply, timelib::NtsReplyCookies* cookies) {
    return timelib::OpenNtsReply(reply.data(), static_cast<std::int32_t>(reply.size()), Uid.data(),
                                 Keys, cookies);
}

TEST(BuildNtsRequest, ReadsBackAsAServerReadsIt) {
    timelib::NtsCookie cookie{101, {}};
    for (int i = 0; i < cookie.length; ++i)
        cookie.bytes[i] = static_cast<std::uint8_t>(i);
    std::uint8_t out[timelib::MaxNtsRequestBytes];
    const std::int32_t length = timelib::BuildNtsRequest(0x0102030405060708u, Uid.data(), cookie, 3,
                                                         Keys, Nonce.data(), out);
    // Header, identifier, cookie and three placeholders of 4 + 104 bytes, authenticator.
    ASSERT_EQ(length, 48 + 36 + 4 * 108 + 40);
    const timelib::NtpPacket header = timelib::BuildNtpRequest(0x0102030405060708u);
    EXPECT_EQ(Bytes(out, out + 48), Bytes(header.begin(), header.end()));
    EXPECT_EQ(Bytes(out + 48, out + 84), Field(0x0104, Uid));
    EXPECT_EQ(Bytes(out + 84, out + 192), Field(0x0204, Bytes(cookie.bytes, cookie.bytes + 101)));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Bytes(out + 192 + 108 * i, out + 300 + 108 * i), Field(0x0304, Bytes(101)));
    // The authenticator: nonce, and a tag over all before it under the client's key.
    const std::uint8_t* auth = out + length - 40;
    EXPECT_EQ(Bytes(auth, auth + 8), Bytes({0x04, 0x04, 0, 40, 0, 16, 0, 16}));
    EXPECT_EQ(Bytes(auth + 8, auth + 24), Nonce);
    const timelib::ByteSpan parts[] = {{out, length - 40}, {auth + 8, 16}};
    EXPECT_TRUE(timelib::AesSivOpen(Keys.client_to_server, parts, 2, auth + 24, 16, nullptr));
    EXPECT_FALSE(timelib::AesSivOpen(Keys.server_to_client, parts, 2, auth + 24, 16, nullptr));

    // The largest request fits its bound; what is out of range makes none.
    cookie.length = timelib::MaxNtsCookieBytes;
    EXPECT_EQ(timelib::BuildNtsRequest(1, Uid.data(), cookie, 7, Keys, Nonce.data(), out),
              timelib::MaxNtsRequestBytes);
    EXPECT_EQ(timelib::BuildNtsRequest(1, Uid.data(), cookie, 8, Keys, Nonce.data(), out), 0);
    cookie.length = 0;
    EXPECT_EQ(timelib::BuildNtsRequest(1, Uid.data(), cookie, 0, Keys, Nonce.data(), out), 0);
}

TEST(OpenNtsReply, TakesCookiesOnlyFromAnAuthenticReplyToUs) {
    const Bytes uid = Field(0x0104, Uid);
    const Bytes inner = Cat({Field(0x0204, Bytes(100, 0xA1)), Field(0x0204, Bytes(300, 0xA2)),
                             Field(0x0204, Bytes(256, 0xA3)), Field(0x7777, Bytes(12))});
    const Bytes good = Reply({uid, Field(0x0204, Bytes(100, 0xEE))}, inner);
    timelib::NtsReplyCookies cookies{};
    ASSERT_TRUE(Opens(good, &cookies));
    // The outer cookie is anyone's, the one of 300 bytes too long.
    ASSERT_EQ(cookies.count, 2);
    EXPECT_EQ(Bytes(cookies.cookies[0].bytes, cookies.cookies[0].bytes + cookies.cookies[0].length),
              Bytes(100, 0xA1));
    EXPECT_EQ(cookies.cookies[1].length, 256);
    EXPECT_TRUE(Opens(Reply({uid}, {}), &cookies));
    EXPECT_EQ(cookies.count, 0);

    const struct {
        const char* what;
        Bytes reply;
    } refused[] = {
        {"cut short", Bytes(good.begin(), good.end() - 4)},
        {"a field after the authenticator", Cat({good, Field(0x0204, Bytes(12))})},
        {"another identifier", Reply({Field(0x0104, Bytes(32, 0x56))}, inner)},
        {"no identifier", Reply({}, inner)},
        {"our identifier twice", Reply({uid, uid}, inner)},
        {"a nonce of 12 bytes", Reply({uid}, inner, Bytes(12, 1))},
        {"sealed with the client's key", Reply({uid}, inner, Nonce, Keys.client_to_server)},
        {"an encrypted part that is no fields", Reply({uid}, Bytes(20, 0))},
        {"a plain NTP reply", Bytes(48, 0x24)},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(Opens(c.reply, &cookies)) << c.what;
        EXPECT_EQ(cookies.count, 0) << c.what;
    }
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        Bytes forged = good;
        forged[bit / 8] ^= static_cast<std::uint8_t>(1 << bit % 8);
        ASSERT_FALSE(Opens(forged, &cookies)) << "bit " << bit;
    }
}

TEST(CarriesUniqueId, OnlyOurIdentifierInWellFormedFields) {
    const Bytes header(48, 0x24);
    const struct {
        const char* what;
        Bytes datagram;
        bool carries;
    } cases[] = {
        {"a NAK to us", Cat({header, Field(0x0104, Uid)}), true},
        {"an authenticated reply", Reply({Field(0x0104, Uid)}, {}), true},
        {"a NAK to another", Cat({header, Field(0x0104, Bytes(32, 0x56))}), false},
        {"an identifier that starts like ours", Cat({header, Field(0x0104, Bytes(36, 0x55))}),
         false},
        {"ours with a broken field", Cat({header, Field(0x0104, Uid), Bytes(4, 0)}), false},
        {"no fields", header, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(timelib::CarriesUniqueId(
                      c.datagram.data(), static_cast<std::int32_t>(c.datagram.size()), Uid.data()),
                  c.carries)
            << c.what;
    }
}

} // namespace
