// Process-wide settings of the running program on x86-64; its exit-time
// actions are the shared stack of platform/exit_actions.cc.

#include "platform/platform.h"

namespace kp::platform {

void setFloatingPointPrecision() {
  // Doubles are computed by SSE here, in their own precision and rounded to
  // nearest from the start; the x87 precision switch does not exist on this
  // architecture (the runtime does not take it), so there is nothing to set.
}

}  // namespace kp::platform
