#include "runtime/module_threads.h"

namespace runtime {

ThreadCount module_threads;

bool ThreadCount::Enter(int limit) {
    int now = count_.load(std::memory_order_acquire);
    while (now < limit) {
        if (count_.compare_exchange_weak(now, now + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

} // namespace runtime
