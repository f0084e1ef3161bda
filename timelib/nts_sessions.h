// Network Time Security sessions kept for the process: per key-exchange server (its host in
// lower case and its port) the two keys, the cookies not yet spent and the NTP server that
// the key exchange named, resolved. Every Lua state and background query shares them, behind
// one lock, so that a call after the first sends one datagram and needs no TLS.
#pragma once

#include "runtime/name_lookup.h"
#include "timelib/nts_fields.h"
#include "timelib/server_address.h"

#include <cstdint>

namespace timelib {

// Sessions kept at most; the one used longest ago makes room for a new one.
constexpr int MaxNtsSessions = 32;

// Where a session's NTP requests go.
struct NtsNtpServer {
    platform::NetAddress addresses[runtime::MaxLookupAddresses];
    int count;
};

// What one request takes from a session: the keys, one cookie (spent by this request alone)
// and where to send it.
struct NtsTicket {
    std::uint64_t session; // which key exchange the cookie came from
    NtsKeys keys;
    NtsCookie cookie;
    int cookies_left; // in the session after this one
    NtsNtpServer ntp_server;
};

// Takes a cookie of server's session into ticket; false when there is no session or no cookie
// left in it (a key exchange is due).
bool TakeNtsTicket(const ServerAddress& server, NtsTicket* ticket);

// Keeps a new session for server (replacing its old one) with the keys and cookies of a key
// exchange and its NTP server, and takes the first ticket from it; false (nothing kept) when
// there is no cookie.
bool StoreNtsSession(const ServerAddress& server, const NtsKeys& keys, const NtsCookie* cookies,
                     int cookie_count, const NtsNtpServer& ntp_server, NtsTicket* ticket);

// Adds the cookies an authentic reply brought to the session the ticket came from, unless a
// newer key exchange has replaced it (its cookies would not open under the new keys); at most
// MaxNtsCookies are kept. Returns how many the session holds now (0 when it is gone).
int ReturnNtsCookies(const ServerAddress& server, std::uint64_t session,
                     const NtsReplyCookies& cookies);

// Forgets the session the ticket came from (a kiss NTSN): the next call exchanges keys again.
void DropNtsSession(const ServerAddress& server, std::uint64_t session);

// True when both name the same key-exchange server: the host in any case, and the port.
bool SameNtsServer(const ServerAddress& a, const ServerAddress& b);

} // namespace timelib
