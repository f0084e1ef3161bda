// libFuzzer target for the JCALG1 decoder. The input is the stream; it is decoded into a
// destination of the size its header states (at most 64 KiB) and into one of half that size.
// Both buffers are exact-size heap blocks, so AddressSanitizer catches any access outside.
#include "runtime/jcalg1.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void DecodeInto(const std::uint8_t* stream, std::size_t stream_bytes, std::size_t capacity) {
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[capacity + 1]);
    const std::int32_t written =
        runtime::UnpackJcalg1(stream, static_cast<std::int32_t>(stream_bytes), out.get(),
                              static_cast<std::int32_t>(capacity));
    if (written < 0 || static_cast<std::size_t>(written) > capacity)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t capacity = 0;
    if (size >= 6) {
        const std::uint32_t stated = static_cast<std::uint32_t>(data[2] | data[3] << 8) |
                                     static_cast<std::uint32_t>(data[4] | data[5] << 8) << 16;
        capacity = stated < 0x10000u ? stated : 0x10000u;
    }
    // libFuzzer's own buffer is exactly size bytes long.
    DecodeInto(data, size, capacity);
    DecodeInto(data, size, capacity / 2);
    return 0;
}
