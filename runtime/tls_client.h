// A TLS 1.3 client connection over TCP, on Mbed TLS, for Network Time Security's key
// exchange: one protocol named by ALPN, the server's name sent and checked against its
// certificate, the certificate checked against the system's roots (platform/trust.h), every
// wait bounded by the caller's deadline and ended at once by a cancel. Sockets come from
// platform/socket.h; nothing here knows NTS.
#pragma once

#include "platform/socket.h"
#include "runtime/cancellation.h"

#include <cstdint>

namespace runtime {

class TlsClient;

// Room for a failure message.
constexpr int TlsMessageBytes = 256;

// When the call must end: start and limit on runtime::ElapsedMs, as runtime/clock.h counts.
struct Deadline {
    std::int32_t start;
    std::int32_t limit_ms;
};

// Connects to the first of count addresses that accepts (TCP_NODELAY set), and completes a
// TLS 1.3 handshake (nothing older) offering alpn alone, with host as the server name (SNI
// and the certificate's name check; an address's text checks the certificate's IP
// addresses). Null on failure, with message set: "network: ..." (no connection), "timeout:
// ...", "cancelled", or "tls: ..." (the handshake, no TLS 1.3, no alpn agreed, the
// certificate: its name, its chain, its dates, which this machine's clock judges).
TlsClient* OpenTlsClient(const platform::NetAddress* addresses, int count, const char* host,
                         const char* alpn, const Deadline& deadline, const Cancellation* cancel,
                         char (&message)[TlsMessageBytes]);

// Sends all length bytes; false with message set on failure, timeout or cancel.
bool TlsWriteAll(TlsClient* client, const void* data, std::int32_t length, const Deadline& deadline,
                 const Cancellation* cancel, char (&message)[TlsMessageBytes]);

// Reads what has arrived, waiting for some within the deadline: the count (> 0), 0 when the
// server closed the connection, -1 with message set on failure, timeout or cancel.
std::int32_t TlsRead(TlsClient* client, void* buffer, std::int32_t length, const Deadline& deadline,
                     const Cancellation* cancel, char (&message)[TlsMessageBytes]);

// Keying material from the session (RFC 8446's exporter) for label and context; false when
// the library refuses.
bool TlsExportKey(TlsClient* client, const char* label, const std::uint8_t* context,
                  std::int32_t context_length, std::uint8_t* out, std::int32_t length);

// Closes the connection (with close_notify when it can be sent at once). Null is ignored.
void CloseTlsClient(TlsClient* client);

// Frees what the process keeps for every connection (the parsed roots, the crypto library's
// state), for the module's teardown once no connection is open; the next connection starts
// them again.
void ReleaseTlsState();

} // namespace runtime
