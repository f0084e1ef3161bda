// The NTP extension fields of Network Time Security (RFC 8915 section 5) as plain data: a
// client request that carries a Unique Identifier, one cookie, cookie placeholders and the
// Authenticator and Encrypted field; and the checks a reply must pass before it counts (our
// Unique Identifier, an authenticator that verifies under the server-to-client key), with the
// new cookies from its encrypted part. No sockets here; query_ntp's wait loop uses it.
#pragma once

#include "timelib/aes_siv.h"
#include "timelib/ntp_measurement.h"
#include "timelib/nts_records.h"

#include <cstdint>

namespace timelib {

constexpr int NtsUniqueIdBytes = 32;
constexpr int NtsNonceBytes = 16;

// The two keys exported from the key exchange's TLS session.
struct NtsKeys {
    std::uint8_t client_to_server[AesSivKeyBytes];
    std::uint8_t server_to_client[AesSivKeyBytes];
};

// The largest request: the header, the identifier, a cookie, seven placeholders and the
// authenticator, each cookie field as long as the longest cookie allows.
constexpr std::int32_t MaxNtsRequestBytes = NtpPacketBytes + (4 + NtsUniqueIdBytes) +
                                            MaxNtsCookies * (4 + MaxNtsCookieBytes) +
                                            (4 + 4 + NtsNonceBytes + AesSivTagBytes);

// The largest reply taken: the header, the identifier and an authenticator whose encrypted
// part holds MaxNtsCookies cookies, with room for a few more fields.
constexpr std::int32_t MaxNtsReplyBytes = 4096;

// The request: BuildNtpRequest(transmit) and its fields, sealed with keys.client_to_server
// and nonce. placeholders (0 to MaxNtsCookies - 1) ask for that many cookies more than the
// one the request spends. Returns its length; 0 when a part is out of range or sealing fails.
std::int32_t BuildNtsRequest(NtpTimestamp transmit, const std::uint8_t* unique_id,
                             const NtsCookie& cookie, int placeholders, const NtsKeys& keys,
                             const std::uint8_t* nonce, std::uint8_t* out);

// What an authentic reply brought: the cookies from its encrypted part (the first
// MaxNtsCookies; those too long are dropped).
struct NtsReplyCookies {
    int count;
    NtsCookie cookies[MaxNtsCookies];
};

// True when the reply's extension fields are well formed, one of them is a Unique Identifier
// equal to unique_id, and the Authenticator and Encrypted field that ends them verifies under
// keys.server_to_client over the header and every field before it; cookies then set. False
// for anything else, a plain NTP reply among them.
bool OpenNtsReply(const std::uint8_t* reply, std::int32_t length, const std::uint8_t* unique_id,
                  const NtsKeys& keys, NtsReplyCookies* cookies);

// True when the datagram's extension fields are well formed and carry unique_id: how an NTS
// NAK (a kiss NTSN, which has no authenticator) is told apart from a stranger's.
bool CarriesUniqueId(const std::uint8_t* reply, std::int32_t length, const std::uint8_t* unique_id);

} // namespace timelib
