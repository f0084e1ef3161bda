// For tests only: forgets the clock's module-wide caches (ticks per millisecond and the
// timer-resolution flag), so the next call starts as the first call of a process does.
#pragma once

namespace runtime {

void ResetClockForTesting();

} // namespace runtime
