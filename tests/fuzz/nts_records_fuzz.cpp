// libFuzzer target for the key exchange's response parser: any bytes a server sends, read as
// the client reads them (from the start, as they arrive). Aborts when what must hold does not.
#include "timelib/nts_records.h"
#include "timelib/source_outcome.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using timelib::NtsKeParse;
using timelib::NtsKeResponse;

void Require(bool holds) {
    if (!holds)
        std::abort();
}

bool AllZero(const NtsKeResponse& response) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&response);
    for (std::size_t i = 0; i < sizeof response; ++i) {
        if (p[i] != 0)
            return false;
    }
    return true;
}

// One parse into a response and a message left dirty by whatever came before, as the
// client's are; the message has no byte of room beyond MessageBytes.
NtsKeParse Parse(const std::uint8_t* data, std::size_t size, NtsKeResponse* response,
                 char* message) {
    std::memset(response, 0xA5, sizeof *response);
    std::memset(message, 'x', timelib::MessageBytes);
    const NtsKeParse result =
        timelib::ParseNtsKeResponse(data, static_cast<std::int32_t>(size), response, message);
    const std::size_t message_length = strnlen(message, timelib::MessageBytes);
    Require(message_length < static_cast<std::size_t>(timelib::MessageBytes));
    switch (result) {
    case NtsKeParse::Complete:
        // What a session takes: NTPv4's cookies within bounds, a server name that is text.
        Require(message_length == 0);
        Require(response->cookie_count >= 1 && response->cookie_count <= timelib::MaxNtsCookies);
        for (int i = 0; i < response->cookie_count; ++i) {
            const std::uint16_t length = response->cookies[i].length;
            Require(length >= 1 && length <= timelib::MaxNtsCookieBytes);
        }
        for (int i = response->cookie_count; i < timelib::MaxNtsCookies; ++i)
            Require(response->cookies[i].length == 0);
        Require(strnlen(response->ntp_server, sizeof response->ntp_server) <
                sizeof response->ntp_server);
        for (const char* c = response->ntp_server; *c != '\0'; ++c)
            Require(*c > ' ' && *c < 0x7F);
        Require(size <= static_cast<std::size_t>(timelib::MaxNtsKeResponseBytes));
        break;
    case NtsKeParse::Failed:
        Require(std::strncmp(message, "nts-ke: ", 8) == 0 && message_length > 8);
        Require(AllZero(*response));
        break;
    case NtsKeParse::Incomplete:
        Require(message_length == 0 && AllZero(*response));
        Require(size <= static_cast<std::size_t>(timelib::MaxNtsKeResponseBytes));
        break;
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto response = std::make_unique<NtsKeResponse>();
    auto message = std::make_unique<char[]>(timelib::MessageBytes);
    const NtsKeParse whole = Parse(data, size, response.get(), message.get());
    auto first = std::make_unique<NtsKeResponse>();
    std::memcpy(first.get(), response.get(), sizeof *first);

    // The same bytes give the same answer whatever the records held before.
    Require(Parse(data, size, response.get(), message.get()) == whole);
    Require(std::memcmp(first.get(), response.get(), sizeof *first) == 0);

    // Fewer bytes of a response still being read are still being read; a complete one ends
    // with its last byte, so one byte less is not complete yet.
    if (whole != NtsKeParse::Failed && size > 0) {
        const std::size_t part = whole == NtsKeParse::Complete ? size - 1 : size / 2;
        Require(Parse(data, part, response.get(), message.get()) == NtsKeParse::Incomplete);
    }
    return 0;
}
