#include "timelib/nts_key_exchange.h"

#include <cstring>
#include <mbedtls/platform_util.h>
#include <new>

namespace timelib {
namespace {

constexpr char NtsKeAlpn[] = "ntske/1";

// RFC 8915 section 5.1: the exporter's label, and its context: the Protocol ID (NTPv4), the
// AEAD algorithm, then 0 for the client-to-server key or 1 for the server-to-client key.
constexpr char NtsExporterLabel[] = "EXPORTER-network-time-security";

bool ExportKey(runtime::TlsClient* tls, std::uint8_t direction,
               std::uint8_t (&key)[AesSivKeyBytes]) {
    const std::uint8_t context[5] = {static_cast<std::uint8_t>(NtsNextProtocolNtpV4 >> 8),
                                     static_cast<std::uint8_t>(NtsNextProtocolNtpV4 & 0xFF),
                                     static_cast<std::uint8_t>(NtsAeadAesSivCmac256 >> 8),
                                     static_cast<std::uint8_t>(NtsAeadAesSivCmac256 & 0xFF),
                                     direction};
    return runtime::TlsExportKey(tls, NtsExporterLabel, context, sizeof context, key,
                                 AesSivKeyBytes);
}

// Owns the TLS connection; closes it on every return.
class TlsHolder {
  public:
    explicit TlsHolder(runtime::TlsClient* tls) : tls_(tls) {}
    ~TlsHolder() { runtime::CloseTlsClient(tls_); }
    TlsHolder(const TlsHolder&) = delete;
    TlsHolder& operator=(const TlsHolder&) = delete;
    runtime::TlsClient* Get() const { return tls_; }

  private:
    runtime::TlsClient* tls_;
};

// The response as it arrives; it holds cookies, so it is wiped before it is freed.
class ResponseBuffer {
  public:
    ResponseBuffer() : bytes_(new (std::nothrow) std::uint8_t[MaxNtsKeResponseBytes]) {}
    ~ResponseBuffer() {
        if (bytes_ != nullptr)
            mbedtls_platform_zeroize(bytes_, MaxNtsKeResponseBytes);
        delete[] bytes_;
    }
    ResponseBuffer(const ResponseBuffer&) = delete;
    ResponseBuffer& operator=(const ResponseBuffer&) = delete;
    std::uint8_t* Get() const { return bytes_; }

  private:
    std::uint8_t* bytes_;
};

// Reads the response until the records say it is complete; false with outcome's message set.
bool ReadResponse(runtime::TlsClient* tls, const runtime::Deadline& deadline,
                  const runtime::Cancellation* cancel, NtsKeResponse* response,
                  SourceOutcome* outcome) {
    ResponseBuffer buffer;
    if (buffer.Get() == nullptr) {
        SetMessage(outcome, "nts-ke: no memory for the response");
        return false;
    }
    std::int32_t received = 0;
    for (;;) {
        // Step 1: what has arrived, after what came before (step 3 ends a full buffer).
        char message[runtime::TlsMessageBytes];
        const std::int32_t n =
            runtime::TlsRead(tls, buffer.Get() + received, MaxNtsKeResponseBytes - received,
                             deadline, cancel, message);
        if (n < 0) {
            SetMessage(outcome, "%s", message);
            return false;
        }
        if (n == 0) {
            SetMessage(outcome, "nts-ke: the server closed the connection before End of Message");
            return false;
        }
        received += n;
        // Step 2: the records so far: done, broken, or wanting more.
        char reason[MessageBytes];
        switch (ParseNtsKeResponse(buffer.Get(), received, response, reason)) {
        case NtsKeParse::Complete:
            return true;
        case NtsKeParse::Failed:
            SetMessage(outcome, "%s", reason);
            return false;
        case NtsKeParse::Incomplete:
            break;
        }
        // Step 3: no room for the End of Message that is still missing.
        if (received >= MaxNtsKeResponseBytes) {
            SetMessage(outcome, "nts-ke: the response is longer than %ld bytes",
                       static_cast<long>(MaxNtsKeResponseBytes));
            return false;
        }
    }
}

} // namespace

bool ExchangeNtsKeys(const ServerAddress& server, const platform::NetAddress* addresses, int count,
                     const runtime::Deadline& deadline, const runtime::Cancellation* cancel,
                     NtsKeyExchange* result, SourceOutcome* outcome) {
    // Step 1: TLS 1.3 with ntske/1 to the first address that accepts, its certificate checked
    // for the host as given.
    char message[runtime::TlsMessageBytes];
    TlsHolder tls(runtime::OpenTlsClient(addresses, count, server.host, NtsKeAlpn, deadline, cancel,
                                         message));
    if (tls.Get() == nullptr) {
        SetMessage(outcome, "%s", message);
        return false;
    }
    // Step 2: the request, in one write.
    std::uint8_t request[NtsKeRequestBytes];
    BuildNtsKeRequest(request);
    if (!runtime::TlsWriteAll(tls.Get(), request, NtsKeRequestBytes, deadline, cancel, message)) {
        SetMessage(outcome, "%s", message);
        return false;
    }
    // Step 3: the response: cookies and the NTP server to ask.
    if (!ReadResponse(tls.Get(), deadline, cancel, &result->response, outcome))
        return false;
    // Step 4: the two keys from the session, which the NTP exchanges authenticate with.
    if (!ExportKey(tls.Get(), 0, result->keys.client_to_server) ||
        !ExportKey(tls.Get(), 1, result->keys.server_to_client)) {
        mbedtls_platform_zeroize(&result->keys, sizeof result->keys);
        SetMessage(outcome, "tls: no keys could be exported from the session with %s", server.host);
        return false;
    }
    return true;
}

} // namespace timelib
