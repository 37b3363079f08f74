#pragma once

#include <cstddef>

#include "input/file_table.h"

namespace kp {

// What the end of a print does: 0 nothing, 1 or 4 a line end (CR LF),
// 2 pad to the next 14-column print zone. Bits 1 and 4 win over bit 2.
enum EndFlags : int {
  EndNothing = 0,
  EndLine = 1,
  EndZone = 2,
  EndLineAlso = 4,
};

// Printing of texts and line ends to a file number. The console implements
// it; the template printer prints through it.
class TextPrinter {
 public:
  virtual ~TextPrinter() = default;
  virtual void printText(FileNumber number, const char* bytes, size_t length, int endFlags) = 0;
  virtual void printLineEnd(FileNumber number, int endFlags) = 0;
};

}  // namespace kp
