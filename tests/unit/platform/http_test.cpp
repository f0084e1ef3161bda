// How both HTTP stacks store a header's value: lines joined, a value too long cut so that it
// can never read as a shorter valid one.
#include "platform/http.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(AddHeaderValue, JoinsLinesAndMarksWhatIsCut) {
    const struct {
        const char* before;
        const char* value;
        const char* after; // in a field of 12 bytes
    } cases[] = {
        {"", "120", "120"},
        {"120", "5", "120, 5"},
        {"", "12345678901", "12345678901"},
        // A number of leading zeros that does not fit would otherwise be read as 0.
        {"", "000000000000120", "00000000..."},
        {"1234567", "890", "1234567,..."},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        char field[12];
        std::strcpy(field, c.before);
        platform::AddHeaderValue(field, sizeof field, c.value, std::strlen(c.value));
        EXPECT_STREQ(field, c.after) << c.before << " + " << c.value;
    }
}

} // namespace
