// How every export that returns text hands it to the host: a buffer and a pointer to its
// capacity in bytes, terminating zero included.
#pragma once

#include <cstdint>

namespace plugin {

// True when the host's buffer can take length bytes and a zero. Otherwise stores length + 1
// through size (if size is not null) and returns false. A null size or a null buffer never fits.
bool HostBufferFits(std::int32_t length, const char* buffer, std::int32_t* size);

// Copies length bytes of text and a zero byte to the host; returns length, or -1 (with the
// needed size stored) when the buffer is too small. Bytes after the zero are left alone.
std::int32_t CopyTextToHost(const char* text, std::int32_t length, char* buffer,
                            std::int32_t* size);

} // namespace plugin
