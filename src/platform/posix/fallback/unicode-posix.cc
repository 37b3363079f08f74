// Built where utf8proc is not installed: every character a cell of its own,
// so that Latin, Greek and Cyrillic text shows right and wide characters and
// combining marks take a cell each.
#include "platform/posix/unicode-posix.h"

namespace kp::posix {

int cellWidth(int32_t) {
  return 1;
}

bool clusterBreak(int32_t, int32_t, int32_t*) {
  return true;
}

}  // namespace kp::posix
