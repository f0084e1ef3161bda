// Build-time packer for the action document: packs it as a JCALG1 stream, wraps the stream in
// a CXML container and writes C++ source defining plugin::ActionXmlContainer. Fails (exit 1)
// when the document does not have the expected size or does not decode back to itself.
//
//   pack_action_xml DOCUMENT OUTPUT.cpp EXPECTED_BYTES
#include "runtime/jcalg1.h"
#include "tools/cxml_container.h"
#include "tools/jcalg1_encoder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool ReadFile(const char* path, std::vector<std::uint8_t>* bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    std::uint8_t chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// Writes only when the text changed, so an unchanged document rebuilds nothing.
bool WriteIfChanged(const char* path, const std::string& text) {
    std::vector<std::uint8_t> old;
    if (ReadFile(path, &old) && std::string(old.begin(), old.end()) == text)
        return true;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

int Fail(const char* what, const char* detail) {
    std::fprintf(stderr, "pack_action_xml: %s: %s\n", what, detail);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return Fail("usage", "pack_action_xml DOCUMENT OUTPUT.cpp EXPECTED_BYTES");
    std::vector<std::uint8_t> document;
    if (!ReadFile(argv[1], &document))
        return Fail("cannot read", argv[1]);
    const unsigned long expected = std::strtoul(argv[3], nullptr, 10);
    if (document.size() != expected) {
        const std::string sizes =
            std::to_string(document.size()) + " bytes, expected " + std::to_string(expected);
        return Fail(argv[1], sizes.c_str());
    }

    const std::vector<std::uint8_t> packed = tools::PackJcalg1(document.data(), document.size());

    // The round trip through the module's own decoder, into a destination of exactly the
    // document's size: what the plug-in will do with this stream at run time.
    std::vector<std::uint8_t> decoded(document.size() + 1, 0xA5);
    const std::int32_t written =
        runtime::UnpackJcalg1(packed.data(), static_cast<std::int32_t>(packed.size()),
                              decoded.data(), static_cast<std::int32_t>(document.size()));
    const bool fenced = decoded.back() == 0xA5;
    decoded.pop_back();
    if (!fenced || written != static_cast<std::int32_t>(document.size()) || decoded != document)
        return Fail(argv[1], "the packed stream does not decode to the document");

    const std::vector<std::uint8_t> container =
        tools::WriteCxmlContainer(document.data(), document.size(), packed);
    if (!WriteIfChanged(argv[2], tools::ContainerSource(container, "plugin/actions.xml")))
        return Fail("cannot write", argv[2]);
    std::printf("pack_action_xml: %zu bytes packed to %zu (container %zu)\n", document.size(),
                packed.size(), container.size());
    return 0;
}
