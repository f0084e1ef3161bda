// AES-SIV-CMAC-256 (RFC 5297), the AEAD that Network Time Security authenticates its NTP
// packets with, on Mbed TLS's AES: deterministic, misuse-resistant, and with the
// associated data as a vector of parts, the nonce being the last of them.
#pragma once

#include <cstdint>

namespace timelib {

constexpr int AesSivKeyBytes = 32; // CMAC's AES-128 key, then CTR's
constexpr int AesSivTagBytes = 16; // the synthetic IV, which is also the tag

// One part of the associated data (an empty part counts: it is not the same as none).
struct ByteSpan {
    const std::uint8_t* data;
    std::int32_t length;
};

// At most this many parts of associated data, the nonce included.
constexpr int MaxAesSivParts = 8;

// Seals length bytes of plaintext: out receives the tag, then the ciphertext
// (AesSivTagBytes + length bytes; out may not overlap plaintext, which may be null when length
// is 0). False for more than MaxAesSivParts parts or a library failure, out then unspecified.
bool AesSivSeal(const std::uint8_t* key, const ByteSpan* parts, int part_count,
                const std::uint8_t* plaintext, std::int32_t length, std::uint8_t* out);

// Opens what AesSivSeal made (length >= AesSivTagBytes): out receives length - AesSivTagBytes
// bytes of plaintext (out may be null when that is none). False when the tag does not verify,
// with out zeroed: nothing of a forged message is ever handed on.
bool AesSivOpen(const std::uint8_t* key, const ByteSpan* parts, int part_count,
                const std::uint8_t* sealed, std::int32_t length, std::uint8_t* out);

} // namespace timelib
