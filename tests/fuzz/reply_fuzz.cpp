// libFuzzer target for what the clients make of a server's bytes. The first input byte picks
// a parser from Parsers, the rest is that parser's input; a new parser is one more row. Each
// checks what must hold whatever the bytes, and aborts when it does not.
#include "runtime/calendar.h"
#include "timelib/http_date.h"
#include "timelib/ntp_measurement.h"
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

// Input: our nonce (8 bytes), the local send and receipt times (8 bytes each, as ns since
// 1970), then the datagram.
void FuzzNtpReply(const std::uint8_t* data, std::size_t size) {
    if (size < 24)
        return;
    std::uint64_t words[3];
    std::memcpy(words, data, sizeof words);
    const timelib::NtpTimestamp nonce = words[0];
    // Local times of this century and a round trip below a minute, as the client reads them.
    const std::int64_t t1 = static_cast<std::int64_t>(words[1] % (4102444800ull * 1000000000ull));
    const std::int64_t t4 = t1 + static_cast<std::int64_t>(words[2] % 60000000000ull);
    const std::uint8_t* reply = data + 24;
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(size - 24, 2048));
    const timelib::ReplyCheck check = timelib::CheckNtpReply(nonce, reply, length);
    if (check.verdict == timelib::ReplyVerdict::Ignore)
        return;
    // Anything but Ignore comes only from a whole packet that echoes the nonce.
    Require(length >= timelib::NtpPacketBytes);
    std::uint64_t origin = 0;
    for (int i = 0; i < 8; ++i)
        origin = origin << 8 | reply[24 + i];
    Require(origin == nonce);
    if (check.verdict == timelib::ReplyVerdict::Kiss)
        Require(check.kiss_code[0] != '\0' && std::strlen(check.kiss_code) <= 4);
    if (check.verdict != timelib::ReplyVerdict::Answer)
        return;
    const timelib::NtpMeasurement m = timelib::MeasureNtpReply(reply, t1, t4, reply[0] & 1, 1e-7);
    // The server's time lies within 68 years of ours, the delay is never negative, and the
    // calendar takes any such time apart.
    Require(m.delay >= 0 && m.root_distance >= m.delay / 2 && m.precision > 0);
    Require(m.offset > -2.2e9 && m.offset < 2.2e9);
    Require(std::strlen(m.reference_id) < sizeof m.reference_id);
    const runtime::CivilTime f = runtime::CivilFromSeconds(m.server_ns / 1000000000);
    Require(f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= 31 && f.yearday >= 1 &&
            f.yearday <= 366 && f.weekday >= 0 && f.weekday <= 6);
}

// Input: a Date header's value. What parses lies in 1970-2105 (its leap second may end in
// 2106) and gives its own fields back through the calendar.
void FuzzHttpDate(const std::uint8_t* data, std::size_t size) {
    std::int64_t seconds = 0;
    const auto* text = reinterpret_cast<const char*>(data);
    if (!timelib::ParseHttpDate(text, std::min<std::size_t>(size, 64), 2026, &seconds))
        return;
    const runtime::CivilTime f = runtime::CivilFromSeconds(seconds);
    Require(f.year >= 1970 && f.year <= 2106 && f.month >= 1 && f.month <= 12);
    Require(runtime::SecondsFromCivil(f.year, f.month, f.day, f.hour, f.minute, f.second) ==
            seconds);
}

struct Parser {
    const char* name;
    void (*run)(const std::uint8_t* data, std::size_t size);
};

constexpr Parser Parsers[] = {
    {"SNTP reply", FuzzSntpReply},
    {"RFC 868 reply", FuzzTimeProtocolReply},
    {"NTPv4 reply", FuzzNtpReply},
    {"HTTP Date", FuzzHttpDate},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Parsers[data[0] % std::size(Parsers)].run(data + 1, size - 1);
    return 0;
}
