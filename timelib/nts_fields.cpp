#include "timelib/nts_fields.h"

#include <cstring>
#include <mbedtls/platform_util.h>

// The one Mbed TLS header without the C++ guard the others have.
extern "C" {
#include <mbedtls/constant_time.h>
}

namespace timelib {
namespace {

// Extension field types (RFC 8915 section 5.7).
constexpr std::uint16_t UniqueIdField = 0x0104;
constexpr std::uint16_t CookieField = 0x0204;
constexpr std::uint16_t PlaceholderField = 0x0304;
constexpr std::uint16_t AuthenticatorField = 0x0404;

// Type and length, then the body; a field's length counts them all and is a multiple of 4.
constexpr int FieldHeaderBytes = 4;
// The smallest field a receiver must take (RFC 7822 section 3).
constexpr int MinFieldBytes = 16;

std::uint16_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

void Write16(std::uint8_t* p, std::int32_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

std::int32_t Padded(std::int32_t length) {
    return (length + 3) & ~3;
}

// Writes a field whose body is body_length bytes of body (zeros when null), padded to a
// multiple of 4 and to the smallest field; returns the field's length.
std::int32_t PutField(std::uint8_t* out, std::uint16_t type, const std::uint8_t* body,
                      std::int32_t body_length) {
    std::int32_t length = FieldHeaderBytes + Padded(body_length);
    if (length < MinFieldBytes)
        length = MinFieldBytes;
    std::memset(out, 0, static_cast<std::size_t>(length));
    Write16(out, type);
    Write16(out + 2, length);
    if (body != nullptr)
        std::memcpy(out + FieldHeaderBytes, body, static_cast<std::size_t>(body_length));
    return length;
}

struct Field {
    std::uint16_t type;
    const std::uint8_t* body;
    std::int32_t body_length; // padding included
    std::int32_t offset;      // of the field's first byte
};

// Calls visit(field) for each field from data + at to data + length, which they must fill
// exactly; false when one breaks the layout or visit says no.
template <typename Visit>
bool WalkFields(const std::uint8_t* data, std::int32_t length, std::int32_t at, Visit visit) {
    while (at < length) {
        if (length - at < FieldHeaderBytes)
            return false;
        const std::int32_t field_length = Read16(data + at + 2);
        if (field_length < FieldHeaderBytes || field_length % 4 != 0 || field_length > length - at)
            return false;
        if (!visit(Field{Read16(data + at), data + at + FieldHeaderBytes,
                         field_length - FieldHeaderBytes, at}))
            return false;
        at += field_length;
    }
    return true;
}

bool IsUniqueId(const Field& field, const std::uint8_t* unique_id) {
    return field.type == UniqueIdField && field.body_length == NtsUniqueIdBytes &&
           mbedtls_ct_memcmp(field.body, unique_id, NtsUniqueIdBytes) == 0;
}

} // namespace

std::int32_t BuildNtsRequest(NtpTimestamp transmit, const std::uint8_t* unique_id,
                             const NtsCookie& cookie, int placeholders, const NtsKeys& keys,
                             const std::uint8_t* nonce, std::uint8_t* out) {
    if (unique_id == nullptr || nonce == nullptr || out == nullptr || cookie.length < 1 ||
        cookie.length > MaxNtsCookieBytes || placeholders < 0 || placeholders >= MaxNtsCookies)
        return 0;
    const NtpPacket header = BuildNtpRequest(transmit);
    std::memcpy(out, header.data(), header.size());
    std::int32_t at = NtpPacketBytes;
    at += PutField(out + at, UniqueIdField, unique_id, NtsUniqueIdBytes);
    at += PutField(out + at, CookieField, cookie.bytes, cookie.length);
    // Placeholders as long as the cookie, so that the reply is no larger than the request.
    for (int i = 0; i < placeholders; ++i)
        at += PutField(out + at, PlaceholderField, nullptr, cookie.length);

    // The authenticator: nonce and ciphertext lengths, the nonce, then the tag, which is the
    // whole ciphertext of an empty plaintext; sealed over everything before the field.
    std::uint8_t* auth = out + at;
    const std::int32_t auth_length =
        PutField(auth, AuthenticatorField, nullptr, 4 + NtsNonceBytes + AesSivTagBytes);
    Write16(auth + FieldHeaderBytes, NtsNonceBytes);
    Write16(auth + FieldHeaderBytes + 2, AesSivTagBytes);
    std::memcpy(auth + FieldHeaderBytes + 4, nonce, NtsNonceBytes);
    const ByteSpan parts[] = {{out, at}, {nonce, NtsNonceBytes}};
    if (!AesSivSeal(keys.client_to_server, parts, 2, nullptr, 0,
                    auth + FieldHeaderBytes + 4 + NtsNonceBytes)) {
        mbedtls_platform_zeroize(out, static_cast<std::size_t>(at + auth_length));
        return 0;
    }
    return at + auth_length;
}

bool OpenNtsReply(const std::uint8_t* reply, std::int32_t length, const std::uint8_t* unique_id,
                  const NtsKeys& keys, NtsReplyCookies* cookies) {
    if (cookies == nullptr)
        return false;
    std::memset(cookies, 0, sizeof *cookies);
    if (reply == nullptr || unique_id == nullptr || length < NtpPacketBytes ||
        length > MaxNtsReplyBytes)
        return false;

    // 1. Fields that fill the datagram, ending with the authenticator: nothing after it, so
    //    every other field is covered by its tag.
    int unique_ids = 0;
    bool ours = false;
    Field auth{};
    bool authenticated = false;
    const bool laid_out = WalkFields(reply, length, NtpPacketBytes, [&](const Field& field) {
        if (authenticated)
            return false;
        if (field.type == UniqueIdField) {
            ++unique_ids;
            ours = IsUniqueId(field, unique_id);
        } else if (field.type == AuthenticatorField) {
            auth = field;
            authenticated = true;
        }
        return true;
    });
    // 2. One Unique Identifier, ours: the answer to this request and no other.
    if (!laid_out || !authenticated || unique_ids != 1 || !ours)
        return false;

    // 3. The authenticator's nonce and ciphertext (at least a tag) lie within its body.
    if (auth.body_length < 4)
        return false;
    const std::int32_t nonce_length = Read16(auth.body);
    const std::int32_t sealed_length = Read16(auth.body + 2);
    if (nonce_length < NtsNonceBytes || sealed_length < AesSivTagBytes ||
        4 + Padded(nonce_length) + Padded(sealed_length) > auth.body_length)
        return false;
    const std::uint8_t* nonce = auth.body + 4;
    const std::uint8_t* sealed = nonce + Padded(nonce_length);

    // 4. The tag verifies under the server's key over the header and the fields before it.
    std::uint8_t plaintext[MaxNtsReplyBytes];
    const std::int32_t plaintext_length = sealed_length - AesSivTagBytes;
    const ByteSpan parts[] = {{reply, auth.offset}, {nonce, nonce_length}};
    if (!AesSivOpen(keys.server_to_client, parts, 2, sealed, sealed_length, plaintext))
        return false;

    // 5. The encrypted part is fields again; its cookies are the new ones (those outside
    //    it could come from anyone on the path).
    const bool inner_laid_out = WalkFields(plaintext, plaintext_length, 0, [&](const Field& f) {
        if (f.type == CookieField && f.body_length >= 1 && f.body_length <= MaxNtsCookieBytes &&
            cookies->count < MaxNtsCookies) {
            NtsCookie& cookie = cookies->cookies[cookies->count++];
            cookie.length = static_cast<std::uint16_t>(f.body_length);
            std::memcpy(cookie.bytes, f.body, static_cast<std::size_t>(f.body_length));
        }
        return true;
    });
    mbedtls_platform_zeroize(plaintext, static_cast<std::size_t>(plaintext_length));
    if (!inner_laid_out) {
        mbedtls_platform_zeroize(cookies, sizeof *cookies);
        return false;
    }
    return true;
}

bool CarriesUniqueId(const std::uint8_t* reply, std::int32_t length,
                     const std::uint8_t* unique_id) {
    if (reply == nullptr || unique_id == nullptr || length < NtpPacketBytes ||
        length > MaxNtsReplyBytes)
        return false;
    bool found = false;
    const bool laid_out = WalkFields(reply, length, NtpPacketBytes, [&](const Field& field) {
        found = found || IsUniqueId(field, unique_id);
        return true;
    });
    return laid_out && found;
}

} // namespace timelib
