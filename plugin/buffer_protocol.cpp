#include "plugin/buffer_protocol.h"

#include <cstring>

namespace plugin {

bool HostBufferFits(std::int32_t length, const char* buffer, std::int32_t* size) {
    if (size == nullptr)
        return false; // nowhere to read the capacity from, nowhere to say what is needed
    // The needed size is computed in 64 bits: length + 1 cannot overflow there.
    const std::int64_t needed = static_cast<std::int64_t>(length) + 1;
    if (buffer == nullptr || *size < needed) {
        *size = static_cast<std::int32_t>(needed);
        return false;
    }
    return true;
}

std::int32_t CopyTextToHost(const char* text, std::int32_t length, char* buffer,
                            std::int32_t* size) {
    if (!HostBufferFits(length, buffer, size))
        return -1;
    if (length > 0)
        std::memcpy(buffer, text, static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return length;
}

} // namespace plugin
