// The JCALG1 decoder against hand-made streams (tests/data/jc_*.jc, listed in jc_cases.txt)
// and against damage: every stream truncated, every byte flipped, every destination too
// small. Buffers are exact-size heap blocks, so a stray access shows under AddressSanitizer.
#include "runtime/jcalg1.h"
#include "tests/support/test_data.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string DataDir = test_support::TestDataDir(__FILE__);

// The stream that decodes to "abcabcabc", with its checksum field.
const Bytes AbcStream = {0x4A, 0x43, 0x09, 0x00, 0x00, 0x00, 0xE3, 0xEC, 0xEC,
                         0xE0, 0x56, 0x6C, 0xD8, 0x20, 0x00, 0x00, 0x03, 0x36};

struct Decoded {
    std::int32_t result;
    Bytes output;
};

// Decodes from an exact-size copy of the stream into an exact-size destination.
Decoded Decode(const Bytes& stream, std::size_t source_bytes, std::size_t capacity,
               std::uint8_t fill = 0xEE) {
    std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[source_bytes + 1]);
    std::copy(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(source_bytes),
              source.get());
    std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[capacity + 1]);
    std::fill(destination.get(), destination.get() + capacity, fill);
    const std::int32_t result =
        runtime::UnpackJcalg1(source.get(), static_cast<std::int32_t>(source_bytes),
                              destination.get(), static_cast<std::int32_t>(capacity));
    return Decoded{result, Bytes(destination.get(), destination.get() + capacity)};
}

Decoded Decode(const Bytes& stream, std::size_t capacity) {
    return Decode(stream, stream.size(), capacity);
}

struct StreamCase {
    std::string name;
    std::int32_t result;
    Bytes stream;
    Bytes output; // expected bytes when result > 0
};

std::vector<StreamCase> LoadCases() {
    std::vector<StreamCase> cases;
    for (const auto& [file, result] : test_support::ReadCases(DataDir + "jc_cases.txt")) {
        StreamCase c{file, std::stoi(result), {}, {}};
        EXPECT_TRUE(test_support::ReadTestFile(DataDir + file, &c.stream)) << file;
        if (c.result > 0) {
            const std::string out = file.substr(0, file.size() - 3) + ".out";
            EXPECT_TRUE(test_support::ReadTestFile(DataDir + out, &c.output)) << out;
        }
        cases.push_back(c);
    }
    return cases;
}

TEST(Jcalg1Checksum, KnownValues) {
    const struct {
        std::string data;
        std::uint32_t sum;
    } cases[] = {
        {"", 0},
        {"abc", 0}, // shorter than one word
        {"abcd", 0xACA5A6A2u},
        {"abcde", 0xD8C2CCC1u}, // last word overlaps the first: "bcde"
        {"abcdefgh", 0xC5C3C1CCu},
        {"abcabcabc", 0xE0ECECE3u},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(c.data.data());
        EXPECT_EQ(runtime::Jcalg1Checksum(p, static_cast<std::uint32_t>(c.data.size())), c.sum)
            << c.data;
    }
}

TEST(UnpackJcalg1, AbcStreamWithItsChecksumZeroOrWrong) {
    Decoded d = Decode(AbcStream, 9);
    EXPECT_EQ(d.result, 9);
    EXPECT_EQ(std::string(d.output.begin(), d.output.end()), "abcabcabc");

    Bytes no_sum = AbcStream;
    std::fill(no_sum.begin() + 6, no_sum.begin() + 10, 0);
    EXPECT_EQ(Decode(no_sum, 9).result, 9);

    for (int delta : {0x01, 0x10, 0x80}) {
        Bytes wrong = AbcStream;
        wrong[8] = static_cast<std::uint8_t>(wrong[8] ^ delta);
        EXPECT_EQ(Decode(wrong, 9).result, 0);
    }
}

TEST(UnpackJcalg1, StreamWithoutMarkWritesNothing) {
    for (std::size_t i : {0, 1}) {
        Bytes unmarked = AbcStream;
        unmarked[i] = static_cast<std::uint8_t>(unmarked[i] + 1);
        Decoded d = Decode(unmarked, unmarked.size(), 9, 0x5A);
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(d.output, Bytes(9, 0x5A));
    }
}

TEST(UnpackJcalg1, HandMadeStreams) {
    const std::vector<StreamCase> cases = LoadCases();
    ASSERT_GE(cases.size(), 20u);
    for (const StreamCase& c : cases) {
        // Exactly the room needed, and a generous destination.
        for (std::size_t spare : {0, 64}) {
            Decoded d = Decode(c.stream, c.output.size() + spare);
            EXPECT_EQ(d.result, c.result) << c.name << " spare " << spare;
            if (c.result > 0) {
                EXPECT_EQ(Bytes(d.output.begin(), d.output.begin() + c.result), c.output) << c.name;
            }
        }
    }
}

TEST(UnpackJcalg1, OutputLargerThanDestinationGivesZero) {
    for (const StreamCase& c : LoadCases()) {
        if (c.result <= 0)
            continue;
        for (std::size_t capacity = 0; capacity < c.output.size(); ++capacity)
            EXPECT_EQ(Decode(c.stream, capacity).result, 0) << c.name << " into " << capacity;
    }
}

TEST(UnpackJcalg1, TruncatedAtEveryLengthGivesZero) {
    for (const StreamCase& c : LoadCases()) {
        for (std::size_t length = 0; length < c.stream.size(); ++length)
            EXPECT_EQ(Decode(c.stream, length, c.output.size() + 16).result, 0)
                << c.name << " cut to " << length;
    }
}

TEST(UnpackJcalg1, EveryByteFlippedStaysInBounds) {
    // A damaged stream may still decode (a literal changed, a stream without checksum), but
    // a result other than 0 always means its checksum field held for what was written.
    for (const StreamCase& c : LoadCases()) {
        for (std::size_t i = 0; i < c.stream.size(); ++i) {
            for (int mask : {0xFF, 0x01, 0x80}) {
                Bytes damaged = c.stream;
                damaged[i] = static_cast<std::uint8_t>(damaged[i] ^ mask);
                Decoded d = Decode(damaged, c.output.size());
                if (d.result == 0 || damaged.size() < 10)
                    continue;
                const std::uint32_t size = static_cast<std::uint32_t>(
                    damaged[2] | damaged[3] << 8 | damaged[4] << 16 | damaged[5] << 24);
                const std::uint32_t sum = static_cast<std::uint32_t>(
                    damaged[6] | damaged[7] << 8 | damaged[8] << 16 | damaged[9] << 24);
                if (sum != 0) {
                    ASSERT_LE(size, d.output.size()) << c.name << " byte " << i;
                    EXPECT_EQ(runtime::Jcalg1Checksum(d.output.data(), size), sum)
                        << c.name << " byte " << i;
                }
            }
        }
    }
}

TEST(UnpackJcalg1, DecodedSizeBeyondDestinationFailsTheChecksum) {
    // The checksum covers the header's decoded size, which must lie in the destination.
    Bytes longer = AbcStream;
    longer[2] = 10;
    EXPECT_EQ(Decode(longer, 9).result, 0);
}

TEST(UnpackJcalg1, BadArguments) {
    std::uint8_t out[16] = {};
    EXPECT_EQ(runtime::UnpackJcalg1(nullptr, 18, out, 16), 0);
    EXPECT_EQ(runtime::UnpackJcalg1(AbcStream.data(), -1, out, 16), 0);
    EXPECT_EQ(runtime::UnpackJcalg1(AbcStream.data(), 18, out, -1), 0);
    EXPECT_EQ(runtime::UnpackJcalg1(AbcStream.data(), 18, nullptr, 16), 0);
    EXPECT_EQ(runtime::UnpackJcalg1(AbcStream.data(), 18, nullptr, 0), 0);
}

} // namespace
