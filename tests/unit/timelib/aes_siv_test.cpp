// AES-SIV-CMAC-256: RFC 5297's examples and the empty plaintext NTS seals, each opened again
// and refused after any change to what the tag covers.
#include "timelib/aes_siv.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<timelib::ByteSpan> Spans(const std::vector<Bytes>& parts) {
    std::vector<timelib::ByteSpan> spans;
    for (const Bytes& part : parts)
        spans.push_back({part.data(), static_cast<std::int32_t>(part.size())});
    return spans;
}

bool Open(const Bytes& key, const std::vector<Bytes>& parts, const Bytes& sealed, Bytes* out) {
    out->assign(sealed.size() - timelib::AesSivTagBytes, 0xAA);
    const auto spans = Spans(parts);
    return timelib::AesSivOpen(key.data(), spans.data(), static_cast<int>(spans.size()),
                               sealed.data(), static_cast<std::int32_t>(sealed.size()),
                               out->data());
}

TEST(AesSiv, SealsTheKnownVectorsAndOpensOnlyWhatItSealed) {
    const struct {
        const char* what;
        const char* key;
        std::vector<const char*> parts;
        std::string plaintext;
        const char* sealed;
    } cases[] = {
        {"RFC 5297 A.1: deterministic, plaintext under a block",
         "fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
         {"101112131415161718191a1b1c1d1e1f2021222324252627"},
         "112233445566778899aabbccddee",
         "85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c"},
        {"RFC 5297 A.2: two parts and a nonce, three blocks of plaintext",
         "7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f",
         {"00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100",
          "102030405060708090a0", "09f911029d74e35bd84156c5635688c0"},
         "7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d"
         "414553",
         "7bdb6e3b432667eb06f4d14bff2fbd0fcb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f748"
         "ba8af829ea64ad544a272e9c485b62a3fd5c0d"},
        // What NTS seals: no plaintext (the value from an independent implementation).
        {"empty plaintext",
         "7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f",
         {"102030405060708090a0", "09f911029d74e35bd84156c5635688c0"},
         "",
         "6b8cbe4dc32c76862f765bb033b2844c"},
        // Whole blocks only: three in one part, and two of plaintext, whose last is xored
        // with D (the value from an independent implementation).
        {"whole blocks",
         "7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f",
         {"303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f505152535455565758595a5b"
          "5c5d5e5f",
          "09f911029d74e35bd84156c5635688c0"},
         "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf",
         "02bd08eff219d8edc24bbdc98cc47840c9664c5948a62621285c891eb9cc05a73a1f49e8fc207070b4a1a4be"
         "a8f9ff10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes key = Hex(c.key), plaintext = Hex(c.plaintext), expected = Hex(c.sealed);
        std::vector<Bytes> parts;
        for (const char* part : c.parts)
            parts.push_back(Hex(part));
        const auto spans = Spans(parts);
        Bytes sealed(timelib::AesSivTagBytes + plaintext.size());
        ASSERT_TRUE(timelib::AesSivSeal(
            key.data(), spans.data(), static_cast<int>(spans.size()), plaintext.data(),
            static_cast<std::int32_t>(plaintext.size()), sealed.data()));
        EXPECT_EQ(sealed, expected);
        Bytes opened;
        EXPECT_TRUE(Open(key, parts, sealed, &opened));
        EXPECT_EQ(opened, plaintext);

        // Any bit of the tag or the ciphertext, or of a part of the associated data: refused,
        // and nothing of the forged plaintext comes out.
        const Bytes zeros(plaintext.size(), 0);
        for (std::size_t bit = 0; bit < sealed.size() * 8; ++bit) {
            Bytes forged = sealed;
            forged[bit / 8] ^= static_cast<std::uint8_t>(1 << bit % 8);
            ASSERT_FALSE(Open(key, parts, forged, &opened)) << "bit " << bit;
            ASSERT_EQ(opened, zeros);
        }
        for (std::size_t i = 0; i < parts.size(); ++i) {
            std::vector<Bytes> other = parts;
            other[i].back() ^= 0x01;
            EXPECT_FALSE(Open(key, other, sealed, &opened)) << "part " << i;
        }
        // An empty part more is other associated data, not the same.
        parts.emplace_back();
        EXPECT_FALSE(Open(key, parts, sealed, &opened));
    }
}

} // namespace
