// Unpredictable bytes from the system's generator, for request nonces.
#pragma once

#include <cstdint>

namespace platform {

// Fills length bytes (getrandom; RtlGenRandom on Windows); false when the generator fails.
bool RandomBytes(void* buffer, std::int32_t length);

} // namespace platform
