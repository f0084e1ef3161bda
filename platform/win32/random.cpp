#include "platform/random.h"

#include <windows.h>
// After windows.h: RtlGenRandom (ADVAPI32's SystemFunction036), on every Windows since XP.
#include <ntsecapi.h>

namespace platform {
namespace {

bool SystemRandomBytes(void* buffer, std::int32_t length) {
    if (length <= 0)
        return length == 0;
    return RtlGenRandom(buffer, static_cast<ULONG>(length)) != FALSE;
}

} // namespace

RandomOps random_ops = {SystemRandomBytes};

} // namespace platform
