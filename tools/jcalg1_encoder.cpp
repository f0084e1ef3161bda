#include "tools/jcalg1_encoder.h"

#include "runtime/jcalg1.h"

#include <algorithm>
#include <limits>

namespace tools {
namespace {

constexpr std::uint32_t DefaultIndexWidth = 8;
constexpr std::uint32_t RawRunBytes = 256;
// A match at least this long is taken as it stands and the positions it covers are not
// searched; this keeps long runs linear.
constexpr std::uint32_t NiceLength = 256;
constexpr std::uint32_t MaxMatchLength = 1u << 20;
constexpr std::uint64_t Unreached = std::numeric_limits<std::uint64_t>::max();

enum class Code : std::uint8_t { None, Literal, Zero, Near, Repeat, Short, Gamma, Raw };

struct Step {
    Code code = Code::None;
    std::uint32_t length = 0;
    std::uint32_t offset = 0;
};

std::uint32_t Log2(std::uint64_t v) {
    std::uint32_t bits = 0;
    while (v > 1) {
        v >>= 1;
        ++bits;
    }
    return bits;
}

std::uint64_t GammaBits(std::uint64_t v) {
    return 2ull * Log2(v);
}

class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void Bits(std::uint64_t value, std::uint32_t count) {
        for (std::uint32_t i = count; i-- > 0;)
            Bit(static_cast<std::uint32_t>((value >> i) & 1));
    }

    void Bit(std::uint32_t bit) {
        word_ = (word_ << 1) | bit;
        if (++used_ == 32)
            Flush();
    }

    void Gamma(std::uint64_t v) {
        const std::uint32_t bits = Log2(v);
        for (std::uint32_t i = bits; i-- > 0;) {
            Bit(static_cast<std::uint32_t>((v >> i) & 1));
            Bit(i != 0 ? 1 : 0);
        }
    }

    // Pads the last word with zero bits; the decoder never reads them.
    void Finish() {
        if (used_ != 0) {
            word_ <<= 32 - used_;
            Flush();
        }
    }

  private:
    void Flush() {
        for (int i = 0; i < 4; ++i)
            out_.push_back(static_cast<std::uint8_t>(word_ >> (8 * i)));
        word_ = 0;
        used_ = 0;
    }

    std::vector<std::uint8_t>& out_;
    std::uint32_t word_ = 0;
    std::uint32_t used_ = 0;
};

struct Variant {
    std::uint32_t index_width;
    std::uint32_t literal_width; // 7 or 8
    std::uint8_t literal_base;
};

// One parse of the input under one variant: the cheapest path through the positions, where
// every code is priced in bits and "repeat the last offset" follows the path that reaches
// each position.
class Parser {
  public:
    Parser(const std::uint8_t* data, std::size_t length, const Variant& variant,
           std::uint32_t chain_depth)
        : data_(data), n_(length), v_(variant), depth_(chain_depth) {}

    std::vector<Step> Parse(std::uint64_t* bits) {
        cost_.assign(n_ + 1, Unreached);
        step_.assign(n_ + 1, Step{});
        last_.assign(n_ + 1, 1);
        head_.assign(1u << 16, -1);
        chain_.assign(n_, -1);
        cost_[0] = 0;
        std::size_t searched_until = 0;
        for (std::size_t i = 0; i < n_; ++i) {
            const bool search = i >= searched_until;
            if (cost_[i] != Unreached) {
                SingleByteSteps(i);
                if (search)
                    searched_until = std::max(searched_until, MatchSteps(i));
            }
            Insert(i);
        }
        std::vector<Step> path;
        for (std::size_t at = n_; at > 0; at -= step_[at].length)
            path.push_back(step_[at]);
        std::reverse(path.begin(), path.end());
        *bits = cost_[n_];
        return path;
    }

  private:
    void Offer(std::size_t from, const Step& step, std::uint64_t bits) {
        const std::size_t to = from + step.length;
        const std::uint64_t total = cost_[from] + bits;
        if (total >= cost_[to])
            return;
        cost_[to] = total;
        step_[to] = step;
        const bool new_offset = step.code == Code::Short || step.code == Code::Gamma;
        last_[to] = new_offset ? step.offset : last_[from];
    }

    bool LiteralFits(std::uint8_t byte) const {
        return static_cast<std::uint8_t>(byte - v_.literal_base) < (1u << v_.literal_width);
    }

    void SingleByteSteps(std::size_t i) {
        const std::uint8_t byte = data_[i];
        if (byte == 0)
            Offer(i, Step{Code::Zero, 1, 0}, 7);
        if (LiteralFits(byte))
            Offer(i, Step{Code::Literal, 1, 0}, 1 + v_.literal_width);
        for (std::uint32_t d = 1; d <= 14 && d <= i; ++d) {
            if (data_[i - d] == byte) {
                Offer(i, Step{Code::Near, 1, d}, 7);
                break;
            }
        }
        if (n_ - i >= RawRunBytes)
            Offer(i, Step{Code::Raw, RawRunBytes, 0}, 8 + 8 * RawRunBytes + 1);
    }

    std::uint32_t CommonLength(std::size_t i, std::size_t d) const {
        const std::size_t limit = std::min<std::size_t>(n_ - i, MaxMatchLength);
        std::size_t l = 0;
        while (l < limit && data_[i + l] == data_[i + l - d])
            ++l;
        return static_cast<std::uint32_t>(l);
    }

    std::uint64_t GammaMatchBits(std::uint32_t d, std::uint32_t l) const {
        return 2 + GammaBits((static_cast<std::uint64_t>(d) >> v_.index_width) + 3) +
               v_.index_width + GammaBits(l - runtime::Jcalg1LengthAdjustment(d));
    }

    // Offers the matches at i; returns the position up to which no further search is needed.
    std::size_t MatchSteps(std::size_t i) {
        std::size_t covered = i;
        // Repeat of the last offset (gamma number 2).
        const std::uint32_t rep = last_[i];
        if (rep <= i) {
            const std::uint32_t len = CommonLength(i, rep);
            if (len >= NiceLength) {
                Offer(i, Step{Code::Repeat, len, rep}, 4 + GammaBits(len));
                covered = i + len;
            } else {
                for (std::uint32_t l = 2; l <= len; ++l)
                    Offer(i, Step{Code::Repeat, l, rep}, 4 + GammaBits(l));
            }
        }
        if (n_ - i < 2)
            return covered;
        // Earlier positions with the same two bytes, nearest first.
        std::uint32_t best = 1;
        std::uint32_t tries = 0;
        for (std::int64_t j = head_[Key(i)]; j >= 0 && tries < depth_;
             j = chain_[static_cast<std::size_t>(j)], ++tries) {
            const auto d = static_cast<std::uint32_t>(i - static_cast<std::size_t>(j));
            const std::uint32_t len = CommonLength(i, d);
            if (len <= best)
                continue;
            if (len >= NiceLength) {
                if (len >= runtime::Jcalg1LengthAdjustment(d) + 2)
                    Offer(i, Step{Code::Gamma, len, d}, GammaMatchBits(d, len));
                covered = std::max<std::size_t>(covered, i + len);
                break;
            }
            for (std::uint32_t l = best + 1; l <= len; ++l) {
                if (d <= 127 && l <= 5)
                    Offer(i, Step{Code::Short, l, d}, 12);
                else if (l >= runtime::Jcalg1LengthAdjustment(d) + 2)
                    Offer(i, Step{Code::Gamma, l, d}, GammaMatchBits(d, l));
            }
            best = len;
        }
        return covered;
    }

    std::uint32_t Key(std::size_t i) const {
        return static_cast<std::uint32_t>(data_[i]) |
               (static_cast<std::uint32_t>(data_[i + 1]) << 8);
    }

    void Insert(std::size_t i) {
        if (n_ - i < 2)
            return;
        const std::uint32_t key = Key(i);
        chain_[i] = head_[key];
        head_[key] = static_cast<std::int64_t>(i);
    }

    const std::uint8_t* data_;
    std::size_t n_;
    Variant v_;
    std::uint32_t depth_;
    std::vector<std::uint64_t> cost_;
    std::vector<Step> step_;
    std::vector<std::uint32_t> last_;
    std::vector<std::int64_t> head_;
    std::vector<std::int64_t> chain_;
};

bool UsesCode(const std::vector<Step>& path, Code code) {
    return std::any_of(path.begin(), path.end(), [code](const Step& s) { return s.code == code; });
}

// Bits the stream spends before its first code: the literal width and index width codes.
std::uint64_t SetupBits(const std::vector<Step>& path, const Variant& v) {
    std::uint64_t bits = 0;
    if (UsesCode(path, Code::Literal))
        bits += 9 + (v.literal_width == 7 ? 8 : 0);
    if (v.index_width != DefaultIndexWidth && UsesCode(path, Code::Gamma))
        bits += 12 + (v.index_width < 16 ? 4 : 5);
    return bits;
}

void WriteCodes(const std::uint8_t* data, const std::vector<Step>& path, const Variant& v,
                BitWriter& out) {
    // Literal width code: 0 0 1, four-bit 0, 0, then the width bit (and a base for width 7).
    if (UsesCode(path, Code::Literal)) {
        out.Bits(0b0010000, 7);
        out.Bit(0);
        out.Bit(v.literal_width == 8 ? 1 : 0);
        if (v.literal_width == 7)
            out.Bits(v.literal_base, 8);
    }
    // Index width code: a short code with offset 0 and n = 1 or 2, then n + 3 bits.
    if (v.index_width != DefaultIndexWidth && UsesCode(path, Code::Gamma)) {
        const std::uint32_t n = v.index_width < 16 ? 1 : 2;
        out.Bits(0, 3 + 7);
        out.Bits(n, 2);
        out.Bits(v.index_width, n + 3);
    }
    std::size_t at = 0;
    for (std::size_t k = 0; k < path.size(); ++k) {
        const Step& s = path[k];
        switch (s.code) {
        case Code::Literal:
            out.Bit(1);
            out.Bits(static_cast<std::uint8_t>(data[at] - v.literal_base), v.literal_width);
            break;
        case Code::Zero:
            out.Bits(0b0010001, 7);
            break;
        case Code::Near:
            out.Bits(0b001, 3);
            out.Bits(s.offset + 1, 4);
            break;
        case Code::Repeat:
            out.Bits(0b01, 2);
            out.Gamma(2);
            out.Gamma(s.length);
            break;
        case Code::Short:
            out.Bits(0, 3);
            out.Bits(s.offset, 7);
            out.Bits(s.length - 2, 2);
            break;
        case Code::Gamma:
            out.Bits(0b01, 2);
            out.Gamma((static_cast<std::uint64_t>(s.offset) >> v.index_width) + 3);
            out.Bits(s.offset & ((1u << v.index_width) - 1), v.index_width);
            out.Gamma(s.length - runtime::Jcalg1LengthAdjustment(s.offset));
            break;
        case Code::Raw:
            // Consecutive runs share one four-bit code, linked by their "another run" bits.
            if (k == 0 || path[k - 1].code != Code::Raw)
                out.Bits(0b00100001, 8);
            for (std::uint32_t b = 0; b < RawRunBytes; ++b)
                out.Bits(data[at + b], 8);
            out.Bit(k + 1 < path.size() && path[k + 1].code == Code::Raw ? 1 : 0);
            break;
        case Code::None:
            break;
        }
        at += s.length;
    }
    out.Bits(0, 3 + 7 + 2); // end code
}

// A base that puts every non-zero byte within 128 values above it (zero has its own code).
bool FindLiteralBase(const std::uint8_t* data, std::size_t length, std::uint8_t* base) {
    bool seen[256] = {};
    for (std::size_t i = 0; i < length; ++i)
        seen[data[i]] = true;
    for (std::uint32_t b = 0; b < 256; ++b) {
        bool fits = true;
        for (std::uint32_t v = 1; v < 256 && fits; ++v)
            fits = !seen[v] || static_cast<std::uint8_t>(v - b) < 128;
        if (fits) {
            *base = static_cast<std::uint8_t>(b);
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<std::uint8_t> PackJcalg1(const std::uint8_t* data, std::size_t length,
                                     const Jcalg1Options& options) {
    // The variants worth trying: index widths and, when the bytes allow it, 7-bit literals.
    std::vector<std::uint32_t> widths;
    if (options.index_width != 0)
        widths.push_back(options.index_width);
    else if (length <= (1u << 16))
        widths = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    else
        widths = {8, 10, 12, 14, 16};
    std::vector<Variant> variants;
    std::uint8_t base = 0;
    const bool narrow = FindLiteralBase(data, length, &base);
    for (std::uint32_t w : widths) {
        variants.push_back(Variant{w, 8, 0});
        if (narrow)
            variants.push_back(Variant{w, 7, base});
    }

    Variant best_variant = variants.front();
    std::vector<Step> best_path;
    std::uint64_t best_bits = Unreached;
    for (const Variant& v : variants) {
        std::uint64_t bits = 0;
        Parser parser(data, length, v, std::max<std::uint32_t>(options.chain_depth, 1));
        std::vector<Step> path = parser.Parse(&bits);
        bits += SetupBits(path, v);
        if (bits < best_bits) {
            best_bits = bits;
            best_path = std::move(path);
            best_variant = v;
        }
    }

    std::vector<std::uint8_t> stream = {0x4A, 0x43};
    const auto size = static_cast<std::uint32_t>(length);
    const std::uint32_t sum =
        options.checksum ? runtime::Jcalg1Checksum(data, static_cast<std::uint32_t>(length)) : 0;
    for (std::uint32_t field : {size, sum}) {
        for (int i = 0; i < 4; ++i)
            stream.push_back(static_cast<std::uint8_t>(field >> (8 * i)));
    }
    BitWriter out(stream);
    WriteCodes(data, best_path, best_variant, out);
    out.Finish();
    return stream;
}

} // namespace tools
