#include "timelib/server_address.h"

#include <cstring>

namespace timelib {
namespace {

// Decimal digits only, 1 to 65535.
bool ParsePort(const char* text, std::uint16_t* port) {
    if (*text == '\0')
        return false;
    std::uint32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + static_cast<std::uint32_t>(*c - '0');
        if (value > 65535)
            return false;
    }
    if (value == 0)
        return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

bool CopyHost(const char* from, std::size_t length, ServerAddress* out) {
    if (length == 0 || length > MaxHostBytes)
        return false;
    std::memcpy(out->host, from, length);
    out->host[length] = '\0';
    return true;
}

} // namespace

bool ParseServerAddress(const char* text, std::uint16_t default_port, ServerAddress* out) {
    out->port = default_port;
    // "[address]" or "[address]:port".
    if (text[0] == '[') {
        const char* close = std::strchr(text, ']');
        if (close == nullptr)
            return false;
        if (close[1] != '\0' && (close[1] != ':' || !ParsePort(close + 2, &out->port)))
            return false;
        return CopyHost(text + 1, static_cast<std::size_t>(close - text - 1), out);
    }
    // One colon ends a name or an IPv4 address; more belong to an IPv6 address.
    const char* colon = std::strchr(text, ':');
    if (colon != nullptr && std::strchr(colon + 1, ':') == nullptr) {
        if (!ParsePort(colon + 1, &out->port))
            return false;
        return CopyHost(text, static_cast<std::size_t>(colon - text), out);
    }
    return CopyHost(text, std::strlen(text), out);
}

} // namespace timelib
