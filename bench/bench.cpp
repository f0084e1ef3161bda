// Figures for the hot paths: unpacking the action document (the host may ask for it often),
// the CRC and decoder underneath it, calendar decomposition, and the cost of one empty poll,
// which the time clients make once per millisecond of waiting.
#include "plugin/action_xml.h"
#include "runtime/calendar.h"
#include "runtime/heap.h"
#include "runtime/jcalg1.h"
#include "runtime/net.h"
#include "runtime/packer.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::uint64_t sink; // keeps results alive so the loops are not optimised away

// Runs body in rounds until at least min_seconds have passed; returns seconds per call.
template <class Body> double SecondsPerCall(Body body, double min_seconds = 0.5) {
    std::uint64_t calls = 0;
    std::uint64_t round = 1;
    const auto start = Clock::now();
    double elapsed = 0;
    while (elapsed < min_seconds) {
        for (std::uint64_t i = 0; i < round; ++i)
            body();
        calls += round;
        round *= 2;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    return elapsed / static_cast<double>(calls);
}

void Report(const char* what, double seconds_per_call, double bytes_per_call = 0) {
    std::printf("%-44s %12.1f ns/call", what, seconds_per_call * 1e9);
    if (bytes_per_call > 0)
        std::printf("  %9.1f MB/s", bytes_per_call / seconds_per_call / 1e6);
    std::printf("\n");
}

} // namespace

int main() {
    runtime::CreateHeap(runtime::Heap::Module);
    runtime::CreateHeap(runtime::Heap::Memory);
    runtime::RegisterJcalg1Packer();

    const std::uint8_t* container = plugin::ActionXmlContainer;
    std::uint32_t unpacked = 0;
    std::uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) {
        unpacked |= std::uint32_t{container[4 + i]} << (8 * i);
        packed |= std::uint32_t{container[8 + i]} << (8 * i);
    }
    std::printf("action document: %u bytes, packed stream %u bytes (%.1f%%)\n", unpacked, packed,
                100.0 * packed / unpacked);

    std::vector<char> buffer(unpacked + 1);
    Report("irPlg_GetPluginActionXML (unpack + checks)", SecondsPerCall([&] {
               std::int32_t size = static_cast<std::int32_t>(buffer.size());
               sink = sink +
                      static_cast<std::uint64_t>(plugin::GetPluginActionXML(buffer.data(), &size));
           }),
           unpacked);

    std::vector<std::uint8_t> out(unpacked + 8);
    Report("UnpackJcalg1 (action document)", SecondsPerCall([&] {
               sink = sink + static_cast<std::uint64_t>(runtime::UnpackJcalg1(
                                 container + 20, static_cast<std::int32_t>(packed), out.data(),
                                 static_cast<std::int32_t>(out.size())));
           }),
           unpacked);

    std::vector<std::uint8_t> big(1 << 20);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 131u + (i >> 7));
    Report("Crc32 (1 MiB)",
           SecondsPerCall([&] { sink = sink + plugin::Crc32(big.data(), big.size(), 0); }),
           static_cast<double>(big.size()));

    std::int32_t t = 0;
    Report(
        "all eight calendar fields of one time value", SecondsPerCall([&] {
            t = static_cast<std::int32_t>((static_cast<std::uint32_t>(t) + 604'806u) & 0x7fffffffu);
            sink = sink + static_cast<std::uint64_t>(runtime::YearOf(t) + runtime::MonthOf(t) +
                                                     runtime::DayOf(t) + runtime::HourOf(t) +
                                                     runtime::MinuteOf(t) + runtime::SecondOf(t) +
                                                     runtime::WeekdayOf(t) + runtime::YeardayOf(t));
        }));
    Report("MakeTime", SecondsPerCall([&] {
               t = (t + 1) & 0xffff;
               sink =
                   sink + static_cast<std::uint64_t>(runtime::MakeTime(
                              2000 + (t & 31), 1 + (t & 7), 1 + (t & 15), t & 15, t & 31, t & 31));
           }));

    runtime::NetworkStartup();
    runtime::ConnectionHandle conn =
        runtime::OpenClientConnection("127.0.0.1", 9, runtime::ProtocolUdp);
    if (conn != nullptr) {
        Report("PollConnectionEvent, UDP, nothing waiting", SecondsPerCall([&] {
                   sink = sink + static_cast<std::uint64_t>(runtime::PollConnectionEvent(conn));
               }));
        runtime::CloseClientConnection(conn);
    }
    runtime::NetworkShutdown();
    runtime::DestroyHeap(runtime::Heap::Memory);
    runtime::DestroyHeap(runtime::Heap::Module);
    return 0;
}
