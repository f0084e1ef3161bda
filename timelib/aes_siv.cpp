#include "timelib/aes_siv.h"

#include <cstddef>
#include <cstring>
#include <mbedtls/aes.h>
#include <mbedtls/cipher.h>
#include <mbedtls/cmac.h>
#include <mbedtls/platform_util.h>

// The one Mbed TLS header without the C++ guard the others have.
extern "C" {
#include <mbedtls/constant_time.h>
}

namespace timelib {
namespace {

constexpr int Block = 16;
constexpr unsigned HalfKeyBits = 128;

// AES-CMAC under the key's first half (S2V's PRF), one string at a time. The library wipes
// the context, key schedule included, when it is freed.
class Cmac {
  public:
    explicit Cmac(const std::uint8_t* key) {
        mbedtls_cipher_init(&ctx_);
        ok_ = mbedtls_cipher_setup(
                  &ctx_, mbedtls_cipher_info_from_type(MBEDTLS_CIPHER_AES_128_ECB)) == 0 &&
              mbedtls_cipher_cmac_starts(&ctx_, key, HalfKeyBits) == 0;
    }
    ~Cmac() { mbedtls_cipher_free(&ctx_); }
    Cmac(const Cmac&) = delete;
    Cmac& operator=(const Cmac&) = delete;

    // The library takes no null pointer, even for nothing.
    void Update(const std::uint8_t* data, std::int32_t length) {
        if (ok_ && length > 0)
            ok_ = mbedtls_cipher_cmac_update(&ctx_, data, static_cast<std::size_t>(length)) == 0;
    }
    // Ends the string with its MAC in mac, and starts the next under the same key.
    void Finish(std::uint8_t (&mac)[Block]) {
        ok_ = ok_ && mbedtls_cipher_cmac_finish(&ctx_, mac) == 0 &&
              mbedtls_cipher_cmac_reset(&ctx_) == 0;
    }
    bool Ok() const { return ok_; }

  private:
    mbedtls_cipher_context_t ctx_;
    bool ok_;
};

// dbl(): multiplication by x in GF(2^128), the carry folded back without a branch.
void Double(std::uint8_t (&block)[Block]) {
    const auto carry = static_cast<std::uint8_t>(0x87 & -(block[0] >> 7));
    for (int i = 0; i < Block - 1; ++i)
        block[i] = static_cast<std::uint8_t>(block[i] << 1 | block[i + 1] >> 7);
    block[Block - 1] = static_cast<std::uint8_t>(block[Block - 1] << 1 ^ carry);
}

void Xor(std::uint8_t (&block)[Block], const std::uint8_t* other) {
    for (int i = 0; i < Block; ++i)
        block[i] ^= other[i];
}

// S2V (RFC 5297 section 2.4) over the associated data and the plaintext, its last string.
bool S2v(const std::uint8_t* key, const ByteSpan* parts, int part_count,
         const std::uint8_t* plaintext, std::int32_t length, std::uint8_t (&v)[Block]) {
    Cmac cmac(key);
    std::uint8_t d[Block] = {};
    std::uint8_t mac[Block];
    // D = CMAC(zero block).
    cmac.Update(d, Block);
    cmac.Finish(d);
    // For each part of the associated data: D = dbl(D) xor CMAC(part).
    for (int i = 0; i < part_count; ++i) {
        cmac.Update(parts[i].data, parts[i].length);
        cmac.Finish(mac);
        Double(d);
        Xor(d, mac);
    }
    if (length >= Block) {
        // A block or more: D xored onto the plaintext's last 16 bytes (xorend).
        cmac.Update(plaintext, length - Block);
        Xor(d, plaintext + (length - Block));
    } else {
        // Less: dbl(D) xor the plaintext padded with 10*.
        Double(d);
        for (std::int32_t i = 0; i < length; ++i)
            d[i] ^= plaintext[i];
        d[length] ^= 0x80;
    }
    cmac.Update(d, Block);
    cmac.Finish(v);
    mbedtls_platform_zeroize(d, sizeof d);
    mbedtls_platform_zeroize(mac, sizeof mac);
    return cmac.Ok();
}

// AES-CTR under the key's second half from the synthetic IV, with bits 63 and 31 cleared so
// that implementations may count on 32 or 64 bits (RFC 5297 section 2.5).
bool Ctr(const std::uint8_t* key, const std::uint8_t (&v)[Block], const std::uint8_t* in,
         std::int32_t length, std::uint8_t* out) {
    if (length == 0)
        return true;
    std::uint8_t counter[Block];
    std::memcpy(counter, v, Block);
    counter[8] &= 0x7F;
    counter[12] &= 0x7F;
    std::uint8_t stream[Block];
    std::size_t offset = 0;
    mbedtls_aes_context aes;
    mbedtls_aes_init(&aes);
    const bool ok = mbedtls_aes_setkey_enc(&aes, key + AesSivKeyBytes / 2, HalfKeyBits) == 0 &&
                    mbedtls_aes_crypt_ctr(&aes, static_cast<std::size_t>(length), &offset, counter,
                                          stream, in, out) == 0;
    mbedtls_aes_free(&aes);
    mbedtls_platform_zeroize(stream, sizeof stream);
    mbedtls_platform_zeroize(counter, sizeof counter);
    return ok;
}

bool ValidParts(const ByteSpan* parts, int part_count) {
    if (part_count < 0 || part_count > MaxAesSivParts || (part_count > 0 && parts == nullptr))
        return false;
    for (int i = 0; i < part_count; ++i) {
        if (parts[i].length < 0 || (parts[i].length > 0 && parts[i].data == nullptr))
            return false;
    }
    return true;
}

} // namespace

bool AesSivSeal(const std::uint8_t* key, const ByteSpan* parts, int part_count,
                const std::uint8_t* plaintext, std::int32_t length, std::uint8_t* out) {
    if (key == nullptr || out == nullptr || length < 0 || (length > 0 && plaintext == nullptr) ||
        !ValidParts(parts, part_count))
        return false;
    std::uint8_t v[Block] = {};
    const bool ok = S2v(key, parts, part_count, plaintext, length, v) &&
                    Ctr(key, v, plaintext, length, out + Block);
    std::memcpy(out, v, Block);
    return ok;
}

bool AesSivOpen(const std::uint8_t* key, const ByteSpan* parts, int part_count,
                const std::uint8_t* sealed, std::int32_t length, std::uint8_t* out) {
    if (sealed == nullptr || length < Block || (out == nullptr && length > Block))
        return false;
    const std::int32_t plain_length = length - Block;
    std::uint8_t v[Block];
    std::memcpy(v, sealed, Block);
    // Decrypt, then recompute the tag over what came out: only an equal tag lets it through.
    std::uint8_t t[Block] = {};
    const bool ok = key != nullptr && ValidParts(parts, part_count) &&
                    Ctr(key, v, sealed + Block, plain_length, out) &&
                    S2v(key, parts, part_count, out, plain_length, t) &&
                    mbedtls_ct_memcmp(t, v, Block) == 0;
    if (!ok)
        mbedtls_platform_zeroize(out, static_cast<std::size_t>(plain_length));
    mbedtls_platform_zeroize(t, sizeof t);
    return ok;
}

} // namespace timelib
