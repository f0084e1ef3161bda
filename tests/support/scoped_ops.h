// Swaps one of the platform's function tables for a test and restores it at scope end.
#pragma once

namespace test_support {

template <class Ops> class ScopedOps {
  public:
    ScopedOps(Ops& slot, const Ops& replacement) : slot_(slot), saved_(slot) {
        slot_ = replacement;
    }
    ~ScopedOps() { slot_ = saved_; }
    ScopedOps(const ScopedOps&) = delete;
    ScopedOps& operator=(const ScopedOps&) = delete;

  private:
    Ops& slot_;
    Ops saved_;
};

} // namespace test_support
