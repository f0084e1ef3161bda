// The buffer protocol behind every text export: one table of capacities run against each
// identity text, with guard bytes around the host's buffer, plus the identity texts' form.
#include "plugin/buffer_protocol.h"
#include "plugin/identity.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using TextOperation = std::int32_t (*)(char*, std::int32_t*);

struct IdentityText {
    const char* name;
    TextOperation operation;
    std::string text;
};

const std::string Author = "Vadorov Rizi\r\nCreated by Vadorov Vuvaroreriv\r\n"
                           "https://www.vadorov.example/rizi\r\n"
                           "Copyright \xA9 2026 Vadorov Vuvaroreriv. All rights reserved.";

std::vector<IdentityText> IdentityTexts() {
    return {{"name", &plugin::GetPluginName, "Rizi"},
            {"version", &plugin::GetPluginVersion, "1.0.0.0"},
            {"author", &plugin::GetAuthorInfo, Author},
            {"lua", &plugin::GetLuaVersion, "Lua 5.1"}};
}

class BufferProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override { plugin::SetIdentityValues(); }
};

// Capacities relative to the text length L; Absolute ones are taken as they are.
enum class Capacity { Exact, OneMore, Large, Zero, MinusOne, Minimum };

std::int32_t CapacityFor(Capacity c, std::int32_t length) {
    switch (c) {
    case Capacity::Exact:
        return length;
    case Capacity::OneMore:
        return length + 1;
    case Capacity::Large:
        return length + 100;
    case Capacity::Zero:
        return 0;
    case Capacity::MinusOne:
        return -1;
    case Capacity::Minimum:
        return INT_MIN;
    }
    return 0;
}

TEST_F(BufferProtocolTest, EveryTextAgainstEveryCapacity) {
    const struct {
        Capacity capacity;
        bool fits;
    } cases[] = {{Capacity::Exact, false}, {Capacity::OneMore, true},   {Capacity::Large, true},
                 {Capacity::Zero, false},  {Capacity::MinusOne, false}, {Capacity::Minimum, false}};
    for (const IdentityText& t : IdentityTexts()) {
        const auto length = static_cast<std::int32_t>(t.text.size());
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(t.name) + " capacity " +
                         std::to_string(CapacityFor(c.capacity, length)));
            // The buffer is as large as the biggest case plus guard bytes, all '#'.
            std::vector<char> buffer(static_cast<std::size_t>(length) + 108, '#');
            std::int32_t size = CapacityFor(c.capacity, length);
            const std::int32_t result = t.operation(buffer.data(), &size);
            if (c.fits) {
                EXPECT_EQ(result, length);
                EXPECT_EQ(size, CapacityFor(c.capacity, length)); // not written
                EXPECT_EQ(std::string(buffer.data(), t.text.size()), t.text);
                EXPECT_EQ(buffer[t.text.size()], '\0');
                // Only the first L + 1 bytes change.
                for (std::size_t i = t.text.size() + 1; i < buffer.size(); ++i)
                    ASSERT_EQ(buffer[i], '#') << "byte " << i;
            } else {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(size, length + 1);
                for (char b : buffer)
                    ASSERT_EQ(b, '#');
            }
        }
    }
}

TEST_F(BufferProtocolTest, NullPointersFromTheHost) {
    for (const IdentityText& t : IdentityTexts()) {
        SCOPED_TRACE(t.name);
        const auto length = static_cast<std::int32_t>(t.text.size());
        // A null buffer is a buffer too small: the needed size comes back.
        std::int32_t size = 1000;
        EXPECT_EQ(t.operation(nullptr, &size), -1);
        EXPECT_EQ(size, length + 1);
        // A null size pointer: nothing is written anywhere.
        std::vector<char> buffer(200, '#');
        EXPECT_EQ(t.operation(buffer.data(), nullptr), -1);
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(200, '#'));
        EXPECT_EQ(t.operation(nullptr, nullptr), -1);
    }
}

TEST_F(BufferProtocolTest, EmptyTextNeedsOneByte) {
    char buffer[2] = {'#', '#'};
    std::int32_t size = 0;
    EXPECT_EQ(plugin::CopyTextToHost("", 0, buffer, &size), -1);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(plugin::CopyTextToHost("", 0, buffer, &size), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');
}

TEST(GetAuthorInfo, FourLinesJoinedByCrLfWithTheCopyrightByte) {
    plugin::SetIdentityValues();
    char buffer[256];
    std::int32_t size = sizeof buffer;
    const std::int32_t length = plugin::GetAuthorInfo(buffer, &size);
    ASSERT_GT(length, 0);
    const std::string text(buffer, static_cast<std::size_t>(length));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Vadorov Rizi");
    EXPECT_EQ(lines[1], "Created by Vadorov Vuvaroreriv");
    EXPECT_EQ(lines[2].rfind("https://", 0), 0u);
    // The copyright sign is one byte in the ANSI code page, not a UTF-8 pair.
    EXPECT_NE(lines[3].find('\xA9'), std::string::npos);
    EXPECT_EQ(lines[3].find('\xC2'), std::string::npos);
    // No lone CR or LF anywhere.
    for (const std::string& line : lines)
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
}

TEST(GetSDKVersion, TwoOnceStartedAndProjectBuildsAcknowledged) {
    plugin::SetIdentityValues();
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(plugin::GetSDKVersion(), 2);
        EXPECT_EQ(plugin::OnProjectBuild(), 1);
    }
}

} // namespace
