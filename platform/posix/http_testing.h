// For tests only: how the libcurl layer reads when a transfer's request left and its answer
// began, so tests can offer it libcurl's microseconds, its older seconds, both or neither.
#pragma once

#include <cstdint>

namespace platform {

struct CurlTimeOps {
    // Microseconds from the transfer's start to the request leaving (first_byte false) or to
    // the answer's first byte (true): CURLINFO_*_TIME_T; false where libcurl lacks it (7.61
    // and later have it).
    bool (*whole_us)(void* handle, bool first_byte, std::int64_t* us);
    // The same in seconds: CURLINFO_*_TIME, which every libcurl has; false when not given.
    bool (*fraction_s)(void* handle, bool first_byte, double* seconds);
};

// The table in use; its defaults ask libcurl.
extern CurlTimeOps curl_time_ops;

} // namespace platform
