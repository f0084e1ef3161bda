// The key exchange's records: the request's bytes, and what a client takes from a response
// and what ends it, read again from the start as more bytes arrive.
#include "timelib/nts_records.h"
#include "timelib/source_outcome.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using timelib::NtsKeParse;

Bytes Record(std::uint16_t type, const Bytes& body) {
    Bytes out = {static_cast<std::uint8_t>(type >> 8), static_cast<std::uint8_t>(type),
                 static_cast<std::uint8_t>(body.size() >> 8),
                 static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Cat(const std::vector<Bytes>& records) {
    Bytes out;
    for (const Bytes& r : records)
        out.insert(out.end(), r.begin(), r.end());
    return out;
}

const Bytes Ntpv4 = Record(0x8001, {0, 0});
const Bytes Siv = Record(0x8004, {0, 15});
const Bytes End = Record(0x8000, {});

Bytes Cookie(std::size_t length, std::uint8_t fill = 0xC0) {
    return Record(0x0005, Bytes(length, fill));
}

Bytes Text(const char* text) {
    return Bytes(text, text + std::strlen(text));
}

NtsKeParse Parse(const Bytes& bytes, timelib::NtsKeResponse* response, std::string* message) {
    char text[timelib::MessageBytes];
    const NtsKeParse result = timelib::ParseNtsKeResponse(
        bytes.data(), static_cast<std::int32_t>(bytes.size()), response, text);
    *message = text;
    return result;
}

TEST(BuildNtsKeRequest, OffersNtpv4AndAesSivCmac256Critically) {
    std::uint8_t request[timelib::NtsKeRequestBytes];
    timelib::BuildNtsKeRequest(request);
    EXPECT_EQ(Bytes(request, request + sizeof request), Cat({Ntpv4, Siv, End}));
}

TEST(ParseNtsKeResponse, TakesWhatAClientMayAndFailsTheRest) {
    const Bytes server = Record(0x0006, Text("ntp.example.net"));
    const Bytes port = Record(0x0007, {0x04, 0xD2});
    Bytes nine;
    for (std::uint8_t i = 1; i <= 9; ++i)
        nine = Cat({nine, Cookie(64, i)});
    const struct {
        const char* what;
        Bytes bytes;
        NtsKeParse result;
        int cookies;
        const char* message; // its first words
    } cases[] = {
        {"complete", Cat({server, Ntpv4, Siv, Cookie(100), port, End}), NtsKeParse::Complete, 1,
         ""},
        {"unknown, not critical", Cat({Ntpv4, Record(0x1234, {1}), Siv, Cookie(1), End}),
         NtsKeParse::Complete, 1, ""},
        {"a warning", Cat({Ntpv4, Siv, Record(0x8003, {0, 9}), Cookie(8), End}),
         NtsKeParse::Complete, 1, ""},
        {"nine cookies", Cat({Ntpv4, Siv, nine, End}), NtsKeParse::Complete, 8, ""},
        {"no End of Message", Cat({Ntpv4, Siv, Cookie(8)}), NtsKeParse::Incomplete, 0, ""},
        {"an error", Cat({Ntpv4, Record(0x8002, {0, 1})}), NtsKeParse::Failed, 0,
         "nts-ke: the server reports error 1 (bad request)"},
        {"unknown, critical", Cat({Ntpv4, Record(0xC000, {})}), NtsKeParse::Failed, 0,
         "nts-ke: the server sends an unknown critical record"},
        {"no AEAD", Cat({Ntpv4, Cookie(8), End}), NtsKeParse::Failed, 0,
         "nts-ke: the response chooses no AEAD"},
        {"another AEAD", Cat({Ntpv4, Record(0x8004, {0, 16}), Cookie(8), End}), NtsKeParse::Failed,
         0, "nts-ke: the server chooses AEAD algorithm 16"},
        {"another protocol", Cat({Record(0x8001, {0, 0, 0, 1}), Siv, Cookie(8), End}),
         NtsKeParse::Failed, 0, "nts-ke: the server names next protocol 1"},
        {"no protocol", Cat({Record(0x8001, {}), Siv, Cookie(8), End}), NtsKeParse::Failed, 0,
         "nts-ke: the server supports no NTPv4"},
        {"no cookie", Cat({Ntpv4, Siv, End}), NtsKeParse::Failed, 0,
         "nts-ke: the response carries no cookie"},
        {"a cookie too long", Cat({Ntpv4, Siv, Cookie(257), End}), NtsKeParse::Failed, 0,
         "nts-ke: the New Cookie record has a body of 257"},
        {"an empty cookie", Cat({Ntpv4, Siv, Cookie(0), End}), NtsKeParse::Failed, 0,
         "nts-ke: the New Cookie record has a body of 0"},
        {"a port of one byte", Cat({Ntpv4, Record(0x0007, {1})}), NtsKeParse::Failed, 0,
         "nts-ke: the NTPv4 Port record has a body of 1"},
        {"a server with a space", Cat({Record(0x0006, Text("a b")), End}), NtsKeParse::Failed, 0,
         "nts-ke: the NTPv4 server is not"},
        {"two AEAD records", Cat({Siv, Siv}), NtsKeParse::Failed, 0, "nts-ke: two AEAD"},
        {"a byte after End of Message", Cat({Ntpv4, Siv, Cookie(8), End, {0}}), NtsKeParse::Failed,
         0, "nts-ke: 1 bytes after End of Message"},
        // A record that ends past the bound fails at once, not after 64 KiB more.
        {"a record past the bound", Cat({Ntpv4, {0x40, 0x00, 0xFF, 0xFF}}), NtsKeParse::Failed, 0,
         "nts-ke: the response is longer than 16384 bytes"},
        {"a response past the bound", Cat({Bytes(16384, 0), End}), NtsKeParse::Failed, 0,
         "nts-ke: the response is longer than 16384 bytes"},
    };
    // One response record for every case: nothing of a case may leak into the next.
    timelib::NtsKeResponse response{};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string message;
        EXPECT_EQ(Parse(c.bytes, &response, &message), c.result);
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(response.cookie_count, c.cookies);
        if (c.result == NtsKeParse::Complete) {
            EXPECT_EQ(response.cookies[c.cookies - 1].bytes[0], c.cookies == 8 ? 8 : 0xC0);
        }
    }

    // Every part of a good response is Incomplete; the whole one gives the server's words.
    const Bytes whole = Cat({server, Ntpv4, Siv, Cookie(100), port, End});
    std::string message;
    for (std::size_t length = 0; length < whole.size(); ++length)
        ASSERT_EQ(Parse(Bytes(whole.begin(), whole.begin() + static_cast<long>(length)), &response,
                        &message),
                  NtsKeParse::Incomplete)
            << length;
    ASSERT_EQ(Parse(whole, &response, &message), NtsKeParse::Complete);
    EXPECT_STREQ(response.ntp_server, "ntp.example.net");
    EXPECT_EQ(response.ntp_port, 1234);
    EXPECT_EQ(response.cookies[0].length, 100);
}

} // namespace
