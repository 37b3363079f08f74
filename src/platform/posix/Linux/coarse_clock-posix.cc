#include <time.h>

#include "platform/posix/system-posix.h"

namespace kp::posix {

int64_t coarseClockMs() {
  // The coarse clock reads in about 4 ns against 30 for the exact one, and
  // its few milliseconds of resolution are plenty for the send interval.
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace kp::posix
