#include "platform/random.h"

#include <cerrno>
#include <sys/random.h>

namespace platform {
namespace {

bool SystemRandomBytes(void* buffer, std::int32_t length) {
    auto* at = static_cast<unsigned char*>(buffer);
    std::size_t left = length > 0 ? static_cast<std::size_t>(length) : 0;
    // Small requests come whole once the pool is ready; a signal may still cut one short.
    while (left > 0) {
        const ssize_t n = getrandom(at, left, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

RandomOps random_ops = {SystemRandomBytes};

} // namespace platform
