// The action description export: the document of actions.xml, carried packed in the CXML
// container ActionXmlContainer (made at build time by tools/), unpacked afresh on every call
// through the packer registry and checked on both sides by CRC-32. Nothing is cached.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plugin {

// Container layout: magic "CXML", unpackedSize, packedSize, unpackedCrc, packedCrc (32-bit
// little-endian each), then the packed JCALG1 stream.
constexpr std::size_t CxmlHeaderBytes = 20;
// Zero bytes the unpacked block keeps after the document.
constexpr std::size_t CxmlBlockTailBytes = 8;

// The packed document, generated at build time from actions.xml.
extern const std::uint8_t ActionXmlContainer[];
extern const std::size_t ActionXmlContainerBytes;

// The zlib CRC-32 of length bytes, continuing from previous (0 to start).
std::uint32_t Crc32(const void* data, std::size_t length, std::uint32_t previous);

// Unpacks and checks a container of container_bytes bytes into a new block from the memory
// heap: the 20-byte header, the document, 8 zero bytes. The caller releases the block with
// runtime::ReleaseBlock(runtime::Heap::Memory, ...). Null when any check fails.
std::uint8_t* UnpackCxml(const std::uint8_t* container, std::size_t container_bytes);

// Serves a container's document by the buffer protocol: -1 (needed size stored) when the
// buffer is too small; otherwise the document length, with the document or, when unpacking
// fails, as many spaces, followed by a zero byte.
std::int32_t CopyCxmlToHost(const std::uint8_t* container, std::size_t container_bytes,
                            char* buffer, std::int32_t* size);

// irPlg_GetPluginActionXML: CopyCxmlToHost on ActionXmlContainer.
std::int32_t GetPluginActionXML(char* buffer, std::int32_t* size);

} // namespace plugin
