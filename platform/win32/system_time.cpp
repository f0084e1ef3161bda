#include "platform/system_time.h"

#include <windows.h>

namespace platform {
namespace {

void FromSystemTime(const SYSTEMTIME& st, SystemTime* out) {
    out->year = st.wYear;
    out->month = st.wMonth;
    out->day_of_week = st.wDayOfWeek;
    out->day = st.wDay;
    out->hour = st.wHour;
    out->minute = st.wMinute;
    out->second = st.wSecond;
    out->milliseconds = st.wMilliseconds;
}

void GetSystemTimeFields(SystemTime* out) {
    SYSTEMTIME st;
    GetSystemTime(&st);
    FromSystemTime(st, out);
}

void GetLocalTimeFields(SystemTime* out) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    FromSystemTime(st, out);
}

} // namespace

SystemTimeOps system_time_ops = {GetSystemTimeFields, GetLocalTimeFields};

} // namespace platform
