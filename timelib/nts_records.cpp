#include "timelib/nts_records.h"

#include "timelib/source_outcome.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mbedtls/platform_util.h>

namespace timelib {
namespace {

// Record types (RFC 8915 section 4.1); the top bit of the type word is the critical bit.
constexpr std::uint16_t CriticalBit = 0x8000;
constexpr std::uint16_t EndOfMessage = 0;
constexpr std::uint16_t NextProtocol = 1;
constexpr std::uint16_t Error = 2;
constexpr std::uint16_t Warning = 3;
constexpr std::uint16_t AeadAlgorithm = 4;
constexpr std::uint16_t NewCookie = 5;
constexpr std::uint16_t NtpServer = 6;
constexpr std::uint16_t NtpPort = 7;

constexpr const char* RecordNames[] = {
    "End of Message",
    "Next Protocol Negotiation",
    "Error",
    "Warning",
    "AEAD Negotiation",
    "New Cookie",
    "NTPv4 Server",
    "NTPv4 Port",
};

constexpr int RecordHeaderBytes = 4;

std::uint16_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

const char* ErrorName(std::uint16_t code) {
    switch (code) {
    case 0:
        return " (unrecognised critical record)";
    case 1:
        return " (bad request)";
    case 2:
        return " (internal server error)";
    default:
        return "";
    }
}

// Ends the parse as Failed: what was taken so far (cookies among it) is wiped, and message
// says why after its first word.
NtsKeParse Fail(NtsKeResponse* response, char* message, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

NtsKeParse Fail(NtsKeResponse* response, char* message, const char* format, ...) {
    mbedtls_platform_zeroize(response, sizeof *response);
    const int prefix = std::snprintf(message, MessageBytes, "nts-ke: ");
    va_list args;
    va_start(args, format);
    std::vsnprintf(message + prefix, static_cast<std::size_t>(MessageBytes - prefix), format, args);
    va_end(args);
    return NtsKeParse::Failed;
}

// Not Failed yet, but nothing to take either: what was read so far is wiped.
NtsKeParse Incomplete(NtsKeResponse* response) {
    mbedtls_platform_zeroize(response, sizeof *response);
    return NtsKeParse::Incomplete;
}

// The NTPv4 server is a host name or an IPv4 or IPv6 address in ASCII: printable characters
// without spaces, so that it passes unchanged to the address parser and into messages.
bool IsHostText(const std::uint8_t* body, int length) {
    if (length < 1 || length > MaxHostBytes)
        return false;
    for (int i = 0; i < length; ++i) {
        if (body[i] <= 0x20 || body[i] >= 0x7F)
            return false;
    }
    return true;
}

} // namespace

void BuildNtsKeRequest(std::uint8_t (&out)[NtsKeRequestBytes]) {
    // Each record critical: a server that knows none of them must refuse, not guess.
    constexpr std::uint8_t Critical = CriticalBit >> 8;
    constexpr std::uint8_t Request[NtsKeRequestBytes] = {
        Critical, NextProtocol,  0, 2, 0, NtsNextProtocolNtpV4, // NTPv4
        Critical, AeadAlgorithm, 0, 2, 0, NtsAeadAesSivCmac256, // AEAD_AES_SIV_CMAC_256
        Critical, EndOfMessage,  0, 0,
    };
    std::memcpy(out, Request, sizeof Request);
}

NtsKeParse ParseNtsKeResponse(const std::uint8_t* data, std::int32_t length,
                              NtsKeResponse* response, char* message) {
    // Each call reads everything received so far from the start: nothing of an earlier call
    // survives it.
    std::memset(response, 0, sizeof *response);
    message[0] = '\0';
    if (length > MaxNtsKeResponseBytes)
        return Fail(response, message, "the response is longer than %d bytes",
                    MaxNtsKeResponseBytes);

    bool seen[NtpPort + 1] = {};
    bool ntpv4 = false;
    std::int32_t at = 0;
    for (;;) {
        // 1. A whole record header and body, or read on; a record that would end beyond the
        //    bound will not fit, however many bytes come.
        if (length - at < RecordHeaderBytes)
            return Incomplete(response);
        const std::uint16_t word = Read16(data + at);
        const int body_length = Read16(data + at + 2);
        const std::int32_t end = at + RecordHeaderBytes + body_length;
        if (end > MaxNtsKeResponseBytes)
            return Fail(response, message, "the response is longer than %d bytes",
                        MaxNtsKeResponseBytes);
        if (end > length)
            return Incomplete(response);
        const std::uint8_t* body = data + at + RecordHeaderBytes;
        const std::uint16_t type = word & 0x7FFF;
        at = end;

        // 2. Unknown types: fatal only when critical (RFC 8915 section 4).
        if (type > NtpPort) {
            if ((word & CriticalBit) != 0)
                return Fail(response, message,
                            "the server sends an unknown critical record (type %u)",
                            static_cast<unsigned>(type));
            continue;
        }
        // 3. The body length each type allows; one record of a kind, except cookies and
        //    warnings.
        const bool even = body_length % 2 == 0;
        const bool fits[] = {
            body_length == 0,
            even,
            body_length == 2,
            body_length == 2,
            even,
            body_length >= 1 && body_length <= MaxNtsCookieBytes,
            body_length >= 1,
            body_length == 2,
        };
        if (!fits[type])
            return Fail(response, message, "the %s record has a body of %d bytes",
                        RecordNames[type], body_length);
        if (seen[type] && type != NewCookie && type != Warning)
            return Fail(response, message, "two %s records", RecordNames[type]);
        seen[type] = true;

        // 4. What each says.
        switch (type) {
        case EndOfMessage:
            break;
        case NextProtocol:
            // The protocols the server accepts, from those we offered: only NTPv4.
            for (int i = 0; i < body_length; i += 2) {
                const std::uint16_t protocol = Read16(body + i);
                if (protocol != NtsNextProtocolNtpV4)
                    return Fail(response, message, "the server names next protocol %u, not offered",
                                static_cast<unsigned>(protocol));
                ntpv4 = true;
            }
            continue;
        case Error: {
            const std::uint16_t code = Read16(body);
            return Fail(response, message, "the server reports error %u%s",
                        static_cast<unsigned>(code), ErrorName(code));
        }
        case Warning:
            // A client may go on after a warning (section 4.1.4), and none is defined.
            continue;
        case AeadAlgorithm:
            // The one algorithm the server chose, from those we offered.
            if (body_length == 0)
                return Fail(response, message, "the server supports no AEAD algorithm offered");
            if (body_length != 2 || Read16(body) != NtsAeadAesSivCmac256)
                return Fail(response, message, "the server chooses AEAD algorithm %u, not offered",
                            static_cast<unsigned>(Read16(body)));
            continue;
        case NewCookie:
            // Kept up to what a session holds; the rest are read and dropped.
            if (response->cookie_count < MaxNtsCookies) {
                NtsCookie& cookie = response->cookies[response->cookie_count++];
                cookie.length = static_cast<std::uint16_t>(body_length);
                std::memcpy(cookie.bytes, body, static_cast<std::size_t>(body_length));
            }
            continue;
        case NtpServer:
            if (!IsHostText(body, body_length))
                return Fail(response, message, "the NTPv4 server is not a host name or address");
            std::memcpy(response->ntp_server, body, static_cast<std::size_t>(body_length));
            response->ntp_server[body_length] = '\0';
            continue;
        default: // NtpPort
            response->ntp_port = Read16(body);
            if (response->ntp_port == 0)
                return Fail(response, message, "the server names NTPv4 port 0");
            continue;
        }
        break; // End of Message
    }

    // 5. End of Message ends the response; all a session needs is there.
    if (at != length)
        return Fail(response, message, "%d bytes after End of Message", length - at);
    if (!ntpv4)
        return Fail(response, message, "the server supports no NTPv4");
    if (!seen[AeadAlgorithm])
        return Fail(response, message, "the response chooses no AEAD algorithm");
    if (response->cookie_count == 0)
        return Fail(response, message, "the response carries no cookie");
    return NtsKeParse::Complete;
}

} // namespace timelib
