// Where a TLS client finds the roots it trusts: the system's, as its web client trusts them.
// On Linux a CA bundle file (the one libcurl reads); on Windows the system's chain engine,
// which also fetches roots on demand, asked about the chain a server sent.
#pragma once

#include <cstdint>

namespace platform {

// The CA bundle's path, or null where the system checks chains itself (Windows).
const char* CaBundlePath();

// One certificate of the chain a server sent, DER encoded; the server's own first.
struct DerCertificate {
    const std::uint8_t* data;
    std::int32_t length;
};

// Room for why a chain was refused.
constexpr int TrustReasonBytes = 160;

// Windows: checks the chain against the system's roots with the SSL policy for server host
// (the name, the dates against this machine's clock, the use); true when it holds, else
// reason says why in words that follow "the certificate of HOST " ("is for another name",
// "has expired or is not yet valid by this machine's clock (2026-01-02 03:04 UTC)"). A null
// host leaves the name out: the caller checks an address against the certificate itself,
// since not every chain engine matches IP addresses. Where CaBundlePath() is not null this is
// never called and says false.
bool CheckChainWithSystem(const DerCertificate* chain, int count, const char* host,
                          char (&reason)[TrustReasonBytes]);

} // namespace platform
