#include "platform/precise_time.h"

#include <mutex>
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

// The tick count (Vista and later, like the rest of the plug-in) counts through suspend but in
// steps of 10 to 16 ms; the performance counter is fine but may stand still while the machine
// sleeps. Neither is slewed by the time service. So the counter measures from a tick
// reading taken as a base, and a new base is taken whenever the two part by more than 50 ms.
// Readings never go back.
bool BootTimeNs(std::int64_t* ns) {
    static std::mutex lock;
    static LONGLONG frequency = 0;
    static std::int64_t base_tick_ns = 0;
    static std::int64_t base_counter_ns = 0;
    static std::int64_t last_ns = 0;
    LARGE_INTEGER counter;
    const std::lock_guard<std::mutex> hold(lock);
    const auto tick_ns = static_cast<std::int64_t>(GetTickCount64()) * 1000000;
    std::int64_t result = tick_ns;
    LARGE_INTEGER f;
    if (frequency == 0 && QueryPerformanceFrequency(&f))
        frequency = f.QuadPart;
    if (frequency > 0 && QueryPerformanceCounter(&counter)) {
        const std::int64_t counter_ns = counter.QuadPart / frequency * 1000000000 +
                                        counter.QuadPart % frequency * 1000000000 / frequency;
        const std::int64_t refined = base_tick_ns + (counter_ns - base_counter_ns);
        const std::int64_t apart = refined - tick_ns;
        if (base_tick_ns == 0 || apart > 50000000 || apart < -50000000) {
            base_tick_ns = tick_ns;
            base_counter_ns = counter_ns;
        } else {
            result = refined;
        }
    }
    if (result < last_ns)
        result = last_ns;
    last_ns = result;
    *ns = result;
    return true;
}

} // namespace

PreciseTimeOps precise_time_ops = {RealTimeNs, BootTimeNs};

} // namespace platform
