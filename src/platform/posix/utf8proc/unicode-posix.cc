#include "platform/posix/unicode-posix.h"

#include <utf8proc.h>

namespace kp::posix {

int cellWidth(int32_t codePoint) {
  const int width = utf8proc_charwidth(codePoint);
  return width > 0 ? width : 0;
}

bool clusterBreak(int32_t before, int32_t after, int32_t* state) {
  return utf8proc_grapheme_break_stateful(before, after, state);
}

}  // namespace kp::posix
