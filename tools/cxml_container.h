// The CXML container around a packed document: a 20-byte header (magic "CXML", unpacked
// size, packed size, CRC-32 of the document, CRC-32 of the packed stream, all little-endian)
// followed by the packed stream. Written at build time; the plug-in only reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

constexpr std::size_t CxmlHeaderBytes = 20;

// The reflected CRC-32 of zlib, bit by bit (the plug-in's table-driven one must agree).
std::uint32_t BitwiseCrc32(const std::uint8_t* data, std::size_t length);

// The container for a document and the JCALG1 stream it packs to.
std::vector<std::uint8_t> WriteCxmlContainer(const std::uint8_t* document, std::size_t length,
                                             const std::vector<std::uint8_t>& packed);

// C++ source that defines plugin::ActionXmlContainer and plugin::ActionXmlContainerBytes.
std::string ContainerSource(const std::vector<std::uint8_t>& container, const std::string& from);

} // namespace tools
