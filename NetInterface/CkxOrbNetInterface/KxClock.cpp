#include "NetInterface/CkxOrbNetInterface/KxClock.h"

#include <time.h>

namespace {

void SleepOneMillisecond() {
  timespec ts{0, 1000000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

uint32_t MonotonicTickMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t uliMs =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(uliMs);
}

}  // namespace

KxClock KxSystemClock() { return KxClock{SleepOneMillisecond, MonotonicTickMs}; }

KxClock& KxLockClock() {
  static KxClock clock = KxSystemClock();
  return clock;
}
