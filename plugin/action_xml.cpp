#include "plugin/action_xml.h"

#include "plugin/buffer_protocol.h"
#include "runtime/heap.h"
#include "runtime/packer.h"

#include <array>
#include <cstring>

namespace plugin {
namespace {

// Entry n: the register after shifting byte value n through eight reflected steps of the
// polynomial 0x04C11DB7 (0xEDB88320 reflected).
constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t r = n;
        for (int step = 0; step < 8; ++step)
            r = (r & 1) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        table[n] = r;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> Crc32Table = MakeCrc32Table();
static_assert(Crc32Table[1] == 0x77073096u, "reflected CRC-32 table");

std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct CxmlHeader {
    std::uint32_t unpacked_size;
    std::uint32_t packed_size;
    std::uint32_t unpacked_crc;
    std::uint32_t packed_crc;
};

// The header's fields; false when the container is shorter than its header or states sizes
// that no 32-bit length (with the block's extra bytes) can carry. The magic is not tested.
bool ReadHeader(const std::uint8_t* container, std::size_t container_bytes, CxmlHeader* h) {
    if (container == nullptr || container_bytes < CxmlHeaderBytes)
        return false;
    h->unpacked_size = ReadLittleEndian32(container + 4);
    h->packed_size = ReadLittleEndian32(container + 8);
    h->unpacked_crc = ReadLittleEndian32(container + 12);
    h->packed_crc = ReadLittleEndian32(container + 16);
    constexpr std::uint32_t MaxUnpacked = 0x7FFFFFFFu - CxmlHeaderBytes - CxmlBlockTailBytes;
    return h->unpacked_size <= MaxUnpacked && h->packed_size <= 0x7FFFFFFFu;
}

} // namespace

std::uint32_t Crc32(const void* data, std::size_t length, std::uint32_t previous) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t r = ~previous;
    for (std::size_t i = 0; i < length; ++i)
        r = (r >> 8) ^ Crc32Table[(r ^ bytes[i]) & 0xFF];
    return ~r;
}

std::uint8_t* UnpackCxml(const std::uint8_t* container, std::size_t container_bytes) {
    CxmlHeader h{};
    if (!ReadHeader(container, container_bytes, &h))
        return nullptr;
    // The packed stream must lie inside the container the caller holds.
    if (h.packed_size > container_bytes - CxmlHeaderBytes)
        return nullptr;
    const std::uint8_t* packed = container + CxmlHeaderBytes;

    // 1. The packed stream's CRC, before anything is allocated.
    if (Crc32(packed, h.packed_size, 0) != h.packed_crc)
        return nullptr;
    // 2. A zero-filled block: header copy, document, zero tail.
    runtime::HeapBlock block(runtime::Heap::Memory,
                             static_cast<std::int64_t>(h.unpacked_size) +
                                 static_cast<std::int64_t>(CxmlHeaderBytes + CxmlBlockTailBytes));
    auto* bytes = static_cast<std::uint8_t*>(block.Get());
    if (bytes == nullptr)
        return nullptr;
    // 3. The header.
    std::memcpy(bytes, container, CxmlHeaderBytes);
    // 4. The document, through the registry; any non-zero count passes.
    std::uint8_t* document = bytes + CxmlHeaderBytes;
    if (runtime::UnpackWithPacker(packed, static_cast<std::int32_t>(h.packed_size), document,
                                  static_cast<std::int32_t>(h.unpacked_size),
                                  runtime::Jcalg1PackerId) == 0)
        return nullptr;
    // 5. The document's CRC.
    if (Crc32(document, h.unpacked_size, 0) != h.unpacked_crc)
        return nullptr;
    return static_cast<std::uint8_t*>(block.Release());
}

std::int32_t CopyCxmlToHost(const std::uint8_t* container, std::size_t container_bytes,
                            char* buffer, std::int32_t* size) {
    // A header that cannot be read counts as an empty document that fails to unpack.
    CxmlHeader h{};
    const bool readable = ReadHeader(container, container_bytes, &h);
    const auto len = readable ? static_cast<std::int32_t>(h.unpacked_size) : 0;
    // The size step: nothing is unpacked for a buffer that is too small.
    if (!HostBufferFits(len, buffer, size))
        return -1;
    std::uint8_t* block = readable ? UnpackCxml(container, container_bytes) : nullptr;
    if (block == nullptr) {
        // The host cannot tell this answer from a document by its length.
        std::memset(buffer, ' ', static_cast<std::size_t>(len));
    } else {
        std::memcpy(buffer, block + CxmlHeaderBytes, static_cast<std::size_t>(len));
        runtime::ReleaseBlock(runtime::Heap::Memory, block);
    }
    buffer[len] = '\0';
    return len;
}

std::int32_t GetPluginActionXML(char* buffer, std::int32_t* size) {
    return CopyCxmlToHost(ActionXmlContainer, ActionXmlContainerBytes, buffer, size);
}

} // namespace plugin
