// The server text the measurement functions take: a host name, a dotted IPv4 address or an
// IPv6 address, optionally with a port ("time.example.net", "192.0.2.10:1123",
// "[2001:db8::1]:1123", "::1").
#pragma once

#include <cstdint>

namespace timelib {

// Longest host part kept (a DNS name has at most 253 characters).
constexpr int MaxHostBytes = 255;

struct ServerAddress {
    char host[MaxHostBytes + 1]; // without brackets and port
    std::uint16_t port;
};

// Splits text into host and port (default_port when none is written). A colon starts a port
// only after a name, an IPv4 address or a bracketed IPv6 address; two or more colons without
// brackets are an IPv6 address. False for an empty or too long host, an unclosed bracket, or a
// port that is not 1 to 65535 in decimal digits.
bool ParseServerAddress(const char* text, std::uint16_t default_port, ServerAddress* out);

} // namespace timelib
