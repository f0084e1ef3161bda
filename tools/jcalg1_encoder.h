// The build-time JCALG1 encoder: an optimal-parse LZ77 packer that writes streams the
// module's decoder (runtime/jcalg1.h) reads. Never part of the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tools {

struct Jcalg1Options {
    // Low offset bits after a gamma number; 0 tries a range of widths and keeps the shortest.
    std::uint32_t index_width = 0;
    // How many earlier positions with the same two leading bytes are tried per position.
    std::uint32_t chain_depth = 64;
    // False writes a zero checksum field, which switches the decoder's check off.
    bool checksum = true;
};

// The JCALG1 stream for length bytes of data: 10-byte header, then the code words.
std::vector<std::uint8_t> PackJcalg1(const std::uint8_t* data, std::size_t length,
                                     const Jcalg1Options& options = {});

} // namespace tools
