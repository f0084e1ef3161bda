#include "timelib/query_https.h"

#include "platform/http.h"
#include "platform/precise_time.h"
#include "runtime/calendar.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/http_date.h"
#include "timelib/lua_arguments.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace timelib {
namespace {

constexpr std::int64_t NsPerSecond = 1000000000;

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// host[:port][/path] after the scheme: a name or dotted address of letters, digits, '-',
// '.' and '_', or a bracketed IPv6 address; a port of 1 to 65535; a path of visible ASCII.
bool ValidAuthorityAndPath(const char* at) {
    const char* host = at;
    if (*at == '[') {
        while (*at != '\0' && *at != ']') {
            const char c = *at++;
            if (c != '[' && c != ':' && c != '.' && !std::isxdigit(static_cast<unsigned char>(c)))
                return false;
        }
        if (*at++ != ']' || at - host < 3)
            return false;
    } else {
        while (std::isalnum(static_cast<unsigned char>(*at)) || *at == '-' || *at == '.' ||
               *at == '_')
            ++at;
        if (at == host)
            return false;
    }
    if (*at == ':') {
        long port = 0;
        const char* digits = ++at;
        while (*at >= '0' && *at <= '9' && port <= 65535)
            port = port * 10 + (*at++ - '0');
        if (at == digits || port < 1 || port > 65535)
            return false;
    }
    if (*at != '\0' && *at != '/')
        return false;
    for (; *at != '\0'; ++at) {
        if (*at < 0x21 || *at > 0x7E)
            return false;
    }
    return true;
}

const char* WordOf(platform::HttpFailure failure) {
    switch (failure) {
    case platform::HttpFailure::Unavailable:
        return "https unavailable";
    case platform::HttpFailure::Resolve:
        return "resolve";
    case platform::HttpFailure::Timeout:
        return "timeout";
    case platform::HttpFailure::Tls:
        return "tls";
    case platform::HttpFailure::Protocol:
        return "http";
    default:
        return "network";
    }
}

// The exchange's instants on the boot clock, moved onto the wall clock by one reading of both.
std::int64_t WallOf(std::int64_t boot_instant_ns, std::int64_t wall_ns, std::int64_t boot_ns) {
    return wall_ns + (boot_instant_ns - boot_ns);
}

} // namespace

bool HasHttpScheme(const char* text) {
    return StartsWith(text, "https://") || StartsWith(text, "http://");
}

bool NormaliseHttpsUrl(const char* text, char (&url)[UrlBytes]) {
    const char* scheme = std::strstr(text, "://");
    const char* rest = text;
    const char* prefix = "https://";
    if (scheme != nullptr) {
        if (!HasHttpScheme(text))
            return false;
        prefix = StartsWith(text, "https://") ? "https://" : "http://";
        rest = scheme + 3;
    }
    if (!ValidAuthorityAndPath(rest))
        return false;
    // A URL without a path asks for the root.
    const char* path = std::strchr(rest, '/') == nullptr ? "/" : "";
    const int n = std::snprintf(url, UrlBytes, "%s%s%s", prefix, rest, path);
    return n > 0 && n < UrlBytes;
}

namespace {

// What names a web server: the scheme's length in a normalised URL, its host and its port.
struct WebServer {
    bool https;
    const char* host;
    std::size_t host_length;
    long port;
};

// Reads a normalised URL (checked by ValidAuthorityAndPath).
WebServer WebServerOf(const char* url) {
    WebServer w{StartsWith(url, "https://"), std::strstr(url, "://") + 3, 0, 0};
    const char* at = w.host;
    if (*at == '[')
        at = std::strchr(at, ']') + 1;
    while (*at != '\0' && *at != ':' && *at != '/')
        ++at;
    w.host_length = static_cast<std::size_t>(at - w.host);
    w.port = w.https ? 443 : 80;
    if (*at == ':')
        w.port = std::strtol(at + 1, nullptr, 10);
    return w;
}

} // namespace

bool SameWebServer(const char* a, const char* b) {
    char url_a[UrlBytes];
    char url_b[UrlBytes];
    if (!NormaliseHttpsUrl(a, url_a) || !NormaliseHttpsUrl(b, url_b))
        return false;
    const WebServer x = WebServerOf(url_a);
    const WebServer y = WebServerOf(url_b);
    if (x.https != y.https || x.port != y.port || x.host_length != y.host_length)
        return false;
    for (std::size_t i = 0; i < x.host_length; ++i) {
        if (std::tolower(static_cast<unsigned char>(x.host[i])) !=
            std::tolower(static_cast<unsigned char>(y.host[i])))
            return false;
    }
    return true;
}

NtpMeasurement MeasureHttpDate(std::int64_t date_seconds, std::int64_t age_seconds,
                               std::int64_t sent_ns, std::int64_t received_ns) {
    NtpMeasurement m{};
    // Step 1: the header names the second the server (or the cache's origin) wrote it in; its
    // middle stands for the moment of writing. A cache's Age adds the whole seconds it held
    // the answer, counted down, so up to one more second is unknown.
    const std::int64_t written_ns =
        (date_seconds + (age_seconds > 0 ? age_seconds : 0)) * NsPerSecond + NsPerSecond / 2;
    // Step 2: against the middle of the exchange, when the server wrote it as best we know.
    const std::int64_t delay_ns = received_ns > sent_ns ? received_ns - sent_ns : 0;
    const std::int64_t middle_ns = sent_ns + delay_ns / 2;
    const std::int64_t offset_ns = written_ns - middle_ns;
    m.server_ns = received_ns + offset_ns;
    m.offset = static_cast<double>(offset_ns) / NsPerSecond;
    m.delay = static_cast<double>(delay_ns) / NsPerSecond;
    // Step 3: half a second for the header's resolution, half the exchange for when in it the
    // header was written, and a second more for an Age.
    m.precision = 1;
    m.root_distance = m.delay / 2 + 0.5 + (age_seconds >= 0 ? 1 : 0);
    return m;
}

SourceOutcome QueryHttpsSource(const char* url, std::int32_t timeout_ms,
                               const runtime::Cancellation* cancel) {
    const std::atomic<bool>* cancelled = cancel != nullptr ? cancel->Flag() : nullptr;
    SourceOutcome outcome{};
    outcome.http = true;
    std::int64_t start_boot_ns = 0;
    platform::precise_time_ops.boot_time_ns(&start_boot_ns);

    // Step 1: HEAD, and GET only when HEAD's answer has no Date, within what is left. The
    // HTTP stack times the exchange on the boot clock.
    platform::HttpExchange exchange;
    platform::HttpDateRequest(url, true, timeout_ms, &exchange, cancelled);
    if (exchange.failure == platform::HttpFailure::None && exchange.date[0] == '\0') {
        std::int64_t now_boot_ns = 0;
        platform::precise_time_ops.boot_time_ns(&now_boot_ns);
        const std::int64_t left_ms = timeout_ms - (now_boot_ns - start_boot_ns) / 1000000;
        if (left_ms > 0)
            platform::HttpDateRequest(url, false, static_cast<std::int32_t>(left_ms), &exchange,
                                      cancelled);
    }
    std::snprintf(outcome.address, sizeof outcome.address, "%s", exchange.address);
    outcome.port = exchange.port;
    if (exchange.failure != platform::HttpFailure::None) {
        if (exchange.failure == platform::HttpFailure::Cancelled)
            SetMessage(&outcome, "cancelled");
        else
            SetMessage(&outcome, "%s: %s", WordOf(exchange.failure), exchange.detail);
        return outcome;
    }
    // Step 2: one reading of the wall and boot clocks maps the exchange onto the wall clock.
    std::int64_t wall_ns = 0;
    std::int64_t boot_ns = 0;
    if (!runtime::ReadWallAndBoot(&wall_ns, &boot_ns)) {
        SetMessage(&outcome, "network: this machine's clock cannot be read");
        return outcome;
    }
    // Step 3: the Date, once, read in the century of this machine's year for the two-digit
    // form. Two Date lines say two times, whatever either holds, and neither can be trusted.
    std::int64_t date_seconds = 0;
    const std::int32_t year = runtime::CivilFromSeconds(wall_ns / NsPerSecond).year;
    if (exchange.date_lines > 1) {
        SetMessage(&outcome, "http: %d Date headers in one answer \"%s\"",
                   static_cast<int>(exchange.date_lines), exchange.date);
        return outcome;
    }
    if (exchange.date[0] == '\0') {
        SetMessage(&outcome, "http: the answer (status %d) carries no Date header",
                   static_cast<int>(exchange.status));
        return outcome;
    }
    if (!ParseHttpDate(exchange.date, std::strlen(exchange.date), year, &date_seconds)) {
        SetMessage(&outcome, "http: malformed or impossible Date header \"%s\"", exchange.date);
        return outcome;
    }
    // Step 4: a cache's Age, whole seconds, once as well.
    std::int64_t age_seconds = -1;
    if (exchange.age_lines > 1) {
        SetMessage(&outcome, "http: %d Age headers in one answer \"%s\"",
                   static_cast<int>(exchange.age_lines), exchange.age);
        return outcome;
    }
    if (exchange.age_lines > 0 &&
        !ParseHttpAge(exchange.age, std::strlen(exchange.age), &age_seconds)) {
        SetMessage(&outcome, "http: malformed Age header \"%s\"", exchange.age);
        return outcome;
    }
    // Step 5: the measurement; Rizi.Now carries it forward from the status line's arrival.
    outcome.measurement =
        MeasureHttpDate(date_seconds, age_seconds, WallOf(exchange.sent_boot_ns, wall_ns, boot_ns),
                        WallOf(exchange.received_boot_ns, wall_ns, boot_ns));
    outcome.boot_ns = exchange.received_boot_ns;
    outcome.ok = true;
    return outcome;
}

void ReadQueryHttpsArguments(lua_State* L, HttpsJob* job) {
    const char* text = luaL_checklstring(L, 1, nullptr);
    job->timeout_ms = OptInt32Argument(L, 2, DefaultHttpsTimeoutMs);
    if (!NormaliseHttpsUrl(text, job->url))
        luaL_argerror(L, 1, "URL expected: https://host[:port][/path], or http://...");
}

void RunQueryHttps(HttpsJob* job, const runtime::Cancellation* cancel) {
    job->outcome = QueryHttpsSource(job->url, job->timeout_ms, cancel);
    const SourceOutcome& o = job->outcome;
    if (o.ok)
        OfferAnchor(o.measurement.server_ns, o.boot_ns, o.measurement.root_distance);
}

int PushQueryHttpsResult(lua_State* L, const HttpsJob& job) {
    return PushSourceResult(L, job.outcome);
}

int QueryHTTPS(lua_State* L) {
    HttpsJob job;
    ReadQueryHttpsArguments(L, &job);
    RunQueryHttps(&job, nullptr);
    return PushQueryHttpsResult(L, job);
}

} // namespace timelib
