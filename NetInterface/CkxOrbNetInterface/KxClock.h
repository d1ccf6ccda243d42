// Time as the lock protocol sees it: a 1 ms sleep and a 32-bit millisecond
// tick that wraps after about 49.7 days. Both are replaceable so that tests
// can run the 10 s time-outs and the wrap in milliseconds of real time.
//
// Private to the library: not installed.
#pragma once

#include <cstdint>

struct KxClock {
  void (*Sleep1ms)();
  uint32_t (*TickMs)();
};

// The clock every lock uses. Tests may replace its members while no lock is
// being waited for.
KxClock& KxLockClock();

// The system clock: nanosleep and CLOCK_MONOTONIC.
KxClock KxSystemClock();
