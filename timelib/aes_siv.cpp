#include "timelib/aes_siv.h"

#include <cstddef>
#include <cstring>
#include <mbedtls/aes.h>
#include <mbedtls/platform_util.h>

// The one Mbed TLS header without the C++ guard the others have.
extern "C" {
#include <mbedtls/constant_time.h>
}

namespace timelib {
namespace {

constexpr int Block = 16;
constexpr unsigned HalfKeyBits = 128;

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

// AES-CMAC (RFC 4493) under the key's first half (S2V's PRF), one string at a time. The key
// schedule and the subkeys are made once for all the strings of an S2V, and every block goes
// straight to the block cipher: the library's CMAC would allocate a context and derive the
// subkeys again for each string. The library wipes the key schedule when it is freed.
class Cmac {
  public:
    explicit Cmac(const std::uint8_t* key) {
        mbedtls_aes_init(&aes_);
        // K1 = dbl(L) and K2 = dbl(K1), where L is the cipher of the zero block.
        std::memset(k1_, 0, Block);
        ok_ = mbedtls_aes_setkey_enc(&aes_, key, HalfKeyBits) == 0 &&
              mbedtls_aes_crypt_ecb(&aes_, MBEDTLS_AES_ENCRYPT, k1_, k1_) == 0;
        Double(k1_);
        std::memcpy(k2_, k1_, Block);
        Double(k2_);
        Restart();
    }
    ~Cmac() {
        mbedtls_aes_free(&aes_);
        mbedtls_platform_zeroize(k1_, sizeof k1_);
        mbedtls_platform_zeroize(k2_, sizeof k2_);
        mbedtls_platform_zeroize(x_, sizeof x_);
        mbedtls_platform_zeroize(last_, sizeof last_);
    }
    Cmac(const Cmac&) = delete;
    Cmac& operator=(const Cmac&) = delete;

    // Chains every block but the string's last so far, which waits in last_: only Finish
    // knows whether it is complete or needs padding.
    void Update(const std::uint8_t* data, std::int32_t length) {
        while (ok_ && length > 0) {
            if (last_length_ == Block) {
                Xor(x_, last_);
                ok_ = mbedtls_aes_crypt_ecb(&aes_, MBEDTLS_AES_ENCRYPT, x_, x_) == 0;
                last_length_ = 0;
            }
            const std::int32_t take = length < Block - last_length_ ? length : Block - last_length_;
            std::memcpy(last_ + last_length_, data, static_cast<std::size_t>(take));
            last_length_ += take;
            data += take;
            length -= take;
        }
    }
    // Ends the string with its MAC in mac: the last block xored with K1 when complete, else
    // padded with 10* and xored with K2. Then starts the next under the same key.
    void Finish(std::uint8_t (&mac)[Block]) {
        if (last_length_ == Block) {
            Xor(last_, k1_);
        } else {
            last_[last_length_] = 0x80;
            std::memset(last_ + last_length_ + 1, 0,
                        static_cast<std::size_t>(Block - last_length_ - 1));
            Xor(last_, k2_);
        }
        Xor(x_, last_);
        ok_ = ok_ && mbedtls_aes_crypt_ecb(&aes_, MBEDTLS_AES_ENCRYPT, x_, mac) == 0;
        Restart();
    }
    bool Ok() const { return ok_; }

  private:
    void Restart() {
        std::memset(x_, 0, Block);
        last_length_ = 0;
    }

    mbedtls_aes_context aes_;
    std::uint8_t k1_[Block];
    std::uint8_t k2_[Block];
    std::uint8_t x_[Block];    // the chain so far
    std::uint8_t last_[Block]; // the string's last block so far
    std::int32_t last_length_;
    bool ok_;
};

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
