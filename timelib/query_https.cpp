#include "timelib/query_https.h"

#include "platform/http.h"
#include "platform/precise_time.h"
#include "runtime/calendar.h"
#include "runtime/clock.h"
#include "timelib/anchored_clock.h"
#include "timelib/http_date.h"
#include "timelib/lua_arguments.h"
#include "timelib/result_table.h"

#include <cctype>
#include <cstdio>
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

void SetMessage(SourceOutcome* outcome, const char* word, const char* detail) {
    std::snprintf(outcome->message, sizeof outcome->message, "%s: %s", word, detail);
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

SourceOutcome QueryHttpsSource(const char* url, std::int32_t timeout_ms) {
    SourceOutcome outcome{};
    outcome.http = true;
    // The clocks at the start; the HTTP stack reports its times from here.
    std::int64_t start_ns = 0;
    std::int64_t start_boot_ns = 0;
    runtime::ReadWallAndBoot(&start_ns, &start_boot_ns);

    // Step 1: HEAD, and GET only when HEAD's answer has no Date, within what is left.
    platform::HttpExchange exchange;
    platform::HttpDateRequest(url, true, timeout_ms, &exchange);
    if (exchange.failure == platform::HttpFailure::None && exchange.date[0] == '\0') {
        std::int64_t now_boot_ns = 0;
        platform::precise_time_ops.boot_time_ns(&now_boot_ns);
        const std::int64_t left_ms = timeout_ms - (now_boot_ns - start_boot_ns) / 1000000;
        if (left_ms > 0) {
            runtime::ReadWallAndBoot(&start_ns, &start_boot_ns);
            platform::HttpDateRequest(url, false, static_cast<std::int32_t>(left_ms), &exchange);
        }
    }
    std::snprintf(outcome.address, sizeof outcome.address, "%s", exchange.address);
    if (exchange.failure != platform::HttpFailure::None) {
        SetMessage(&outcome, WordOf(exchange.failure), exchange.detail);
        return outcome;
    }
    // Step 2: the Date, read in the century of this machine's year for the two-digit form.
    std::int64_t date_seconds = 0;
    const std::int32_t year = runtime::CivilFromSeconds(start_ns / NsPerSecond).year;
    if (exchange.date[0] == '\0') {
        char detail[64];
        std::snprintf(detail, sizeof detail, "the answer (status %d) carries no Date header",
                      static_cast<int>(exchange.status));
        SetMessage(&outcome, "http", detail);
        return outcome;
    }
    if (!ParseHttpDate(exchange.date, std::strlen(exchange.date), year, &date_seconds)) {
        char detail[96];
        std::snprintf(detail, sizeof detail, "malformed Date header \"%s\"", exchange.date);
        SetMessage(&outcome, "http", detail);
        return outcome;
    }
    // Step 3: the header names the second the server answered in; its middle stands against
    // the middle of the exchange.
    NtpMeasurement& m = outcome.measurement;
    const std::int64_t delay_ns =
        exchange.received_ns > exchange.sent_ns ? exchange.received_ns - exchange.sent_ns : 0;
    const std::int64_t middle_ns = start_ns + (exchange.sent_ns + exchange.received_ns) / 2;
    const std::int64_t offset_ns = date_seconds * NsPerSecond + NsPerSecond / 2 - middle_ns;
    m.server_ns = start_ns + exchange.received_ns + offset_ns;
    m.offset = static_cast<double>(offset_ns) / NsPerSecond;
    m.delay = static_cast<double>(delay_ns) / NsPerSecond;
    m.precision = 1;
    m.root_distance = m.delay / 2 + 0.5;
    outcome.boot_ns = start_boot_ns + exchange.received_ns;
    outcome.ok = true;
    return outcome;
}

int QueryHTTPS(lua_State* L) {
    const char* text = luaL_checklstring(L, 1, nullptr);
    const auto timeout_ms = OptInt32Argument(L, 2, DefaultHttpsTimeoutMs);
    char url[UrlBytes];
    if (!NormaliseHttpsUrl(text, url))
        return luaL_argerror(L, 1, "URL expected: https://host[:port][/path], or http://...");
    const SourceOutcome outcome = QueryHttpsSource(url, timeout_ms);
    if (!outcome.ok) {
        lua_pushnil(L);
        lua_pushstring(L, outcome.message);
        return 2;
    }
    OfferAnchor(outcome.measurement.server_ns, outcome.boot_ns, outcome.measurement.root_distance);
    PushInstantResult(L, outcome.measurement.server_ns); // stack: result
    SetMeasurementFields(L, outcome);
    return 1;
}

} // namespace timelib
