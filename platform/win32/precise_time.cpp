#include "platform/precise_time.h"

#include <windows.h>

namespace platform {
namespace {

using FileTimeReader = void(WINAPI*)(LPFILETIME);

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr std::int64_t UnixEpochIn100ns = 116444736000000000;

// GetSystemTimePreciseAsFileTime came with Windows 8; older systems keep the coarse call.
FileTimeReader PreciseReader() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC precise =
        kernel != nullptr ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
    if (precise == nullptr)
        return &GetSystemTimeAsFileTime;
    return reinterpret_cast<FileTimeReader>(reinterpret_cast<void*>(precise));
}

bool RealTimeNs(std::int64_t* ns) {
    static const FileTimeReader read = PreciseReader();
    FILETIME now;
    read(&now);
    const std::int64_t units =
        static_cast<std::int64_t>((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime);
    *ns = (units - UnixEpochIn100ns) * 100;
    return true;
}

} // namespace

PreciseTimeOps precise_time_ops = {RealTimeNs};

} // namespace platform
