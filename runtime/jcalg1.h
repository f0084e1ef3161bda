// The JCALG1 decoder: an LZ77-family stream with a bit-level code, and the stream checksum
// that guards its output. Decoding only; the build-time encoder lives in tools/.
// Every read stays inside the source length and every write inside the destination length
// that the caller holds; a stream that would leave them is malformed and yields 0.
#pragma once

#include <cstdint>

namespace runtime {

// Size of the stream header: the mark "JC", the decoded size and the checksum.
constexpr std::int32_t Jcalg1HeaderBytes = 10;

// What a gamma match with a new offset adds to its coded length: short offsets cost enough
// bits that only longer copies are worth coding this way, so their lengths start higher.
constexpr std::uint32_t Jcalg1LengthAdjustment(std::uint64_t offset) {
    return offset >= 0x10000  ? 3
           : offset >= 0x37FF ? 2
           : offset >= 0x27F  ? 1
           : offset >= 0x80   ? 0
                              : 4;
}

// The stream checksum of length bytes (0 for fewer than 4 bytes).
std::uint32_t Jcalg1Checksum(const std::uint8_t* data, std::uint32_t length);

// Decodes the stream at source (source_length bytes) into destination (destination_length
// bytes). Returns the number of bytes written, or 0 for a stream without the mark, a checksum
// that does not match, or a stream that is malformed or does not fit the two buffers.
std::int32_t UnpackJcalg1(const void* source, std::int32_t source_length, void* destination,
                          std::int32_t destination_length);

} // namespace runtime
