// Process-wide settings of the running program on 32-bit x86; its exit-time
// actions are the shared stack of platform/exit_actions.cc.

#include <float.h>

#include "platform/platform.h"

namespace kp::platform {

void setFloatingPointPrecision() {
  // The x87 unit computes doubles here; 64-bit precision with rounding to
  // nearest makes the halfway cases of fractional fields round to even.
  _controlfp(_PC_64 | _RC_NEAR, _MCW_PC | _MCW_RC);
}

}  // namespace kp::platform
