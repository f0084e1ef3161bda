// Network Time Security's key exchange with one server (RFC 8915 section 4): TLS 1.3 with
// ALPN "ntske/1" (runtime/tls_client), the request and response records (nts_records), and
// the two keys exported from the session for the NTP exchanges that follow (nts_fields).
#pragma once

#include "runtime/cancellation.h"
#include "runtime/tls_client.h"
#include "timelib/nts_fields.h"
#include "timelib/nts_records.h"
#include "timelib/server_address.h"
#include "timelib/source_outcome.h"

namespace timelib {

// What a key exchange leaves for the NTP exchanges.
struct NtsKeyExchange {
    NtsKeys keys;
    NtsKeResponse response; // the cookies and the NTP server negotiated
};

// Exchanges keys with server (host as given, for the server name and the certificate) at one
// of count addresses, within the deadline. False with outcome's message set: network,
// timeout, cancelled, tls or nts-ke (see nts_records.h).
bool ExchangeNtsKeys(const ServerAddress& server, const platform::NetAddress* addresses, int count,
                     const runtime::Deadline& deadline, const runtime::Cancellation* cancel,
                     NtsKeyExchange* result, SourceOutcome* outcome);

} // namespace timelib
