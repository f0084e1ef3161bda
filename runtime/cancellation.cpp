#include "runtime/cancellation.h"

namespace runtime {

Cancellation::Cancellation() {
    platform::OpenWakeUp(&wake_);
}

Cancellation::~Cancellation() {
    platform::CloseWakeUp(&wake_);
}

void Cancellation::Close() {
    platform::CloseWakeUp(&wake_);
}

void Cancellation::Request() {
    requested_.store(true, std::memory_order_release);
    if (wake_.writable != platform::InvalidSocket)
        platform::SignalWakeUp(wake_);
}

} // namespace runtime
