// libFuzzer target for what the clients make of a server's bytes. The first input byte picks
// a parser from Parsers, the rest is that parser's input; a new parser is one more row. Each
// checks what must hold whatever the bytes, and aborts when it does not.
#include "runtime/calendar.h"
#include "timelib/sntp.h"
#include "timelib/time_protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// 1990-01-01 00:00:00 and 2038-01-18 23:59:59 UTC: the times an RFC 868 reply may give.
constexpr std::int64_t First1990Second = 631152000;
constexpr std::int64_t LastCalendarSecond = 2147471999;

void Require(bool holds) {
    if (!holds)
        std::abort();
}

// The calendar fields a result table is built from: in range, and (where MakeTime reaches)
// giving the same time back.
void CheckCalendar(runtime::TimeValue t) {
    const std::int32_t year = runtime::YearOf(t), month = runtime::MonthOf(t);
    const std::int32_t day = runtime::DayOf(t), hour = runtime::HourOf(t);
    const std::int32_t minute = runtime::MinuteOf(t), second = runtime::SecondOf(t);
    Require(year >= 1970 && year <= 2038 && month >= 1 && month <= 12 && day >= 1 && day <= 31);
    Require(hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59);
    Require(runtime::WeekdayOf(t) >= 0 && runtime::WeekdayOf(t) <= 6);
    Require(runtime::YeardayOf(t) >= 1 && runtime::YeardayOf(t) <= 366);
    if (t <= LastCalendarSecond)
        Require(runtime::MakeTime(year, month, day, hour, minute, second) == t);
}

// Input: the Transmit Timestamp of our request (8 bytes), then the datagram as read into the
// 48-byte packet (a longer one is cut there, as the client reads it).
void FuzzSntpReply(const std::uint8_t* data, std::size_t size) {
    timelib::SntpPacket request{};
    timelib::SntpPacket reply{};
    const std::size_t stamp = std::min<std::size_t>(size, 8);
    std::memcpy(request.data() + 40, data, stamp);
    const std::size_t length = std::min<std::size_t>(size - stamp, reply.size());
    std::memcpy(reply.data(), data + stamp, length);
    if (!timelib::IsValidSntpReply(request, reply, static_cast<std::int32_t>(length)))
        return;
    // Accepted only whole and only as the answer to this request.
    Require(length == reply.size());
    Require(std::memcmp(reply.data() + 24, request.data() + 40, 8) == 0);
    const auto word = [&reply](std::size_t at) {
        return std::uint32_t{reply[at]} << 24 | std::uint32_t{reply[at + 1]} << 16 |
               std::uint32_t{reply[at + 2]} << 8 | std::uint32_t{reply[at + 3]};
    };
    const runtime::TimeValue t = timelib::NtpTimestampToTimeValue(word(40), word(44));
    if (t >= 0)
        CheckCalendar(t);
}

// Input: the bytes received before the close or the wait limit, any number of them.
void FuzzTimeProtocolReply(const std::uint8_t* data, std::size_t size) {
    runtime::TimeValue t = -2;
    const auto received = static_cast<std::int32_t>(std::min<std::size_t>(size, 64));
    const bool ok = timelib::TimeProtocolReplyTime(data, received, &t);
    // Seconds since 1900 counted on past the 32-bit wrap of 2036, as seconds since 1970.
    std::int64_t expected = -1;
    if (size >= 4) {
        const std::uint32_t seconds = std::uint32_t{data[0]} << 24 | std::uint32_t{data[1]} << 16 |
                                      std::uint32_t{data[2]} << 8 | std::uint32_t{data[3]};
        expected = static_cast<std::uint32_t>(seconds - 2208988800u);
    }
    Require(ok == (expected >= First1990Second && expected <= LastCalendarSecond));
    Require(ok ? t == expected : t == -2);
    if (ok)
        CheckCalendar(t);
}

struct Parser {
    const char* name;
    void (*run)(const std::uint8_t* data, std::size_t size);
};

constexpr Parser Parsers[] = {
    {"SNTP reply", FuzzSntpReply},
    {"RFC 868 reply", FuzzTimeProtocolReply},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Parsers[data[0] % std::size(Parsers)].run(data + 1, size - 1);
    return 0;
}
