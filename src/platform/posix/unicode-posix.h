#pragma once

#include <cstdint>

namespace kp::posix {

// What a terminal needs to know of Unicode characters from U+0300 up:
// the cells one takes (0 for a combining mark or joiner), and whether a
// grapheme cluster ends between two of them (`state` carries what the rules
// need of the characters before; 0 at a text's start).
int cellWidth(int32_t codePoint);
bool clusterBreak(int32_t before, int32_t after, int32_t* state);

}  // namespace kp::posix
