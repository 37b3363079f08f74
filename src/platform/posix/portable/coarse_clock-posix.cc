#include <time.h>

#include "platform/posix/system-posix.h"

namespace kp::posix {

int64_t coarseClockMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace kp::posix
