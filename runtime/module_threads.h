// Threads that run in this module on their own, past the call that started them: how many,
// against a limit. The queries in the background are counted so that Rizi.Start can hold their
// number and teardown leaves alone what they may still use; name lookups count their own.
#pragma once

#include <atomic>

namespace runtime {

class ThreadCount {
  public:
    // Counts one more thread unless limit already run; false (nothing counted) then.
    bool Enter(int limit);

    // Counts one thread less: called last by the thread, once it uses nothing of the module's.
    void Leave() { count_.fetch_sub(1, std::memory_order_acq_rel); }

    // How many run now.
    int Now() const { return count_.load(std::memory_order_acquire); }

  private:
    std::atomic<int> count_{0};
};

// The queries running in the background.
extern ThreadCount module_threads;

} // namespace runtime
