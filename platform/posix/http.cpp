#include "platform/http.h"

#include "platform/posix/http_testing.h"
#include "platform/precise_time.h"

// The header gives the types and constants; libcurl itself comes from dlopen, never the link.
#define CURL_DISABLE_TYPECHECK
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <dlfcn.h>
#include <strings.h>
#include <sys/socket.h>

namespace platform {
namespace {

// Longer than any transfer of ours: a time beyond it is no time (and cannot overflow).
constexpr curl_off_t MaxTransferUs = 86400LL * 1000000;

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

// The value of a header line "Name: value" whose name (with its colon) is name, without
// blanks around it; false for another header.
bool HeaderValue(const char* line, std::size_t length, const char* name, const char** value,
                 std::size_t* value_length) {
    const std::size_t n = std::strlen(name);
    if (length < n || strncasecmp(line, name, n) != 0)
        return false;
    std::size_t from = n;
    std::size_t to = length;
    while (from < to && IsBlank(line[from]))
        ++from;
    while (to > from && IsBlank(line[to - 1]))
        --to;
    *value = line + from;
    *value_length = to - from;
    return true;
}

// Each header line of the answer. A status line starts a new answer (after an interim
// 1xx one), whose Date and Age alone count: what came before is forgotten, lines counted too.
std::size_t HeaderLine(char* line, std::size_t size, std::size_t count, void* context) {
    auto* out = static_cast<HttpExchange*>(context);
    const std::size_t length = size * count;
    const char* value = nullptr;
    std::size_t value_length = 0;
    if (length >= 5 && std::memcmp(line, "HTTP/", 5) == 0) {
        out->date[0] = '\0';
        out->age[0] = '\0';
        out->date_lines = 0;
        out->age_lines = 0;
    } else if (HeaderValue(line, length, "date:", &value, &value_length)) {
        AddHeaderValue(out->date, sizeof out->date, &out->date_lines, value, value_length);
    } else if (HeaderValue(line, length, "age:", &value, &value_length)) {
        AddHeaderValue(out->age, sizeof out->age, &out->age_lines, value, value_length);
    }
    return length;
}

// libcurl's sockets, opened close-on-exec in the same call: a program that the host starts
// while a query runs (os.execute) must not inherit, and so keep open, its connection.
curl_socket_t OpenCloseOnExec(void*, curlsocktype, curl_sockaddr* address) {
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
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
    case CURLE_ABORTED_BY_CALLBACK:
        return HttpFailure::Cancelled;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return HttpFailure::Protocol;
    default:
        return HttpFailure::Network;
    }
}

// Nanoseconds from the transfer's start to the request leaving (first_byte false) or the
// answer's first byte: libcurl's microseconds, or where this libcurl lacks them (before 7.61)
// its seconds.
bool TransferTime(void* handle, bool first_byte, std::int64_t* ns) {
    std::int64_t us = 0;
    if (curl_time_ops.whole_us(handle, first_byte, &us) && us >= 0 && us < MaxTransferUs) {
        *ns = us * 1000;
        return true;
    }
    double seconds = 0;
    if (curl_time_ops.fraction_s(handle, first_byte, &seconds) && seconds >= 0 &&
        seconds < MaxTransferUs / 1e6) {
        *ns = static_cast<std::int64_t>(seconds * 1e9);
        return true;
    }
    return false;
}

// The defaults of curl_time_ops: what this libcurl says.
bool WholeUs(void* handle, bool first_byte, std::int64_t* us) {
    curl_off_t value = 0;
    const CURLINFO info = first_byte ? CURLINFO_STARTTRANSFER_TIME_T : CURLINFO_PRETRANSFER_TIME_T;
    if (LoadedCurl().getinfo(handle, info, &value) != CURLE_OK)
        return false;
    *us = static_cast<std::int64_t>(value);
    return true;
}

bool FractionS(void* handle, bool first_byte, double* seconds) {
    const CURLINFO info = first_byte ? CURLINFO_STARTTRANSFER_TIME : CURLINFO_PRETRANSFER_TIME;
    return LoadedCurl().getinfo(handle, info, seconds) == CURLE_OK;
}

// libcurl's progress callback: a set cancel flag ends the transfer.
int Progress(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

} // namespace

CurlTimeOps curl_time_ops = {WholeUs, FractionS};

void HttpDateRequest(const char* url, bool head, std::int32_t timeout_ms, HttpExchange* out,
                     const std::atomic<bool>* cancelled) {
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
    curl.setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);           // a redirect's own Date counts
    curl.setopt(handle, CURLOPT_HEADERFUNCTION, HeaderLine);
    curl.setopt(handle, CURLOPT_HEADERDATA, out);
    curl.setopt(handle, CURLOPT_WRITEFUNCTION, RefuseBody);
    curl.setopt(handle, CURLOPT_ERRORBUFFER, error);
    curl.setopt(handle, CURLOPT_OPENSOCKETFUNCTION, OpenCloseOnExec);
    if (cancelled != nullptr) {
        curl.setopt(handle, CURLOPT_XFERINFOFUNCTION, Progress);
        curl.setopt(handle, CURLOPT_XFERINFODATA, cancelled);
        curl.setopt(handle, CURLOPT_NOPROGRESS, 0L);
    }
    // The exchange is timed right around the transfer, after libcurl is loaded and the handle
    // set up: libcurl reports when the request left and the first byte of the answer came
    // from the transfer's start.
    std::int64_t start_ns = 0;
    std::int64_t end_ns = 0;
    const bool clock_read = precise_time_ops.boot_time_ns(&start_ns);
    const CURLcode code = curl.perform(handle);
    const bool clock_read_again = precise_time_ops.boot_time_ns(&end_ns);

    long status = 0;
    char* address = nullptr;
    long port = 0;
    if (curl.getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        status = 0;
    // The address and port reached (a proxy's, when one was used), numeric as libcurl keeps
    // them.
    if (curl.getinfo(handle, CURLINFO_PRIMARY_IP, &address) == CURLE_OK && address != nullptr)
        std::snprintf(out->address, sizeof out->address, "%s", address);
    if (curl.getinfo(handle, CURLINFO_PRIMARY_PORT, &port) == CURLE_OK && port > 0 && port <= 65535)
        out->port = static_cast<std::uint16_t>(port);
    out->status = static_cast<std::int32_t>(status);
    const std::int64_t transfer_ns = end_ns > start_ns ? end_ns - start_ns : 0;
    std::int64_t sent_ns = 0;
    std::int64_t received_ns = 0;
    if (!TransferTime(handle, false, &sent_ns) || !TransferTime(handle, true, &received_ns) ||
        received_ns < sent_ns) {
        // Without libcurl's times the whole transfer stands for the exchange: wider, never
        // wrong.
        sent_ns = 0;
        received_ns = transfer_ns;
    }
    // libcurl counts on its own clock; its times stay within the transfer as ours saw it.
    sent_ns = sent_ns < transfer_ns ? sent_ns : transfer_ns;
    received_ns = received_ns < transfer_ns ? received_ns : transfer_ns;
    out->sent_boot_ns = start_ns + sent_ns;
    out->received_boot_ns = start_ns + received_ns;
    // A refused body after the headers is the end we asked for.
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && status > 0)) {
        out->failure = FailureOf(code);
        // The error text is cut to what the record holds.
        const char* words = error[0] != '\0' ? error : curl.strerror(code);
        const std::size_t n = std::strlen(words) < sizeof out->detail - 1 ? std::strlen(words)
                                                                          : sizeof out->detail - 1;
        std::memcpy(out->detail, words, n);
    } else if (!clock_read || !clock_read_again) {
        out->failure = HttpFailure::Network;
        std::snprintf(out->detail, sizeof out->detail, "the boot clock cannot be read");
    }
    curl.cleanup(handle);
}

} // namespace platform
