// The build-time encoder against the module's decoder: round trips over generated inputs,
// including copies at the offsets where the gamma match's length adjustment changes, and the
// CXML container writer against the plug-in's reader.
#include "plugin/action_xml.h"
#include "runtime/heap.h"
#include "runtime/jcalg1.h"
#include "runtime/packer.h"
#include "tests/support/test_data.h"
#include "tools/cxml_container.h"
#include "tools/jcalg1_encoder.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t n, std::uint32_t seed, std::uint8_t lo = 0, std::uint8_t hi = 255) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(lo, hi);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(byte(rng));
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Decodes into a destination of exactly the input's size; true when the input comes back.
::testing::AssertionResult RoundTrips(const Bytes& input, const tools::Jcalg1Options& options,
                                      std::size_t* packed_size = nullptr) {
    const Bytes stream = tools::PackJcalg1(input.data(), input.size(), options);
    if (packed_size != nullptr)
        *packed_size = stream.size();
    std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[stream.size()]);
    std::copy(stream.begin(), stream.end(), source.get());
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[input.size() + 1]);
    const std::int32_t written =
        runtime::UnpackJcalg1(source.get(), static_cast<std::int32_t>(stream.size()), out.get(),
                              static_cast<std::int32_t>(input.size()));
    if (written != static_cast<std::int32_t>(input.size()) && !input.empty())
        return ::testing::AssertionFailure() << "decoder returned " << written;
    if (!std::equal(input.begin(), input.end(), out.get()))
        return ::testing::AssertionFailure() << "decoded bytes differ";
    return ::testing::AssertionSuccess();
}

tools::Jcalg1Options Fixed(std::uint32_t index_width = 8) {
    tools::Jcalg1Options o;
    o.index_width = index_width;
    return o;
}

TEST(PackJcalg1, RoundTripsGeneratedInputs) {
    std::vector<std::pair<std::string, Bytes>> inputs = {
        {"empty", {}},
        {"one byte", {0x41}},
        {"one zero", {0x00}},
        {"one high byte", {0xFF}},
        {"run of 100000", Bytes(100000, 'a')},
        {"zeros 70000", Bytes(70000, 0)},
        {"text", Text("The quick brown fox jumps over the lazy dog. The quick brown fox jumps "
                      "over the lazy cat. Lazy dogs and quick foxes.")},
        {"high window", RandomBytes(3000, 1, 0x90, 0xF0)}, // 7-bit literals above a base
        {"low bytes and zeros", RandomBytes(2000, 2, 0, 3)},
        {"random 70000", RandomBytes(70000, 3)},
    };
    for (std::size_t n : {2, 3, 7, 255, 256, 257, 511, 512, 513, 1000})
        inputs.push_back({"random " + std::to_string(n), RandomBytes(n, static_cast<unsigned>(n))});
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    inputs.push_back({"every byte value", all});
    Bytes periodic;
    for (int i = 0; i < 5000; ++i)
        periodic.push_back(static_cast<std::uint8_t>((i * i) % 251 % 17));
    inputs.push_back({"periodic", periodic});

    for (const auto& [name, input] : inputs) {
        EXPECT_TRUE(RoundTrips(input, Fixed())) << name;
        if (input.size() <= 5000) {
            EXPECT_TRUE(RoundTrips(input, tools::Jcalg1Options{})) << name << " (auto)";
        }
    }
}

TEST(PackJcalg1, RoundTripsCopiesAtOffsetThresholds) {
    // Random bytes followed by a copy from exactly that offset back.
    for (std::size_t offset : {127, 128, 638, 639, 14334, 14335, 65535, 65536}) {
        const Bytes head = RandomBytes(offset, static_cast<std::uint32_t>(offset));
        for (std::size_t copy : {2, 3, 4, 5, 6, 7, 300}) {
            Bytes input = head;
            for (std::size_t i = 0; i < copy; ++i) // overlapping when copy > offset
                input.push_back(input[input.size() - offset]);
            std::size_t packed = 0;
            EXPECT_TRUE(RoundTrips(input, Fixed(), &packed)) << offset << "+" << copy;
            if (copy == 300) { // the copy is coded as a match, not as 300 literals
                EXPECT_LT(packed, (offset + copy) * 9 / 8 - copy / 2) << offset;
            }
        }
    }
}

TEST(PackJcalg1, RoundTripsEveryIndexWidthAndWithoutChecksum) {
    const Bytes input = RandomBytes(20000, 9, 'a', 'h');
    for (std::uint32_t width = 1; width <= 20; ++width)
        EXPECT_TRUE(RoundTrips(input, Fixed(width))) << width;
    tools::Jcalg1Options no_sum = Fixed();
    no_sum.checksum = false;
    const Bytes stream = tools::PackJcalg1(input.data(), input.size(), no_sum);
    EXPECT_EQ(stream[6] | stream[7] | stream[8] | stream[9], 0);
    EXPECT_TRUE(RoundTrips(input, no_sum));
}

TEST(WriteCxmlContainer, IsReadBackByThePlugin) {
    runtime::RegisterJcalg1Packer();
    const Bytes document = Text("<A>\r\n<B>text text text</B>\r\n</A>");
    const Bytes packed = tools::PackJcalg1(document.data(), document.size());
    const Bytes container = tools::WriteCxmlContainer(document.data(), document.size(), packed);
    ASSERT_EQ(container.size(), tools::CxmlHeaderBytes + packed.size());
    EXPECT_EQ(std::string(container.begin(), container.begin() + 4), "CXML");

    std::uint8_t* block = plugin::UnpackCxml(container.data(), container.size());
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::equal(document.begin(), document.end(), block + tools::CxmlHeaderBytes));
    runtime::ReleaseBlock(runtime::Heap::Memory, block);
}

TEST(BitwiseCrc32, AgreesWithTheTableDrivenCrc32) {
    for (std::size_t n : {0, 1, 3, 4, 100, 4099}) {
        const Bytes data = RandomBytes(n, static_cast<std::uint32_t>(n + 17));
        EXPECT_EQ(tools::BitwiseCrc32(data.data(), data.size()),
                  plugin::Crc32(data.data(), data.size(), 0))
            << n;
    }
    EXPECT_EQ(tools::BitwiseCrc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9),
              0xCBF43926u);
}

} // namespace
