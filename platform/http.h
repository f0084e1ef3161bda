// One HTTP request whose answer's Date header is wanted, by the system's own HTTP stack:
// WinHTTP on Windows (the system's certificate store and proxy settings), libcurl on POSIX,
// loaded when first needed (the system's CA bundle and the usual proxy variables), so that
// nothing new is needed to load the plug-in. Certificates and host names are always verified.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace platform {

enum class HttpFailure {
    None,
    Unavailable, // no HTTP stack on this machine
    Resolve,     // the host name does not resolve
    Network,     // no connection, or it broke
    Timeout,     // the time ran out
    Tls,         // the handshake failed or the certificate was refused
    Protocol,    // not an HTTP answer
    Cancelled,   // the caller's cancel flag was set
};

struct HttpExchange {
    HttpFailure failure;
    char detail[160];    // the HTTP stack's words for a failure
    std::int32_t status; // the status code
    // Header values without blanks around them, "" if none. Two lines of one header are
    // joined with ", " as HTTP joins a list (even when the first is empty); a value too long
    // for its field is cut and ends in "...", so neither reads as a valid single value.
    char date[64];
    char age[32];
    // How many lines of each header the answer carried, even empty ones: each may come once.
    std::int32_t date_lines;
    std::int32_t age_lines;
    // Instants on the boot clock (precise_time_ops.boot_time_ns) read right around the
    // request: when it left, connection and TLS set-up done, and when the status line
    // arrived. No redirect is followed, so both belong to the answer whose headers these are.
    std::int64_t sent_boot_ns;
    std::int64_t received_boot_ns;
    // The numeric address and the port connected to (a proxy's when one is used); "" and 0
    // when unknown.
    char address[64];
    std::uint16_t port;
};

// Adds one header line's value (length bytes at value, blanks already trimmed) to field, a
// text of size bytes, and counts the line in *lines: after ", " when a line came before;
// cut and ending in "..." when it does not fit. Both stacks store Date and Age through it.
inline void AddHeaderValue(char* field, std::size_t size, std::int32_t* lines, const char* value,
                           std::size_t length) {
    std::size_t at = 0;
    while (field[at] != '\0')
        ++at;
    const bool after = (*lines)++ > 0;
    const char* parts[] = {after ? ", " : "", value};
    const std::size_t lengths[] = {after ? 2u : 0u, length};
    bool cut = false;
    for (int p = 0; p < 2; ++p) {
        for (std::size_t i = 0; i < lengths[p]; ++i) {
            if (at + 1 < size)
                field[at++] = parts[p][i];
            else
                cut = true;
        }
    }
    field[at] = '\0';
    if (cut && size >= 4) {
        for (std::size_t i = 0; i < 3; ++i)
            field[size - 4 + i] = '.';
    }
}

// Sends one request (HEAD, or GET when head is false, whose body is not read) to url and
// waits at most timeout_ms for the answer's headers, resolution, proxy discovery and
// handshakes included. A redirect is an answer like any other: it is not followed. Once
// *cancelled (when given) is true the call ends early with Cancelled and lets go of the
// connection: libcurl looks at it at least once a second; on Windows the wait looks every 10 ms
// and, as it leaves, closes WinHTTP's request, which ends it (wine's goes on to its timeout).
void HttpDateRequest(const char* url, bool head, std::int32_t timeout_ms, HttpExchange* out,
                     const std::atomic<bool>* cancelled = nullptr);

} // namespace platform
