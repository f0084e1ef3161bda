#include "runtime/jcalg1.h"

#include <cstddef>

namespace runtime {
namespace {

constexpr std::uint8_t MarkFirst = 0x4A;  // 'J'
constexpr std::uint8_t MarkSecond = 0x43; // 'C'
constexpr std::uint32_t RawRunBytes = 256;
// Widths above this cannot shift a 32-bit offset; gamma numbers above GammaLimit are lengths
// or offsets no 32-bit destination can hold, so both mark a malformed stream.
constexpr std::uint32_t MaxIndexWidth = 31;
constexpr std::uint64_t GammaLimit = 0xFFFFFFFFu;

std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t RotateLeft1(std::uint32_t w) {
    return (w << 1) | (w >> 31);
}

// Takes the code bits from 32-bit little-endian words, most significant bit first. The lowest
// set bit of the register marks how much of the current word is left; a word is fetched only
// when a bit is wanted after all 32 of the previous one are used.
class BitReader {
  public:
    BitReader(const std::uint8_t* source, std::uint32_t length, std::uint32_t position)
        : source_(source), length_(length), position_(position) {}

    // One bit; false when the stream ends before the next word.
    bool Bit(std::uint32_t* bit) {
        const std::uint32_t candidate = register_ >> 31;
        register_ <<= 1;
        if (register_ != 0) {
            *bit = candidate;
            return true;
        }
        if (length_ - position_ < 4)
            return false;
        const std::uint32_t word = ReadLittleEndian32(source_ + position_);
        position_ += 4;
        *bit = word >> 31;
        register_ = (word << 1) | 1;
        return true;
    }

    // An n-bit number, first bit most significant (n up to 32).
    bool Number(std::uint32_t bits, std::uint32_t* value) {
        std::uint32_t v = 0;
        for (std::uint32_t i = 0; i < bits; ++i) {
            std::uint32_t b = 0;
            if (!Bit(&b))
                return false;
            v = (v << 1) | b;
        }
        *value = v;
        return true;
    }

    // A gamma number: a leading 1, then data bits each followed by a continuation bit.
    bool Gamma(std::uint64_t* value) {
        std::uint64_t v = 1;
        for (;;) {
            std::uint32_t b = 0;
            std::uint32_t more = 0;
            if (!Bit(&b) || !Bit(&more))
                return false;
            v = 2 * v + b;
            if (v > GammaLimit)
                return false;
            if (more == 0)
                break;
        }
        *value = v;
        return true;
    }

  private:
    const std::uint8_t* source_;
    std::uint32_t length_;
    std::uint32_t position_;
    std::uint32_t register_ = 0x80000000u;
};

// The output side: every write and every back-reference is checked against what is held.
class Output {
  public:
    Output(std::uint8_t* destination, std::uint32_t capacity)
        : destination_(destination), capacity_(capacity) {}

    std::uint32_t Written() const { return position_; }

    bool Put(std::uint8_t byte) {
        if (position_ >= capacity_)
            return false;
        destination_[position_++] = byte;
        return true;
    }

    // Copies one byte at a time, so a length above the offset repeats the last offset bytes.
    bool Copy(std::uint64_t offset, std::uint64_t length) {
        if (offset == 0 || offset > position_ || length > capacity_ - position_)
            return false;
        const std::uint8_t* from = destination_ + (position_ - offset);
        std::uint8_t* to = destination_ + position_;
        for (std::uint64_t i = 0; i < length; ++i)
            to[i] = from[i];
        position_ += static_cast<std::uint32_t>(length);
        return true;
    }

  private:
    std::uint8_t* destination_;
    std::uint32_t capacity_;
    std::uint32_t position_ = 0;
};

// Runs the decoding loop up to the end code; false for a malformed stream.
bool DecodeCodes(BitReader& in, Output& out) {
    std::uint64_t last_offset = 1;
    std::uint32_t index_width = 8;
    bool have_literal_width = false;
    std::uint32_t literal_width = 8;
    std::uint32_t literal_base = 0;
    for (;;) {
        std::uint32_t bit = 0;
        // Prefix 1: literal.
        if (!in.Bit(&bit))
            return false;
        if (bit == 1) {
            std::uint32_t v = 0;
            if (!have_literal_width || !in.Number(literal_width, &v))
                return false; // no literal width code yet: nothing to decode the literal by
            if (!out.Put(static_cast<std::uint8_t>((v + literal_base) & 0xFF)))
                return false;
            continue;
        }
        // Prefix 0 1: gamma match.
        if (!in.Bit(&bit))
            return false;
        if (bit == 1) {
            std::uint64_t g = 0;
            std::uint64_t length = 0;
            if (!in.Gamma(&g))
                return false;
            if (g == 2) {
                if (!in.Gamma(&length) || !out.Copy(last_offset, length))
                    return false;
                continue;
            }
            std::uint32_t low = 0;
            if (!in.Number(index_width, &low))
                return false;
            const std::uint64_t offset = ((g - 3) << index_width) | low;
            last_offset = offset;
            if (!in.Gamma(&length) || !out.Copy(offset, length + Jcalg1LengthAdjustment(offset)))
                return false;
            continue;
        }
        // Prefix 0 0 1: four-bit code.
        if (!in.Bit(&bit))
            return false;
        if (bit == 1) {
            std::uint32_t c = 0;
            if (!in.Number(4, &c))
                return false;
            if (c == 1) {
                if (!out.Put(0))
                    return false;
            } else if (c >= 2) {
                if (!out.Copy(c - 1, 1))
                    return false;
            } else {
                if (!in.Bit(&bit))
                    return false;
                if (bit == 1) {
                    // Raw runs of 256 unchanged bytes, each run followed by "another?" bit.
                    do {
                        for (std::uint32_t i = 0; i < RawRunBytes; ++i) {
                            std::uint32_t v = 0;
                            if (!in.Number(8, &v) || !out.Put(static_cast<std::uint8_t>(v)))
                                return false;
                        }
                        if (!in.Bit(&bit))
                            return false;
                    } while (bit == 1);
                } else {
                    // Literal width code: 8 bits, or 7 bits above a base byte.
                    if (!in.Bit(&bit))
                        return false;
                    have_literal_width = true;
                    literal_width = 7 + bit;
                    literal_base = 0;
                    if (literal_width == 7 && !in.Number(8, &literal_base))
                        return false;
                }
            }
            continue;
        }
        // Prefix 0 0 0: short code.
        std::uint32_t o = 0;
        std::uint32_t n = 0;
        if (!in.Number(7, &o) || !in.Number(2, &n))
            return false;
        if (o != 0) {
            last_offset = o;
            if (!out.Copy(o, n + 2))
                return false;
        } else if (n == 0) {
            return true; // end of stream
        } else {
            if (!in.Number(n + 3, &index_width) || index_width > MaxIndexWidth)
                return false;
        }
    }
}

} // namespace

std::uint32_t Jcalg1Checksum(const std::uint8_t* data, std::uint32_t length) {
    std::uint32_t s = 0;
    if (length < 4)
        return s;
    auto mix = [&s](std::uint32_t w) {
        s += w;
        s ^= RotateLeft1(w) + 1;
    };
    std::uint32_t at = 0;
    for (; length - at >= 4; at += 4)
        mix(ReadLittleEndian32(data + at));
    // One to three bytes left: the last four bytes, overlapping the previous word.
    if (at != length)
        mix(ReadLittleEndian32(data + length - 4));
    return s;
}

std::int32_t UnpackJcalg1(const void* source, std::int32_t source_length, void* destination,
                          std::int32_t destination_length) {
    const auto* in_bytes = static_cast<const std::uint8_t*>(source);
    if (in_bytes == nullptr || source_length < Jcalg1HeaderBytes || destination_length < 0)
        return 0;
    if (destination == nullptr && destination_length != 0)
        return 0;
    // The mark first: anything else is not ours, and nothing is written.
    if (in_bytes[0] != MarkFirst || in_bytes[1] != MarkSecond)
        return 0;
    const std::uint32_t decoded_size = ReadLittleEndian32(in_bytes + 2);
    const std::uint32_t checksum = ReadLittleEndian32(in_bytes + 6);

    BitReader in(in_bytes, static_cast<std::uint32_t>(source_length),
                 static_cast<std::uint32_t>(Jcalg1HeaderBytes));
    Output out(static_cast<std::uint8_t*>(destination),
               static_cast<std::uint32_t>(destination_length));
    if (!DecodeCodes(in, out))
        return 0;
    const auto written = static_cast<std::int32_t>(out.Written());
    // A zero checksum field switches the check off.
    if (checksum == 0)
        return written;
    // The checksum covers the decoded size the header states, which must lie in the
    // destination; it is not compared with the number of bytes written.
    if (decoded_size > static_cast<std::uint32_t>(destination_length))
        return 0;
    const auto* out_bytes = static_cast<const std::uint8_t*>(destination);
    return Jcalg1Checksum(out_bytes, decoded_size) == checksum ? written : 0;
}

} // namespace runtime
