#include "timelib/source_outcome.h"

#include "timelib/result_table.h"

#include <cstdarg>
#include <cstdio>

namespace timelib {

void SetMessage(SourceOutcome* outcome, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(outcome->message, sizeof outcome->message, format, args);
    va_end(args);
}

void SetMeasurementFields(lua_State* L, const SourceOutcome& outcome) {
    const NtpMeasurement& m = outcome.measurement;
    SetNumberField(L, "offset", m.offset);
    SetNumberField(L, "delay", m.delay);
    SetNumberField(L, "precision", m.precision);
    SetNumberField(L, "rootDistance", m.root_distance);
    SetStringField(L, "address", outcome.address);
    if (outcome.http)
        return; // a Date header says nothing of strata, leaps or references
    SetIntegerField(L, "stratum", m.stratum);
    SetIntegerField(L, "leap", m.leap);
    SetNumberField(L, "rootDelay", m.root_delay);
    SetNumberField(L, "rootDispersion", m.root_dispersion);
    SetStringField(L, "referenceId", m.reference_id);
    SetIntegerField(L, "version", m.version);
    if (outcome.authenticated)
        SetBooleanField(L, "authenticated", true);
}

int PushSourceResult(lua_State* L, const SourceOutcome& outcome, int more_keys) {
    if (!outcome.ok) {
        lua_pushnil(L);                     // stack: nil
        lua_pushstring(L, outcome.message); // stack: nil, message
        return 2;
    }
    // authenticated is a key more than the measurement's eleven.
    PushInstantResult(L, outcome.measurement.server_ns,
                      more_keys + (outcome.authenticated ? 1 : 0)); // stack: result
    SetMeasurementFields(L, outcome);
    return 1;
}

} // namespace timelib
