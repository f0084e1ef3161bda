// A scripted NTS key-exchange server (RFC 8915 section 4) for the NTS tests: TLS on Mbed TLS
// with the given certificate, one client after another on 127.0.0.1:PORT, each answered as
// the mode says once its request (up to End of Message) has arrived:
//   good              NTPv4, AEAD_AES_SIV_CMAC_256, eight cookies, End of Message (cookies no
//                     NTP server takes: for certificates a client must refuse)
//   error             an Error record (code 1, bad request)
//   no-cookie         NTPv4 and the algorithm, no cookie
//   other-aead        as good, with algorithm 16 (AEAD_AES_SIV_CMAC_384)
//   unknown-critical  as good, with a critical record of a type no one knows
//   oversized         as good, with one cookie of 60000 bytes
//   flood             NTPv4, the algorithm, then cookie records without end (1 MiB)
//   truncated         as good, closed before End of Message
//   tls12             as good, over TLS 1.2 only
//   no-alpn           as good, over TLS 1.3 with no ALPN agreed
// Usage: ke_server PORT CERT KEY MODE. Prints "ready" when it listens; ends after 32 clients
// or 10 minutes, whichever comes first. Linux only.
#include <cstdint>
#include <cstdio>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>
#include <psa/crypto.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MaxClients = 32;
constexpr unsigned LifetimeSeconds = 600;
constexpr int ClientTimeoutSeconds = 5;

// Record types (RFC 8915 section 4.1); the critical bit is the top one.
constexpr std::uint16_t Critical = 0x8000;
constexpr std::uint16_t EndOfMessage = 0;
constexpr std::uint16_t NextProtocol = 1;
constexpr std::uint16_t ErrorRecord = 2;
constexpr std::uint16_t AeadAlgorithm = 4;
constexpr std::uint16_t NewCookie = 5;

void AppendRecord(std::vector<std::uint8_t>& out, std::uint16_t type,
                  const std::vector<std::uint8_t>& body) {
    const auto length = static_cast<std::uint16_t>(body.size());
    out.insert(out.end(),
               {static_cast<std::uint8_t>(type >> 8), static_cast<std::uint8_t>(type),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    out.insert(out.end(), body.begin(), body.end());
}

std::vector<std::uint8_t> Cookie(std::size_t length) {
    std::vector<std::uint8_t> cookie(length);
    for (std::size_t i = 0; i < length; ++i)
        cookie[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return cookie;
}

// The response a mode sends; for flood, only its start (the cookies follow in Serve).
std::vector<std::uint8_t> Response(const std::string& mode) {
    std::vector<std::uint8_t> out;
    if (mode == "error") {
        AppendRecord(out, Critical | ErrorRecord, {0, 1});
        AppendRecord(out, Critical | EndOfMessage, {});
        return out;
    }
    AppendRecord(out, Critical | NextProtocol, {0, 0});
    AppendRecord(out, Critical | AeadAlgorithm,
                 {0, static_cast<std::uint8_t>(mode == "other-aead" ? 16 : 15)});
    if (mode == "unknown-critical")
        AppendRecord(out, Critical | 0x3FF0, {1, 2, 3, 4});
    if (mode == "no-cookie")
        AppendRecord(out, Critical | EndOfMessage, {});
    if (mode == "no-cookie" || mode == "flood")
        return out;
    AppendRecord(out, NewCookie, Cookie(mode == "oversized" ? 60000 : 100));
    for (int i = 0; i < 7; ++i)
        AppendRecord(out, NewCookie, Cookie(100));
    if (mode != "truncated")
        AppendRecord(out, Critical | EndOfMessage, {});
    return out;
}

bool WriteAll(mbedtls_ssl_context* ssl, const std::vector<std::uint8_t>& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const int n = mbedtls_ssl_write(ssl, data.data() + sent, data.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads the client's records up to its End of Message; false when it breaks off first.
bool ReadRequest(mbedtls_ssl_context* ssl) {
    std::vector<std::uint8_t> request;
    std::uint8_t buffer[1024];
    while (request.size() < 4096) {
        const int n = mbedtls_ssl_read(ssl, buffer, sizeof buffer);
        if (n == MBEDTLS_ERR_SSL_WANT_READ || n == MBEDTLS_ERR_SSL_WANT_WRITE)
            continue;
        if (n <= 0)
            return false;
        request.insert(request.end(), buffer, buffer + n);
        // Walk the whole records so far; the request ends with End of Message.
        std::size_t at = 0;
        while (at + 4 <= request.size()) {
            const unsigned type = (request[at] << 8 | request[at + 1]) & 0x7FFFu;
            const std::size_t length =
                static_cast<std::size_t>(request[at + 2] << 8 | request[at + 3]);
            if (at + 4 + length > request.size())
                break;
            if (type == EndOfMessage)
                return true;
            at += 4 + length;
        }
    }
    return false;
}

void Serve(mbedtls_ssl_context* ssl, const std::string& mode) {
    if (mbedtls_ssl_handshake(ssl) != 0 || !ReadRequest(ssl))
        return;
    if (!WriteAll(ssl, Response(mode)))
        return;
    if (mode == "flood") {
        std::vector<std::uint8_t> cookies;
        for (int i = 0; i < 64; ++i)
            AppendRecord(cookies, NewCookie, Cookie(252));
        for (int i = 0; i < 64 && WriteAll(ssl, cookies); ++i) {
        }
        return;
    }
    mbedtls_ssl_close_notify(ssl);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: ke_server PORT CERT KEY MODE\n");
        return 2;
    }
    const std::string mode = argv[4];
    alarm(LifetimeSeconds);
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_x509_crt cert;
    mbedtls_pk_context key;
    mbedtls_ssl_config conf;
    mbedtls_net_context listener;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    mbedtls_x509_crt_init(&cert);
    mbedtls_pk_init(&key);
    mbedtls_ssl_config_init(&conf);
    mbedtls_net_init(&listener);
    const char* alpn[] = {"ntske/1", nullptr};
    if (psa_crypto_init() != PSA_SUCCESS ||
        mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0) != 0 ||
        mbedtls_x509_crt_parse_file(&cert, argv[2]) != 0 ||
        mbedtls_pk_parse_keyfile(&key, argv[3], nullptr, mbedtls_ctr_drbg_random, &drbg) != 0 ||
        mbedtls_ssl_config_defaults(&conf, MBEDTLS_SSL_IS_SERVER, MBEDTLS_SSL_TRANSPORT_STREAM,
                                    MBEDTLS_SSL_PRESET_DEFAULT) != 0 ||
        mbedtls_ssl_conf_own_cert(&conf, &cert, &key) != 0 ||
        (mode != "no-alpn" && mbedtls_ssl_conf_alpn_protocols(&conf, alpn) != 0) ||
        mbedtls_net_bind(&listener, "127.0.0.1", argv[1], MBEDTLS_NET_PROTO_TCP) != 0) {
        std::fprintf(stderr, "ke_server: cannot set up on port %s\n", argv[1]);
        return 1;
    }
    mbedtls_ssl_conf_rng(&conf, mbedtls_ctr_drbg_random, &drbg);
    const auto version = mode == "tls12" ? MBEDTLS_SSL_VERSION_TLS1_2 : MBEDTLS_SSL_VERSION_TLS1_3;
    mbedtls_ssl_conf_min_tls_version(&conf, version);
    mbedtls_ssl_conf_max_tls_version(&conf, version);
    std::printf("ready\n");
    std::fflush(stdout);

    for (int i = 0; i < MaxClients; ++i) {
        mbedtls_net_context client;
        mbedtls_net_init(&client);
        if (mbedtls_net_accept(&listener, &client, nullptr, 0, nullptr) != 0)
            break;
        // A client that stops reading or writing costs a few seconds, never the run.
        const timeval limit{ClientTimeoutSeconds, 0};
        setsockopt(client.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(client.fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        mbedtls_ssl_context ssl;
        mbedtls_ssl_init(&ssl);
        if (mbedtls_ssl_setup(&ssl, &conf) == 0) {
            mbedtls_ssl_set_bio(&ssl, &client, mbedtls_net_send, mbedtls_net_recv, nullptr);
            Serve(&ssl, mode);
        }
        mbedtls_ssl_free(&ssl);
        mbedtls_net_free(&client);
    }
    mbedtls_net_free(&listener);
    mbedtls_ssl_config_free(&conf);
    mbedtls_pk_free(&key);
    mbedtls_x509_crt_free(&cert);
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
    mbedtls_psa_crypto_free();
    return 0;
}
