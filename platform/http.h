// One HTTP request whose answer's Date header is wanted, by the system's own HTTP stack:
// WinHTTP on Windows (the system's certificate store and proxy settings), libcurl on POSIX,
// loaded when first needed (the system's CA bundle and the usual proxy variables), so that
// nothing new is needed to load the plug-in. Certificates and host names are always verified.
#pragma once

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
};

struct HttpExchange {
    HttpFailure failure;
    char detail[160];         // the HTTP stack's words for a failure
    std::int32_t status;      // the status code
    char date[64];            // the Date header's value, without blanks around it; "" if none
    std::int64_t sent_ns;     // from the call's start to the request leaving, connection and
                              // TLS set-up done
    std::int64_t received_ns; // from the call's start to the status line's arrival
    char address[64];         // the address connected to, as text; "" when unknown
};

// Sends one request (HEAD, or GET when head is false, whose body is not read) to url and
// waits at most timeout_ms for the answer's headers, resolution and handshakes included.
void HttpDateRequest(const char* url, bool head, std::int32_t timeout_ms, HttpExchange* out);

} // namespace platform
