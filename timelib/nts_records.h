// The records of Network Time Security's key exchange (RFC 8915 section 4) as plain data: the
// request a client sends over TLS, and the response read back with every rule a client must
// keep (the critical bit, Error and Warning records, End of Message, bounded lengths). No
// sockets and no TLS here; nts_key_exchange carries them.
#pragma once

#include "timelib/server_address.h"

#include <cstdint>

namespace timelib {

constexpr std::uint16_t NtsKePort = 4460;
constexpr std::uint16_t NtsAeadAesSivCmac256 = 15;
constexpr std::uint16_t NtsNextProtocolNtpV4 = 0;

// Cookies kept from one exchange (more are read and dropped), and the longest one taken: a
// request carries a cookie and placeholders of its size, and must stay one datagram.
constexpr int MaxNtsCookies = 8;
constexpr int MaxNtsCookieBytes = 256;

// The longest response read: anything longer is malformed.
constexpr std::int32_t MaxNtsKeResponseBytes = 16384;

// The request: Next Protocol Negotiation (NTPv4), AEAD Algorithm Negotiation
// (AEAD_AES_SIV_CMAC_256), End of Message, each critical.
constexpr std::int32_t NtsKeRequestBytes = 16;
void BuildNtsKeRequest(std::uint8_t (&out)[NtsKeRequestBytes]);

struct NtsCookie {
    std::uint16_t length;
    std::uint8_t bytes[MaxNtsCookieBytes];
};

// What a complete response gave.
struct NtsKeResponse {
    int cookie_count;
    NtsCookie cookies[MaxNtsCookies];
    char ntp_server[MaxHostBytes + 1]; // NTPv4 Server Negotiation; empty: the key-exchange host
    std::uint16_t ntp_port;            // NTPv4 Port Negotiation; 0: none (123)
};

enum class NtsKeParse {
    Incomplete, // no End of Message yet: read on
    Complete,   // a response with NTPv4, AES-SIV-CMAC-256 and at least one cookie
    Failed,     // message says why, starting "nts-ke: "
};

// Reads the response's first length bytes (everything received so far). Failed for an Error
// record, an unknown critical record, a record that breaks its own rules or is longer than
// its kind allows, no NTPv4, no or another AEAD algorithm, no cookie, a cookie longer than
// MaxNtsCookieBytes, bytes after End of Message, or more than MaxNtsKeResponseBytes.
// message: at least MessageBytes (source_outcome.h).
NtsKeParse ParseNtsKeResponse(const std::uint8_t* data, std::int32_t length,
                              NtsKeResponse* response, char* message);

} // namespace timelib
