// Rizi.QueryHTTPS: the time from the Date header of an HTTPS server's answer, for networks
// that let only web traffic through. One HEAD request (a GET when its answer has no Date) by
// the system's HTTP stack (platform/http.h), certificates always verified; whole seconds, so
// the interval it stands for is half a second wider on each side than the round trip.
#pragma once

#include "runtime/cancellation.h"
#include "timelib/lua_api.h"
#include "timelib/source_outcome.h"

#include <cstdint>

namespace timelib {

constexpr std::int32_t DefaultHttpsTimeoutMs = 3000;

// Longest URL kept.
constexpr int UrlBytes = 1024;

// The URL a text names: "https://host[:port][/path]" or "http://..." as written, a bare
// "host[:port][/path]" as https. False for another scheme, an empty or malformed host or
// port, blanks or control characters, or a URL longer than UrlBytes - 1.
bool NormaliseHttpsUrl(const char* text, char (&url)[UrlBytes]);

// True when text is written with the http:// or https:// scheme.
bool HasHttpScheme(const char* text);

// True when two URLs as a script writes them (see NormaliseHttpsUrl) name the same web server:
// the same scheme, the same host in any case, and the same port as a number, 443 or 80 when
// none is written. False when either is not a URL.
bool SameWebServer(const char* a, const char* b);

// What a response says of the server's clock against this machine's. date_seconds: the
// second its Date names (as ParseHttpDate gives it); age_seconds: the Age a cache added (0
// to MaxHttpAgeSeconds), or -1 for none; sent_ns and received_ns: the request leaving and
// the status line arriving on this machine's wall clock. The server's time at received_ns,
// the offset against the exchange's middle, the delay, precision 1, and the root distance.
NtpMeasurement MeasureHttpDate(std::int64_t date_seconds, std::int64_t age_seconds,
                               std::int64_t sent_ns, std::int64_t received_ns);

// One Date from url within timeout_ms in all: the measurement (offset against the middle of
// the HTTP exchange, delay of that exchange) or a message starting with resolve, network,
// timeout, tls, http or https unavailable; "cancelled" once cancel is requested.
SourceOutcome QueryHttpsSource(const char* url, std::int32_t timeout_ms,
                               const runtime::Cancellation* cancel = nullptr);

// Rizi.QueryHTTPS as plain data, so that it can run away from its Lua state: what it is
// asked and what it found.
struct HttpsJob {
    char url[UrlBytes];
    std::int32_t timeout_ms;
    SourceOutcome outcome;
};

// Reads the arguments (url [, timeout_ms = 3000]); raises their argument errors.
void ReadQueryHttpsArguments(lua_State* L, HttpsJob* job);

// The request; a measurement also goes to Rizi.Now's anchor.
void RunQueryHttps(HttpsJob* job, const runtime::Cancellation* cancel);

// Pushes the result table, or nil and the message; returns how many values.
int PushQueryHttpsResult(lua_State* L, const HttpsJob& job);

// Lua: Rizi.QueryHTTPS(url [, timeout_ms = 3000]) -> result table, or nil and a message.
int QueryHTTPS(lua_State* L);

} // namespace timelib
