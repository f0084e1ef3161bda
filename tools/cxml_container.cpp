#include "tools/cxml_container.h"

#include <cstdio>

namespace tools {
namespace {

void PutLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

std::uint32_t BitwiseCrc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::vector<std::uint8_t> WriteCxmlContainer(const std::uint8_t* document, std::size_t length,
                                             const std::vector<std::uint8_t>& packed) {
    std::vector<std::uint8_t> out = {'C', 'X', 'M', 'L'};
    PutLittleEndian32(out, static_cast<std::uint32_t>(length));
    PutLittleEndian32(out, static_cast<std::uint32_t>(packed.size()));
    PutLittleEndian32(out, BitwiseCrc32(document, length));
    PutLittleEndian32(out, BitwiseCrc32(packed.data(), packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

std::string ContainerSource(const std::vector<std::uint8_t>& container, const std::string& from) {
    std::string s;
    s += "// Generated at build time from " + from + " by tools/pack_action_xml; do not edit.\n";
    s += "#include \"plugin/action_xml.h\"\n\n";
    s += "namespace plugin {\n\n";
    s += "extern const std::uint8_t ActionXmlContainer[] = {";
    char hex[8];
    for (std::size_t i = 0; i < container.size(); ++i) {
        s += i % 16 == 0 ? "\n    " : " ";
        std::snprintf(hex, sizeof hex, "0x%02X,", container[i]);
        s += hex;
    }
    s += "\n};\n\n";
    s += "extern const std::size_t ActionXmlContainerBytes = sizeof ActionXmlContainer;\n\n";
    s += "}  // namespace plugin\n";
    return s;
}

} // namespace tools
