#include "runtime/module_threads.h"

#include <atomic>

namespace runtime {
namespace {

std::atomic<int> running{0};

} // namespace

bool EnterModuleThread(int limit) {
    int now = running.load(std::memory_order_acquire);
    while (now < limit) {
        if (running.compare_exchange_weak(now, now + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

void LeaveModuleThread() {
    running.fetch_sub(1, std::memory_order_acq_rel);
}

int ModuleThreads() {
    return running.load(std::memory_order_acquire);
}

} // namespace runtime
