#include "timelib/result_table.h"

#include "timelib/lua_compat.h"
#include "timelib/zone.h"

#include <cstdint>

namespace timelib {
namespace {

struct DateField {
    const char* key;
    std::int32_t (*extract)(runtime::TimeValue);
};

// Keys in the order they are stored.
constexpr DateField DateFields[] = {
    {"day", runtime::DayOf},     {"wday", runtime::WeekdayOf}, {"yday", runtime::YeardayOf},
    {"month", runtime::MonthOf}, {"year", runtime::YearOf},    {"hour", runtime::HourOf},
    {"min", runtime::MinuteOf},  {"sec", runtime::SecondOf},
};

// t moved into local time: t - bias * 60, wrapping like the 32-bit arithmetic it stands for.
runtime::TimeValue Biased(runtime::TimeValue t, std::int32_t bias) {
    const std::uint32_t shift = static_cast<std::uint32_t>(bias) * 60u;
    return static_cast<runtime::TimeValue>(static_cast<std::uint32_t>(t) - shift);
}

// Room for the keys a measurement function's result holds: the five of PushInstantResult and
// the eleven of an NTP measurement that every caller adds, so the table is not rebuilt as it
// fills.
constexpr int InstantResultKeys = 16;

// Leaves the date table of any calendar fields on top of the stack, keys as DateFields.
void PushCivilFields(lua_State* L, const runtime::CivilTime& f) {
    const std::int32_t values[] = {f.day,  f.weekday, f.yearday, f.month,
                                   f.year, f.hour,    f.minute,  f.second};
    lua_createtable(L, 0, sizeof values / sizeof values[0]); // stack: date
    for (std::size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        lua_pushstring(L, DateFields[i].key); // stack: date, key
        lua_pushinteger(L, values[i]);        // stack: date, key, value
        lua_rawset(L, -3);                    // stack: date
    }
}

} // namespace

void PushTimeResult(lua_State* L, runtime::TimeValue t) {
    // Bias and name come from the same reading, so they always agree.
    const ZoneReading zone = ReadZone();
    const std::int32_t bias = ZoneBiasOf(zone);
    const ZoneName name = ZoneStandardNameOf(zone);

    lua_createtable(L, 0, 0); // stack: result
    lua_pushstring(L, "unbiased");
    PushDateFields(L, t); // stack: result, "unbiased", date
    lua_settable(L, -3);  // stack: result
    lua_pushstring(L, "biased");
    PushDateFields(L, Biased(t, bias));
    lua_settable(L, -3);
    lua_pushstring(L, "timezoneName");
    lua_pushstring(L, name.text);
    lua_settable(L, -3);
    lua_pushstring(L, "timezoneBias");
    PushHours(L, BiasHours(bias));
    lua_settable(L, -3);
}

void PushDateFields(lua_State* L, runtime::TimeValue t) {
    lua_createtable(L, 0, 0); // stack: date
    for (const DateField& field : DateFields) {
        lua_pushstring(L, field.key);         // stack: date, key
        lua_pushinteger(L, field.extract(t)); // stack: date, key, value
        lua_settable(L, -3);                  // stack: date
    }
}

void PushInstantResult(lua_State* L, std::int64_t unix_ns, int more_keys) {
    const ZoneReading zone = ReadZone();
    const std::int32_t bias = ZoneBiasOf(zone);
    const ZoneName name = ZoneStandardNameOf(zone);
    // The whole second the instant falls in, also before 1970.
    const std::int64_t second = unix_ns / 1000000000 - ((unix_ns % 1000000000 < 0) ? 1 : 0);

    lua_createtable(L, 0, InstantResultKeys + more_keys); // stack: result
    lua_pushstring(L, "unbiased");
    PushCivilFields(L, runtime::CivilFromSeconds(second)); // stack: result, "unbiased", date
    lua_rawset(L, -3);                                     // stack: result
    lua_pushstring(L, "biased");
    PushCivilFields(L, runtime::CivilFromSeconds(second - std::int64_t{bias} * 60));
    lua_rawset(L, -3);
    SetStringField(L, "timezoneName", name.text);
    lua_pushstring(L, "timezoneBias");
    PushHours(L, BiasHours(bias));
    lua_rawset(L, -3);
    SetNumberField(L, "time", static_cast<double>(unix_ns) / 1e9);
}

void SetNumberField(lua_State* L, const char* key, double value) {
    lua_pushstring(L, key);   // stack: table, key
    lua_pushnumber(L, value); // stack: table, key, value
    lua_rawset(L, -3);        // stack: table
}

void SetIntegerField(lua_State* L, const char* key, std::int32_t value) {
    lua_pushstring(L, key);
    lua_pushinteger(L, value);
    lua_rawset(L, -3);
}

void SetStringField(lua_State* L, const char* key, const char* value) {
    lua_pushstring(L, key);
    lua_pushstring(L, value);
    lua_rawset(L, -3);
}

void SetBooleanField(lua_State* L, const char* key, bool value) {
    lua_pushstring(L, key);
    lua_pushboolean(L, value ? 1 : 0);
    lua_rawset(L, -3);
}

} // namespace timelib
