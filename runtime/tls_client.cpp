#include "runtime/tls_client.h"

#include "platform/system_time.h"
#include "platform/trust.h"
#include "runtime/clock.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mbedtls/asn1.h>
#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/platform.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>
#include <mutex>
#include <new>
#include <psa/crypto.h>
// This header of 3.6 lacks the C++ guard the others have.
extern "C" {
#include <mbedtls/psa_util.h>
}

namespace runtime {

// The records a server sends during the handshake, followed just far enough to read the
// description of an alert sent in the clear: the library reports any alert alike, yet "no
// TLS 1.3" and "no such protocol" call for different words.
class AlertWatch {
  public:
    void Feed(const std::uint8_t* bytes, std::size_t length) {
        while (length > 0) {
            // A record's header: type, version, length.
            if (header_have_ < 5) {
                header_[header_have_++] = *bytes++;
                --length;
                if (header_have_ == 5) {
                    body_length_ = static_cast<std::size_t>(header_[3] << 8 | header_[4]);
                    body_seen_ = 0;
                    if (body_length_ == 0)
                        header_have_ = 0;
                }
                continue;
            }
            // Its body, skipped but for an alert in the clear: type 21, level then description.
            const std::size_t left = body_length_ - body_seen_;
            const std::size_t take = length < left ? length : left;
            if (header_[0] == 21 && body_length_ == 2 && body_seen_ <= 1 && body_seen_ + take >= 2)
                description_ = bytes[1 - body_seen_];
            body_seen_ += take;
            bytes += take;
            length -= take;
            if (body_seen_ == body_length_)
                header_have_ = 0;
        }
    }

    // The last description seen; -1 for none.
    int Description() const { return description_; }

  private:
    std::uint8_t header_[5] = {};
    int header_have_ = 0;
    std::size_t body_length_ = 0;
    std::size_t body_seen_ = 0;
    int description_ = -1;
};

// One connection: the socket, the library's session over it and its configuration.
class TlsClient {
  public:
    TlsClient() {
        mbedtls_ssl_config_init(&config);
        mbedtls_ssl_init(&ssl);
    }
    ~TlsClient() {
        mbedtls_ssl_free(&ssl);
        mbedtls_ssl_config_free(&config);
        platform::CloseSocket(socket);
    }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    platform::SocketHandle socket = platform::InvalidSocket;
    mbedtls_ssl_config config;
    mbedtls_ssl_context ssl;
    bool io_failed = false;                   // the socket itself failed (not TLS over it)
    bool established = false;                 // the handshake completed: close_notify may be sent
    AlertWatch alerts;                        // until established
    char host[256] = {};                      // for messages
    alignas(4) std::uint8_t address[16] = {}; // host as an address (4 or 16 bytes)
    std::size_t address_length = 0;           // 0: host is a name
    char alpn[256] = {};                      // the one protocol offered; the list points here
    const char* alpn_list[2] = {alpn, nullptr};
};

namespace {

// Certificates of the server's chain handed to the system's check; a longer chain is cut.
constexpr int MaxChainCertificates = 10;

// What the process keeps for every connection: the crypto library started, and the CA bundle
// decoded once (reading it costs milliseconds). Neither fails for good: a later
// connection tries again.
std::mutex shared_lock;
bool crypto_started = false;

void Say(char (&message)[TlsMessageBytes], const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

void Say(char (&message)[TlsMessageBytes], const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, TlsMessageBytes, format, args);
    va_end(args);
}

long LimitOf(const Deadline& deadline) {
    return deadline.limit_ms < 0 ? 0L : static_cast<long>(deadline.limit_ms);
}

bool StartCrypto() {
    const std::lock_guard<std::mutex> hold(shared_lock);
    if (!crypto_started)
        crypto_started = psa_crypto_init() == PSA_SUCCESS;
    return crypto_started;
}

// The largest bundle read, and the largest certificate taken from it.
constexpr long MaxBundleBytes = 16L << 20;
constexpr std::size_t MaxCertificateBytes = 16384;

// A base64 digit's value; -1 for any other byte.
int Base64Digit(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Decodes the base64 between body and tail into out (at most capacity bytes); its length, or
// 0 when it is not base64 or does not fit. The bundle is public, so a plain table serves: the
// library's constant-time decoder, which guards secret keys, made reading the bundle most of a
// process's first key exchange.
std::size_t DecodeBase64(const char* body, const char* tail, unsigned char* out,
                         std::size_t capacity) {
    std::size_t length = 0;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char* at = body; at < tail && *at != '='; ++at) {
        const unsigned char c = static_cast<unsigned char>(*at);
        if (c == '\n' || c == '\r' || c == ' ' || c == '\t')
            continue;
        const int digit = Base64Digit(c);
        if (digit < 0)
            return 0;
        bits = bits << 6 | static_cast<std::uint32_t>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            if (length == capacity)
                return 0;
            out[length++] = static_cast<unsigned char>(bits >> count);
        }
    }
    return length;
}

// Where a certificate's subject, as the whole encoded Name, sits in its DER; false when the
// DER is not a certificate.
bool FindSubject(const unsigned char* der, std::size_t length, std::size_t* offset,
                 std::size_t* size) {
    constexpr int Sequence = MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE;
    auto* at = const_cast<unsigned char*>(der);
    const unsigned char* end = der + length;
    std::size_t n = 0;
    // Certificate, then tbsCertificate: [0] version, serial, signature, issuer, validity.
    if (mbedtls_asn1_get_tag(&at, end, &n, Sequence) != 0 ||
        mbedtls_asn1_get_tag(&at, end, &n, Sequence) != 0)
        return false;
    end = at + n;
    if (mbedtls_asn1_get_tag(&at, end, &n,
                             MBEDTLS_ASN1_CONTEXT_SPECIFIC | MBEDTLS_ASN1_CONSTRUCTED) == 0)
        at += n;
    for (const int tag : {MBEDTLS_ASN1_INTEGER, Sequence, Sequence, Sequence}) {
        if (mbedtls_asn1_get_tag(&at, end, &n, tag) != 0)
            return false;
        at += n;
    }
    unsigned char* subject = at;
    if (mbedtls_asn1_get_tag(&at, end, &n, Sequence) != 0)
        return false;
    *offset = static_cast<std::size_t>(subject - der);
    *size = static_cast<std::size_t>(at + n - subject);
    return true;
}

// The CA bundle decoded once: every root's DER and where its subject lies, so that a handshake
// parses only the roots whose subject is the issuer it looks for, not all of them.
struct BundleRoot {
    std::size_t offset, length;                 // in der
    std::size_t subject_offset, subject_length; // in der
};
struct Bundle {
    unsigned char* der;
    BundleRoot* roots;
    int count;
};
Bundle* ca_bundle = nullptr;

void FreeBundle(Bundle* b) {
    if (b != nullptr) {
        delete[] b->der;
        delete[] b->roots;
        delete b;
    }
}

// Decodes every certificate of a PEM text into a new bundle; null when it holds none.
Bundle* DecodeBundle(const char* text, const char* stop) {
    static const char begin[] = "-----BEGIN CERTIFICATE-----";
    static const char end[] = "-----END CERTIFICATE-----";
    const auto size = static_cast<std::size_t>(stop - text);
    auto* b = new (std::nothrow) Bundle{new (std::nothrow) unsigned char[size / 4 * 3 + 3],
                                        new (std::nothrow) BundleRoot[size / 64 + 1], 0};
    if (b == nullptr || b->der == nullptr || b->roots == nullptr) {
        FreeBundle(b);
        return nullptr;
    }
    std::size_t used = 0;
    for (;;) {
        const char* body = std::search(text, stop, begin, begin + sizeof begin - 1);
        const char* tail = body == stop ? stop : std::search(body, stop, end, end + sizeof end - 1);
        if (tail == stop)
            break;
        text = tail + sizeof end - 1;
        BundleRoot root{used, 0, 0, 0};
        const std::size_t room = size / 4 * 3 + 3 - used;
        root.length = DecodeBase64(body + sizeof begin - 1, tail, b->der + used,
                                   room < MaxCertificateBytes ? room : MaxCertificateBytes);
        if (root.length > 0 &&
            FindSubject(b->der + used, root.length, &root.subject_offset, &root.subject_length)) {
            root.subject_offset += used;
            used += root.length;
            b->roots[b->count++] = root;
        }
    }
    if (b->count == 0) {
        FreeBundle(b);
        return nullptr;
    }
    return b;
}

// The bundle, read on the first call that finds it readable; null when it cannot be read or
// holds no certificate.
const Bundle* BundleRoots(const char* path) {
    const std::lock_guard<std::mutex> hold(shared_lock);
    if (ca_bundle != nullptr)
        return ca_bundle;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    char* text = size > 0 && size <= MaxBundleBytes && std::fseek(file, 0, SEEK_SET) == 0
                     ? new (std::nothrow) char[static_cast<std::size_t>(size)]
                     : nullptr;
    const bool read = text != nullptr && std::fread(text, 1, static_cast<std::size_t>(size),
                                                    file) == static_cast<std::size_t>(size);
    std::fclose(file);
    if (read)
        ca_bundle = DecodeBundle(text, text + size);
    delete[] text;
    return ca_bundle;
}

// The library asks for the roots that may have issued child: those whose subject is its
// issuer byte for byte, or, when none is (the same name encoded another way), every root.
int CandidateRoots(void* context, const mbedtls_x509_crt* child, mbedtls_x509_crt** candidates) {
    const Bundle& b = *static_cast<const Bundle*>(context);
    *candidates = nullptr;
    auto* list = static_cast<mbedtls_x509_crt*>(mbedtls_calloc(1, sizeof(mbedtls_x509_crt)));
    if (list == nullptr)
        return MBEDTLS_ERR_X509_ALLOC_FAILED;
    mbedtls_x509_crt_init(list);
    int taken = 0;
    for (int pass = 0; pass < 2 && taken == 0; ++pass) {
        for (int i = 0; i < b.count; ++i) {
            const BundleRoot& root = b.roots[i];
            const bool named = root.subject_length == child->issuer_raw.len &&
                               std::memcmp(b.der + root.subject_offset, child->issuer_raw.p,
                                           root.subject_length) == 0;
            if ((named || pass == 1) &&
                mbedtls_x509_crt_parse_der_nocopy(list, b.der + root.offset, root.length) == 0)
                ++taken;
        }
    }
    if (taken == 0) {
        mbedtls_x509_crt_free(list);
        mbedtls_free(list);
        return 0;
    }
    *candidates = list;
    return 0;
}

// The library's I/O over the non-blocking socket: "want" instead of a wait, which the loops
// below do themselves, on the socket and the cancel's wake-up at once.
int SendToSocket(void* context, const unsigned char* data, size_t length) {
    auto* client = static_cast<TlsClient*>(context);
    const auto chunk = static_cast<std::int32_t>(length < 0x40000000u ? length : 0x40000000u);
    const std::int32_t n = platform::SendStream(client->socket, data, chunk);
    if (n == platform::WouldBlock)
        return MBEDTLS_ERR_SSL_WANT_WRITE;
    if (n < 0) {
        client->io_failed = true;
        return MBEDTLS_ERR_NET_SEND_FAILED;
    }
    return n;
}

int ReceiveFromSocket(void* context, unsigned char* buffer, size_t length) {
    auto* client = static_cast<TlsClient*>(context);
    const auto chunk = static_cast<std::int32_t>(length < 0x40000000u ? length : 0x40000000u);
    const std::int32_t n = platform::ReceiveStream(client->socket, buffer, chunk);
    if (n == platform::WouldBlock)
        return MBEDTLS_ERR_SSL_WANT_READ;
    if (n < 0) {
        client->io_failed = true;
        return MBEDTLS_ERR_NET_RECV_FAILED;
    }
    if (!client->established)
        client->alerts.Feed(buffer, static_cast<std::size_t>(n));
    return n;
}

enum class WaitEnd {
    Ready, // the socket is ready
    Again, // woken or out of time: the next wait tells which
    Stop,  // cancelled, timed out or failed; message set
};

// Waits until the socket can send (for_write) or has something to read, a cancel wakes the
// wait, or what is left of the deadline has passed. doing names what would time out
// ("no TLS handshake with").
WaitEnd WaitForSocket(const TlsClient& client, bool for_write, const Deadline& deadline,
                      const Cancellation* cancel, const char* doing,
                      char (&message)[TlsMessageBytes]) {
    if (CancelRequested(cancel)) {
        Say(message, "cancelled");
        return WaitEnd::Stop;
    }
    const std::int32_t now = ElapsedMs();
    if (DeadlinePassed(deadline.start, now, deadline.limit_ms)) {
        Say(message, "timeout: %s %s within %ld ms", doing, client.host, LimitOf(deadline));
        return WaitEnd::Stop;
    }
    // One millisecond more, so that the deadline has passed when the wait ends in silence.
    const std::uint32_t left =
        static_cast<std::uint32_t>(deadline.limit_ms) - MsBetween(deadline.start, now) + 1;
    const auto wait_ms = static_cast<std::int32_t>(left > 0x7FFFFFFFu ? 0x7FFFFFFFu : left);
    const platform::SocketHandle wake =
        cancel != nullptr ? cancel->WakeHandle() : platform::InvalidSocket;
    int ready;
    if (for_write) {
        ready = wake != platform::InvalidSocket
                    ? platform::WaitWritableOrReadable(client.socket, wake, wait_ms)
                    : platform::WaitWritable(client.socket, wait_ms);
    } else {
        // Readable first: which of the two woke the wait is told by trying again.
        const platform::SocketHandle watched[2] = {client.socket, wake};
        ready =
            platform::WaitAnyReadable(watched, wake != platform::InvalidSocket ? 2 : 1, wait_ms);
    }
    if (ready < 0) {
        Say(message, "network: the wait on the connection to %s failed", client.host);
        return WaitEnd::Stop;
    }
    return ready == 1 ? WaitEnd::Ready : WaitEnd::Again;
}

// Connects the client's socket to one address within the deadline. False with message set:
// stop tells whether the whole attempt ends (cancel, timeout) or the next address may be tried.
bool ConnectOne(TlsClient* client, const platform::NetAddress& address, const Deadline& deadline,
                const Cancellation* cancel, bool* stop, char (&message)[TlsMessageBytes]) {
    char text[platform::AddressTextBytes];
    if (!platform::AddressToText(address, text))
        std::snprintf(text, sizeof text, "?");
    client->socket = platform::OpenStreamSocket(address.family);
    if (client->socket == platform::InvalidSocket) {
        Say(message, "network: no socket for %s (%s)", client->host, text);
        return false;
    }
    // Without it each of the exchange's small writes waits for the peer's delayed
    // acknowledgement (about 40 ms).
    platform::SetNoDelay(client->socket);
    switch (platform::ConnectTo(client->socket, address)) {
    case platform::ConnectResult::Connected:
        return true;
    case platform::ConnectResult::InProgress:
        for (;;) {
            const WaitEnd end =
                WaitForSocket(*client, true, deadline, cancel, "no connection to", message);
            if (end == WaitEnd::Stop) {
                *stop = true;
                return false;
            }
            if (end == WaitEnd::Ready)
                break;
        }
        if (platform::SocketError(client->socket) == 0)
            return true;
        break;
    case platform::ConnectResult::Failed:
        break;
    }
    Say(message, "network: cannot connect to %s (%s port %u)", client->host, text,
        static_cast<unsigned>(address.port));
    platform::CloseSocket(client->socket);
    client->socket = platform::InvalidSocket;
    return false;
}

// The UTC time of this machine's clock, which judges the certificate's dates.
void ClockText(char (&text)[32]) {
    platform::SystemTime now{};
    platform::system_time_ops.get_system_time(&now);
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d UTC", static_cast<int>(now.year),
                  static_cast<int>(now.month), static_cast<int>(now.day),
                  static_cast<int>(now.hour), static_cast<int>(now.minute));
}

// Why the library refused the certificate, from its verification flags. An untrusted issuer
// first (it makes the rest moot), then the dates, then the name.
void SayCertificate(const TlsClient& client, char (&message)[TlsMessageBytes]) {
    const std::uint32_t flags = mbedtls_ssl_get_verify_result(&client.ssl);
    if ((flags & MBEDTLS_X509_BADCERT_NOT_TRUSTED) != 0) {
        Say(message, "tls: the certificate of %s is not issued by a root this machine trusts",
            client.host);
    } else if ((flags & (MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_FUTURE)) != 0) {
        char clock[32];
        ClockText(clock);
        Say(message,
            "tls: the certificate of %s has expired or is not yet valid by this machine's "
            "clock (%s)",
            client.host, clock);
    } else if ((flags & MBEDTLS_X509_BADCERT_CN_MISMATCH) != 0) {
        Say(message, "tls: the certificate of %s is for another name", client.host);
    } else if ((flags & (MBEDTLS_X509_BADCERT_KEY_USAGE | MBEDTLS_X509_BADCERT_EXT_KEY_USAGE)) !=
               0) {
        Say(message, "tls: the certificate of %s is not for a server", client.host);
    } else {
        Say(message, "tls: the certificate of %s was refused (flags 0x%lx)", client.host,
            static_cast<unsigned long>(flags));
    }
}

// Why the handshake failed, from the library's error code.
void SayHandshakeFailure(const TlsClient& client, int error, char (&message)[TlsMessageBytes]) {
    if (client.io_failed) {
        Say(message, "network: the connection to %s failed during the TLS handshake", client.host);
        return;
    }
    switch (error) {
    case MBEDTLS_ERR_X509_CERT_VERIFY_FAILED:
    case MBEDTLS_ERR_SSL_BAD_CERTIFICATE:
        SayCertificate(client, message);
        return;
    case MBEDTLS_ERR_SSL_BAD_PROTOCOL_VERSION:
        Say(message, "tls: %s does not speak TLS 1.3", client.host);
        return;
    case MBEDTLS_ERR_SSL_FATAL_ALERT_MESSAGE:
        // RFC 8446 section 6: protocol_version, no_application_protocol, handshake_failure.
        switch (client.alerts.Description()) {
        case 70:
            Say(message, "tls: %s does not speak TLS 1.3 (it refused it with an alert)",
                client.host);
            return;
        case 120:
            Say(message, "tls: the server %s did not agree to %s (it refused it with an alert)",
                client.host, client.alpn);
            return;
        case 40:
            Say(message, "tls: %s found nothing in common with this TLS 1.3 client (alert 40)",
                client.host);
            return;
        default:
            Say(message, "tls: %s refused the handshake (it may not speak TLS 1.3 or %s)",
                client.host, client.alpn);
            return;
        }
    case MBEDTLS_ERR_SSL_CONN_EOF:
    case MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY:
        Say(message,
            "tls: %s closed the connection during the handshake (it may not speak "
            "TLS 1.3)",
            client.host);
        return;
    case MBEDTLS_ERR_SSL_NO_APPLICATION_PROTOCOL:
        Say(message, "tls: the server %s did not agree to %s", client.host, client.alpn);
        return;
    default: {
        char words[96];
        mbedtls_strerror(error, words, sizeof words);
        Say(message, "tls: the handshake with %s failed (%s)", client.host, words);
        return;
    }
    }
}

// For a server named by its address: true when one of the certificate's IP addresses is it.
bool NamesAddress(const mbedtls_x509_crt& certificate, const TlsClient& client) {
    for (const mbedtls_x509_sequence* san = &certificate.subject_alt_names;
         san != nullptr && san->buf.p != nullptr; san = san->next) {
        if ((san->buf.tag & MBEDTLS_ASN1_TAG_VALUE_MASK) == MBEDTLS_X509_SAN_IP_ADDRESS &&
            san->buf.len == client.address_length &&
            std::memcmp(san->buf.p, client.address, client.address_length) == 0)
            return true;
    }
    return false;
}

// The name check of the server's own certificate for a server named by its address, while the
// library verifies the chain.
int CheckAddressName(void* context, mbedtls_x509_crt* certificate, int depth,
                     std::uint32_t* flags) {
    if (depth == 0 && !NamesAddress(*certificate, *static_cast<const TlsClient*>(context)))
        *flags |= MBEDTLS_X509_BADCERT_CN_MISMATCH;
    return 0;
}

// Where the system checks chains itself: the chain the server sent, judged by it for host.
bool SystemTrustsChain(TlsClient* client, char (&message)[TlsMessageBytes]) {
    platform::DerCertificate chain[MaxChainCertificates];
    int count = 0;
    for (const mbedtls_x509_crt* c = mbedtls_ssl_get_peer_cert(&client->ssl);
         c != nullptr && count < MaxChainCertificates; c = c->next)
        chain[count++] = platform::DerCertificate{c->raw.p, static_cast<std::int32_t>(c->raw.len)};
    if (count == 0) {
        Say(message, "tls: %s sent no certificate", client->host);
        return false;
    }
    // An address is compared here, the chain engine judging the rest.
    const bool by_address = client->address_length != 0;
    char reason[platform::TrustReasonBytes];
    if (platform::CheckChainWithSystem(chain, count, by_address ? nullptr : client->host, reason)) {
        if (!by_address || NamesAddress(*mbedtls_ssl_get_peer_cert(&client->ssl), *client))
            return true;
        std::snprintf(reason, sizeof reason, "is for another name");
    }
    Say(message, "tls: the certificate of %s %s", client->host, reason);
    // Tell the server, as the library does when it refuses a certificate itself.
    mbedtls_ssl_send_alert_message(&client->ssl, MBEDTLS_SSL_ALERT_LEVEL_FATAL,
                                   MBEDTLS_SSL_ALERT_MSG_BAD_CERT);
    return false;
}

// The configuration and session of one connection: TLS 1.3 alone, alpn alone, host as the
// server's name, and the roots that judge its certificate (the bundle's, or none where the
// system judges it after the handshake). False with message set.
bool SetUpSession(TlsClient* client, char (&message)[TlsMessageBytes]) {
    mbedtls_ssl_config* config = &client->config;
    if (mbedtls_ssl_config_defaults(config, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                    MBEDTLS_SSL_PRESET_DEFAULT) != 0) {
        Say(message, "tls: the TLS library cannot be set up");
        return false;
    }
    mbedtls_ssl_conf_min_tls_version(config, MBEDTLS_SSL_VERSION_TLS1_3);
    mbedtls_ssl_conf_max_tls_version(config, MBEDTLS_SSL_VERSION_TLS1_3);
    mbedtls_ssl_conf_rng(config, mbedtls_psa_get_random, MBEDTLS_PSA_RANDOM_STATE);
    // No session is resumed: tickets the server sends are read and dropped.
    mbedtls_ssl_conf_session_tickets(config, MBEDTLS_SSL_SESSION_TICKETS_DISABLED);
    mbedtls_ssl_conf_tls13_enable_signal_new_session_tickets(
        config, MBEDTLS_SSL_TLS1_3_SIGNAL_NEW_SESSION_TICKETS_DISABLED);
    if (mbedtls_ssl_conf_alpn_protocols(config, client->alpn_list) != 0) {
        Say(message, "tls: the protocol name %s cannot be offered", client->alpn);
        return false;
    }
    const char* bundle = platform::CaBundlePath();
    if (bundle != nullptr) {
        const Bundle* roots = BundleRoots(bundle);
        if (roots == nullptr) {
            Say(message, "tls: no trusted roots: %s cannot be read", bundle);
            return false;
        }
        mbedtls_ssl_conf_ca_cb(config, CandidateRoots, const_cast<Bundle*>(roots));
        mbedtls_ssl_conf_authmode(config, MBEDTLS_SSL_VERIFY_REQUIRED);
    } else {
        // The system's chain engine judges the chain once the handshake is done, before
        // anything is sent; the library still checks that the server holds its key.
        mbedtls_ssl_conf_authmode(config, MBEDTLS_SSL_VERIFY_NONE);
    }
    if (mbedtls_ssl_setup(&client->ssl, config) != 0) {
        Say(message, "tls: no TLS session for %s (out of memory)", client->host);
        return false;
    }
    // A name goes out as SNI and is what the certificate must name. An address has no place
    // in SNI (RFC 6066 section 3; servers may refuse it): none goes out, and the
    // certificate's IP addresses are compared instead.
    client->address_length = mbedtls_x509_crt_parse_cn_inet_pton(client->host, client->address);
    const int named = client->address_length == 0
                          ? mbedtls_ssl_set_hostname(&client->ssl, client->host)
                          : mbedtls_ssl_set_hostname(&client->ssl, nullptr);
    if (named != 0) {
        Say(message, "tls: the server name %s is too long", client->host);
        return false;
    }
    if (client->address_length != 0)
        mbedtls_ssl_set_verify(&client->ssl, CheckAddressName, client);
    mbedtls_ssl_set_bio(&client->ssl, client, SendToSocket, ReceiveFromSocket, nullptr);
    return true;
}

// Runs the handshake to its end within the deadline; false with message set.
bool Handshake(TlsClient* client, const Deadline& deadline, const Cancellation* cancel,
               char (&message)[TlsMessageBytes]) {
    for (;;) {
        const int r = mbedtls_ssl_handshake(&client->ssl);
        if (r == 0)
            return true;
        if (r == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET)
            continue;
        if (r != MBEDTLS_ERR_SSL_WANT_READ && r != MBEDTLS_ERR_SSL_WANT_WRITE) {
            SayHandshakeFailure(*client, r, message);
            return false;
        }
        if (WaitForSocket(*client, r == MBEDTLS_ERR_SSL_WANT_WRITE, deadline, cancel,
                          "no TLS handshake with", message) == WaitEnd::Stop)
            return false;
    }
}

// Owns a client until it is handed to the caller.
class ClientHolder {
  public:
    explicit ClientHolder(TlsClient* client) : client_(client) {}
    ~ClientHolder() { delete client_; }
    ClientHolder(const ClientHolder&) = delete;
    ClientHolder& operator=(const ClientHolder&) = delete;

    TlsClient* Get() const { return client_; }
    TlsClient* Release() {
        TlsClient* c = client_;
        client_ = nullptr;
        return c;
    }

  private:
    TlsClient* client_;
};

} // namespace

TlsClient* OpenTlsClient(const platform::NetAddress* addresses, int count, const char* host,
                         const char* alpn, const Deadline& deadline, const Cancellation* cancel,
                         char (&message)[TlsMessageBytes]) {
    message[0] = '\0';
    // Step 1: a query already cancelled starts nothing.
    if (CancelRequested(cancel)) {
        Say(message, "cancelled");
        return nullptr;
    }
    if (host == nullptr || alpn == nullptr || alpn[0] == '\0' || std::strlen(alpn) > 255) {
        Say(message, "tls: no server name or protocol to connect with");
        return nullptr;
    }
    ClientHolder client(new (std::nothrow) TlsClient);
    if (client.Get() == nullptr) {
        Say(message, "tls: out of memory");
        return nullptr;
    }
    std::snprintf(client.Get()->host, sizeof client.Get()->host, "%s", host);
    std::snprintf(client.Get()->alpn, sizeof client.Get()->alpn, "%s", alpn);
    // Step 2: the crypto library and this connection's session, before any packet is sent.
    if (!StartCrypto()) {
        Say(message, "tls: the crypto library cannot be started");
        return nullptr;
    }
    if (!SetUpSession(client.Get(), message))
        return nullptr;
    // Step 3: the first address that accepts a connection; a timeout or cancel ends the
    // search.
    if (count <= 0)
        Say(message, "network: no address for %s", client.Get()->host);
    bool connected = false;
    bool stop = false;
    for (int i = 0; i < count && !connected && !stop; ++i)
        connected = ConnectOne(client.Get(), addresses[i], deadline, cancel, &stop, message);
    if (!connected)
        return nullptr;
    // Step 4: the handshake, TLS 1.3 only, the certificate checked by the library against the
    // bundle's roots where there is one.
    if (!Handshake(client.Get(), deadline, cancel, message))
        return nullptr;
    client.Get()->established = true;
    // Step 5: the server must have agreed to the one protocol offered.
    const char* agreed = mbedtls_ssl_get_alpn_protocol(&client.Get()->ssl);
    if (agreed == nullptr || std::strcmp(agreed, client.Get()->alpn) != 0) {
        Say(message, "tls: the server %s did not agree to %s", client.Get()->host,
            client.Get()->alpn);
        return nullptr;
    }
    // Step 6: where the system judges certificates, it judges this one now.
    if (platform::CaBundlePath() == nullptr && !SystemTrustsChain(client.Get(), message))
        return nullptr;
    return client.Release();
}

bool TlsWriteAll(TlsClient* client, const void* data, std::int32_t length, const Deadline& deadline,
                 const Cancellation* cancel, char (&message)[TlsMessageBytes]) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::int32_t sent = 0;
    while (sent < length) {
        const int r =
            mbedtls_ssl_write(&client->ssl, bytes + sent, static_cast<std::size_t>(length - sent));
        if (r > 0) {
            sent += r;
            continue;
        }
        if (r == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET)
            continue;
        if (r == MBEDTLS_ERR_SSL_WANT_READ || r == MBEDTLS_ERR_SSL_WANT_WRITE) {
            if (WaitForSocket(*client, r == MBEDTLS_ERR_SSL_WANT_WRITE, deadline, cancel,
                              "nothing could be sent to", message) == WaitEnd::Stop)
                return false;
            continue;
        }
        if (client->io_failed) {
            Say(message, "network: the connection to %s failed while sending", client->host);
        } else {
            char words[96];
            mbedtls_strerror(r, words, sizeof words);
            Say(message, "tls: sending to %s failed (%s)", client->host, words);
        }
        return false;
    }
    return true;
}

std::int32_t TlsRead(TlsClient* client, void* buffer, std::int32_t length, const Deadline& deadline,
                     const Cancellation* cancel, char (&message)[TlsMessageBytes]) {
    if (length <= 0) {
        Say(message, "tls: no room left for what %s sends", client->host);
        return -1;
    }
    for (;;) {
        const int r = mbedtls_ssl_read(&client->ssl, static_cast<unsigned char*>(buffer),
                                       static_cast<std::size_t>(length));
        if (r > 0)
            return r;
        // The end of the stream, with close_notify or without it.
        if (r == 0 || r == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || r == MBEDTLS_ERR_SSL_CONN_EOF)
            return 0;
        if (r == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET)
            continue;
        if (r == MBEDTLS_ERR_SSL_WANT_READ || r == MBEDTLS_ERR_SSL_WANT_WRITE) {
            // The rest of a record the library has taken in already needs no wait.
            if (r == MBEDTLS_ERR_SSL_WANT_READ && mbedtls_ssl_check_pending(&client->ssl) != 0)
                continue;
            if (WaitForSocket(*client, r == MBEDTLS_ERR_SSL_WANT_WRITE, deadline, cancel,
                              "no answer from", message) == WaitEnd::Stop)
                return -1;
            continue;
        }
        if (client->io_failed) {
            Say(message, "network: the connection to %s failed while reading", client->host);
        } else {
            char words[96];
            mbedtls_strerror(r, words, sizeof words);
            Say(message, "tls: reading from %s failed (%s)", client->host, words);
        }
        return -1;
    }
}

bool TlsExportKey(TlsClient* client, const char* label, const std::uint8_t* context,
                  std::int32_t context_length, std::uint8_t* out, std::int32_t length) {
    static const unsigned char no_context[1] = {0};
    if (client == nullptr || !client->established || label == nullptr || out == nullptr ||
        length <= 0 || context_length < 0)
        return false;
    return mbedtls_ssl_export_keying_material(&client->ssl, out, static_cast<std::size_t>(length),
                                              label, std::strlen(label),
                                              context != nullptr ? context : no_context,
                                              static_cast<std::size_t>(context_length), 1) == 0;
}

void CloseTlsClient(TlsClient* client) {
    if (client == nullptr)
        return;
    // Only what goes out at once: a close never waits.
    if (client->established && !client->io_failed)
        mbedtls_ssl_close_notify(&client->ssl);
    delete client;
}

void ReleaseTlsState() {
    const std::lock_guard<std::mutex> hold(shared_lock);
    FreeBundle(ca_bundle);
    ca_bundle = nullptr;
    if (crypto_started)
        mbedtls_psa_crypto_free();
    crypto_started = false;
}

} // namespace runtime
