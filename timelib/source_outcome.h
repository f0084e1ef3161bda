// What every time source's query ends with, and the Lua keys of its measurement: shared by
// the NTP measurement, the HTTPS source and the verdict over several sources.
#pragma once

#include "platform/socket.h"
#include "timelib/lua_api.h"
#include "timelib/ntp_measurement.h"

#include <cstdint>

namespace timelib {

// Room for a failure message: its fixed first word and what it concerns.
constexpr int MessageBytes = 320;

// How a source's query ended: a measurement, or a message starting with one fixed word
// (resolve, network, timeout, kiss, unsynchronised, tls, http, nts-ke, https unavailable).
struct SourceOutcome {
    bool ok;
    bool http;          // from a Date header: whole seconds, no NTP health fields
    bool authenticated; // an NTS reply whose authenticator verified
    NtpMeasurement measurement;
    std::int64_t boot_ns; // the boot clock when the reply arrived (measurement.server_ns then)
    char address[platform::AddressTextBytes]; // the address asked (and, on success, answering)
    // The port reached at address where the query knows it (an HTTPS source's: a proxy's when
    // one is used, as the address is); else 0.
    std::uint16_t port;
    char message[MessageBytes];
};

// Sets the outcome's message from a printf format; a longer text is cut at MessageBytes.
void SetMessage(SourceOutcome* outcome, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// With a table on top of the stack, stores the measurement keys of an outcome that is ok:
// offset, delay, precision, rootDistance and address, and for an NTP source also stratum,
// leap, rootDelay, rootDispersion, referenceId and version; authenticated when it is.
void SetMeasurementFields(lua_State* L, const SourceOutcome& outcome);

// Pushes what a one-source query returns: its result table (the calendar tables and time, then
// the measurement keys, with room for more_keys that the caller adds) when it is ok, else nil
// and its message; returns how many values.
int PushSourceResult(lua_State* L, const SourceOutcome& outcome, int more_keys = 0);

} // namespace timelib
