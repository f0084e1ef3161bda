// For tests only: forgets the clock's module-wide caches (ticks per millisecond, the
// timer-resolution flag and the wall clock's measured resolution), so the next call starts
// as the first call of a process does.
#pragma once

namespace runtime {

void ResetClockForTesting();

} // namespace runtime
