// Unpredictable bytes from the system's generator, for request nonces. A table so tests can
// make the generator fail; its default is the real call.
#pragma once

#include <cstdint>

namespace platform {

struct RandomOps {
    // Fills length bytes (getrandom; RtlGenRandom on Windows); false when the generator fails.
    bool (*random_bytes)(void* buffer, std::int32_t length);
};

// The table in use; its default is the real call.
extern RandomOps random_ops;

// Fills length bytes through the table in use.
inline bool RandomBytes(void* buffer, std::int32_t length) {
    return random_ops.random_bytes(buffer, length);
}

} // namespace platform
