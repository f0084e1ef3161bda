// A script's request to end a background query early, as the query's waits see it: a flag,
// and a wake-up (platform/thread.h) that ends a wait on sockets at once. Made with the query;
// any thread may request it. Direct calls pass none (a null pointer).
#pragma once

#include "platform/thread.h"

#include <atomic>

namespace runtime {

class Cancellation {
  public:
    // Opens the wake-up; without one, waits still see the flag when they next wake.
    Cancellation();
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    // Sets the flag and wakes any wait that watches WakeHandle.
    void Request();

    // Closes the wake-up once nothing waits on it any more (the query has ended); a later
    // Request only sets the flag. Not safe against a Request at the same time: callers hold a
    // lock around both.
    void Close();

    bool Requested() const { return requested_.load(std::memory_order_acquire); }

    // The flag itself, for waits below this layer (platform/http.h).
    const std::atomic<bool>* Flag() const { return &requested_; }

    // What a wait on sockets adds to its set; InvalidSocket when there is no wake-up.
    platform::SocketHandle WakeHandle() const { return wake_.readable; }

  private:
    std::atomic<bool> requested_{false};
    platform::WakeUp wake_;
};

// True when cancel is given and has been requested.
inline bool CancelRequested(const Cancellation* cancel) {
    return cancel != nullptr && cancel->Requested();
}

} // namespace runtime
