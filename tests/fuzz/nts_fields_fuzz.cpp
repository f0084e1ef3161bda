// libFuzzer target for NTS's NTP extension fields. The first input byte picks a mode from
// Modes, the rest is its input: a datagram as received; a reply whose authenticator this
// target seals itself (the fuzzer's plaintext behind a tag that verifies, so the walk of the
// encrypted part is reached); or a request built and read back as a reply. Aborts when what
// must hold does not.
#include "timelib/nts_fields.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr timelib::NtsKeys Keys = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
                                   {31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44}};
// Both directions under one key, so that a request opens as a reply.
constexpr timelib::NtsKeys SameKeys = {{7, 7, 7, 7, 7}, {7, 7, 7, 7, 7}};
constexpr std::uint8_t UniqueId[timelib::NtsUniqueIdBytes] = {0x55, 0x55, 0x55, 0x55, 0x55,
                                                              0x55, 0x55, 0x55, 0x55, 0x55};

void Require(bool holds) {
    if (!holds)
        std::abort();
}

void Put16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void Pad(Bytes& out) {
    while (out.size() % 4 != 0)
        out.push_back(0);
}

// Opens the reply; whatever it says, the cookies stay within their bounds, and only a reply
// that carries our identifier opens.
bool Open(const Bytes& reply, const timelib::NtsKeys& keys, timelib::NtsReplyCookies* cookies) {
    std::memset(cookies, 0xA5, sizeof *cookies);
    const auto length = static_cast<std::int32_t>(reply.size());
    const bool opened = timelib::OpenNtsReply(reply.data(), length, UniqueId, keys, cookies);
    Require(cookies->count >= 0 && cookies->count <= (opened ? timelib::MaxNtsCookies : 0));
    for (int i = 0; i < cookies->count; ++i) {
        Require(cookies->cookies[i].length >= 1 &&
                cookies->cookies[i].length <= timelib::MaxNtsCookieBytes);
    }
    if (opened)
        Require(timelib::CarriesUniqueId(reply.data(), length, UniqueId));
    return opened;
}

// Input: a datagram as received.
void FuzzDatagram(const std::uint8_t* data, std::size_t size) {
    const Bytes reply(data, data + size);
    timelib::NtsReplyCookies cookies;
    Open(reply, Keys, &cookies);
}

// The cookies a walk of plaintext's fields finds, written here the plain way; false when the
// fields do not fill it exactly.
bool ExpectedCookies(const Bytes& plaintext, std::vector<Bytes>* cookies) {
    std::size_t at = 0;
    while (at < plaintext.size()) {
        if (plaintext.size() - at < 4)
            return false;
        const std::size_t type = std::size_t{plaintext[at]} << 8 | plaintext[at + 1];
        const std::size_t length = std::size_t{plaintext[at + 2]} << 8 | plaintext[at + 3];
        if (length < 4 || length % 4 != 0 || length > plaintext.size() - at)
            return false;
        if (type == 0x0204 && length > 4 && length - 4 <= timelib::MaxNtsCookieBytes &&
            cookies->size() < timelib::MaxNtsCookies)
            cookies->emplace_back(plaintext.begin() + static_cast<long>(at + 4),
                                  plaintext.begin() + static_cast<long>(at + length));
        at += length;
    }
    return true;
}

// Input: flags (bit 0: our Unique Identifier first), the nonce's length (12 to 35 bytes), the
// length of the fields before the authenticator, those fields, then the plaintext to seal.
void FuzzSealedReply(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return;
    const bool our_id = (data[0] & 1) != 0;
    const std::size_t nonce_length = 12 + data[1] % 24;
    const std::size_t outer_length = std::min<std::size_t>(data[2], size - 3);
    const Bytes outer(data + 3, data + 3 + outer_length);
    const Bytes plaintext(data + 3 + outer_length, data + size);

    Bytes reply(timelib::NtpPacketBytes, 0x24);
    if (our_id) {
        Put16(reply, 0x0104);
        Put16(reply, 4 + timelib::NtsUniqueIdBytes);
        reply.insert(reply.end(), std::begin(UniqueId), std::end(UniqueId));
    }
    reply.insert(reply.end(), outer.begin(), outer.end());
    const Bytes nonce(nonce_length, 0x4E);
    Bytes sealed(timelib::AesSivTagBytes + plaintext.size());
    const timelib::ByteSpan parts[] = {{reply.data(), static_cast<std::int32_t>(reply.size())},
                                       {nonce.data(), static_cast<std::int32_t>(nonce.size())}};
    Require(timelib::AesSivSeal(Keys.server_to_client, parts, 2, plaintext.data(),
                                static_cast<std::int32_t>(plaintext.size()), sealed.data()));
    Bytes auth;
    Put16(auth, nonce.size());
    Put16(auth, sealed.size());
    auth.insert(auth.end(), nonce.begin(), nonce.end());
    Pad(auth);
    auth.insert(auth.end(), sealed.begin(), sealed.end());
    Pad(auth);
    if (auth.size() + 4 > 0xFFFF)
        return;
    Put16(reply, 0x0404);
    Put16(reply, auth.size() + 4);
    reply.insert(reply.end(), auth.begin(), auth.end());

    timelib::NtsReplyCookies cookies;
    const bool opened = Open(reply, Keys, &cookies);
    // With nothing else before it, the reply opens exactly when the nonce is long enough and
    // the plaintext is fields, and gives the cookies among them.
    if (!our_id || !outer.empty() || reply.size() > timelib::MaxNtsReplyBytes)
        return;
    std::vector<Bytes> expected;
    const bool laid_out = ExpectedCookies(plaintext, &expected);
    Require(opened == (nonce_length >= timelib::NtsNonceBytes && laid_out));
    if (!opened)
        return;
    Require(cookies.count == static_cast<int>(expected.size()));
    for (int i = 0; i < cookies.count; ++i) {
        const timelib::NtsCookie& c = cookies.cookies[i];
        Require(Bytes(c.bytes, c.bytes + c.length) == expected[static_cast<std::size_t>(i)]);
    }
}

// Input: the placeholder count, the cookie's length (two bytes), the Transmit Timestamp (8
// bytes), then the cookie's bytes (zeros past the input's end).
void FuzzRequest(const std::uint8_t* data, std::size_t size) {
    if (size < 11)
        return;
    const int placeholders = data[0] % timelib::MaxNtsCookies;
    timelib::NtsCookie cookie{};
    cookie.length = static_cast<std::uint16_t>(1 + (data[1] << 8 | data[2]) % 256);
    timelib::NtpTimestamp transmit = 0;
    for (int i = 0; i < 8; ++i)
        transmit = transmit << 8 | data[3 + i];
    std::memcpy(cookie.bytes, data + 11, std::min<std::size_t>(size - 11, cookie.length));
    const std::uint8_t nonce[timelib::NtsNonceBytes] = {9, 8, 7};

    Bytes request(timelib::MaxNtsRequestBytes);
    const std::int32_t length = timelib::BuildNtsRequest(transmit, UniqueId, cookie, placeholders,
                                                         SameKeys, nonce, request.data());
    // The header, the identifier, the cookie and its placeholders (16 bytes at least each),
    // the authenticator.
    const int cookie_field = std::max(16, 4 + ((cookie.length + 3) & ~3));
    Require(length == 48 + 36 + (1 + placeholders) * cookie_field + 40);
    request.resize(static_cast<std::size_t>(length));
    // Under the same key both ways, a request is an authentic reply with no new cookie.
    timelib::NtsReplyCookies cookies;
    Require(Open(request, SameKeys, &cookies) && cookies.count == 0);
}

struct Mode {
    const char* name;
    void (*run)(const std::uint8_t* data, std::size_t size);
};

constexpr Mode Modes[] = {
    {"datagram", FuzzDatagram},
    {"sealed reply", FuzzSealedReply},
    {"request", FuzzRequest},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Modes[data[0] % std::size(Modes)].run(data + 1, size - 1);
    return 0;
}
