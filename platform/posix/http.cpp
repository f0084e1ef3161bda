#include "platform/http.h"

// The header gives the types and constants; libcurl itself comes from dlopen, never the link.
#define CURL_DISABLE_TYPECHECK
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <dlfcn.h>
#include <strings.h>

namespace platform {
namespace {

// libcurl's calls, looked up once; loaded is false (and why in error) when it is missing.
struct Curl {
    bool loaded;
    char error[120];
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) setopt;
    decltype(&curl_easy_perform) perform;
    decltype(&curl_easy_getinfo) getinfo;
    decltype(&curl_easy_cleanup) cleanup;
    decltype(&curl_easy_strerror) strerror;
};

template <typename T> bool Find(void* library, const char* name, T* function) {
    *function = reinterpret_cast<T>(dlsym(library, name));
    return *function != nullptr;
}

Curl Load() {
    Curl c{};
    // Kept loaded for the life of the process: TLS libraries do not unload cleanly.
    void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::snprintf(c.error, sizeof c.error, "libcurl.so.4 cannot be loaded");
        return c;
    }
    decltype(&curl_global_init) global_init = nullptr;
    if (!Find(library, "curl_global_init", &global_init) ||
        !Find(library, "curl_easy_init", &c.easy_init) ||
        !Find(library, "curl_easy_setopt", &c.setopt) ||
        !Find(library, "curl_easy_perform", &c.perform) ||
        !Find(library, "curl_easy_getinfo", &c.getinfo) ||
        !Find(library, "curl_easy_cleanup", &c.cleanup) ||
        !Find(library, "curl_easy_strerror", &c.strerror)) {
        std::snprintf(c.error, sizeof c.error, "libcurl.so.4 lacks the calls needed");
        return c;
    }
    if (global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::snprintf(c.error, sizeof c.error, "libcurl cannot be started");
        return c;
    }
    c.loaded = true;
    return c;
}

// Once per process; a function-local static is made by one thread while the others wait.
const Curl& LoadedCurl() {
    static const Curl curl = Load();
    return curl;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Each header line of the answer. A status line starts a new answer (after an interim
// 1xx one), whose Date alone counts.
std::size_t HeaderLine(char* line, std::size_t size, std::size_t count, void* context) {
    auto* out = static_cast<HttpExchange*>(context);
    const std::size_t length = size * count;
    if (length >= 5 && std::memcmp(line, "HTTP/", 5) == 0) {
        out->date[0] = '\0';
    } else if (length > 5 && strncasecmp(line, "date:", 5) == 0) {
        std::size_t from = 5;
        std::size_t to = length;
        while (from < to && IsBlank(line[from]))
            ++from;
        while (to > from && IsBlank(line[to - 1]))
            --to;
        const std::size_t n = to - from < sizeof out->date - 1 ? to - from : sizeof out->date - 1;
        std::memcpy(out->date, line + from, n);
        out->date[n] = '\0';
    }
    return length;
}

// The body is not wanted: refusing its first bytes ends the transfer.
std::size_t RefuseBody(char*, std::size_t, std::size_t, void*) {
    return 0;
}

HttpFailure FailureOf(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpFailure::Resolve;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpFailure::Timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
        return HttpFailure::Tls;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return HttpFailure::Protocol;
    default:
        return HttpFailure::Network;
    }
}

} // namespace

void HttpDateRequest(const char* url, bool head, std::int32_t timeout_ms, HttpExchange* out) {
    std::memset(out, 0, sizeof *out);
    const Curl& curl = LoadedCurl();
    if (!curl.loaded) {
        out->failure = HttpFailure::Unavailable;
        std::snprintf(out->detail, sizeof out->detail, "%.150s", curl.error);
        return;
    }
    CURL* handle = curl.easy_init();
    if (handle == nullptr) {
        out->failure = HttpFailure::Unavailable;
        std::snprintf(out->detail, sizeof out->detail, "libcurl has no handle to give");
        return;
    }
    char error[CURL_ERROR_SIZE] = {};
    curl.setopt(handle, CURLOPT_URL, url);
    curl.setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.setopt(handle, CURLOPT_NOBODY, head ? 1L : 0L);
    curl.setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms < 1 ? 1 : timeout_ms));
    curl.setopt(handle, CURLOPT_NOSIGNAL, 1L); // no SIGALRM in the host's threads
    curl.setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl.setopt(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L); // a proxy's Date is no answer
    curl.setopt(handle, CURLOPT_HEADERFUNCTION, HeaderLine);
    curl.setopt(handle, CURLOPT_HEADERDATA, out);
    curl.setopt(handle, CURLOPT_WRITEFUNCTION, RefuseBody);
    curl.setopt(handle, CURLOPT_ERRORBUFFER, error);
    const CURLcode code = curl.perform(handle);

    long status = 0;
    curl_off_t sent_us = 0;
    curl_off_t received_us = 0;
    char* address = nullptr;
    curl.getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl.getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &sent_us);
    curl.getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &received_us);
    if (curl.getinfo(handle, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address != nullptr)
        std::snprintf(out->address, sizeof out->address, "%s", address);
    out->status = static_cast<std::int32_t>(status);
    out->sent_ns = static_cast<std::int64_t>(sent_us) * 1000;
    out->received_ns = static_cast<std::int64_t>(received_us) * 1000;
    // A refused body after the headers is the end we asked for.
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && status > 0)) {
        out->failure = FailureOf(code);
        // The error text is cut to what the record holds.
        const char* words = error[0] != '\0' ? error : curl.strerror(code);
        const std::size_t n = std::strlen(words) < sizeof out->detail - 1 ? std::strlen(words)
                                                                          : sizeof out->detail - 1;
        std::memcpy(out->detail, words, n);
    }
    curl.cleanup(handle);
}

} // namespace platform
