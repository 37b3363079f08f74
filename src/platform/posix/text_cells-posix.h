#pragma once

#include <cstddef>
#include <cstdint>

#include "console/text_cells.h"

namespace kp::posix {

// Text on a terminal, by the character set of the user's locale. In a UTF-8
// locale a character takes the cells utf8proc gives it and a grapheme
// cluster is never split; a recipe's text that is not well-formed UTF-8 is
// a Windows-1252 or, where its German letters are those of code page 850,
// a DOS text, one cell a byte, sent as UTF-8. In any other locale a byte is
// a cell. Either way nothing steers the terminal: C0, DEL and C1 controls
// (in bytes and as UTF-8), malformed UTF-8 and the bidirectional overrides
// and isolates show as '?'.
class TerminalTextCells : public TextCells {
 public:
  explicit TerminalTextCells(bool utf8) : utf8_(utf8) {}

  size_t layoutText(const char* text, size_t length, size_t columns, char* out,
                    size_t* cells) const override;
  size_t cellsOf(const char* bytes, size_t length) const override;
  size_t fitting(const char* bytes, size_t length, size_t columns, size_t* cells) const override;
  size_t shown(const char* bytes, size_t length, char* out, size_t* cells) const override;

  bool utf8() const { return utf8_; }

 private:
  bool utf8_;
};

// The character a byte from 0x80 up stands for in a legacy text; 0 where
// the code page has none.
char32_t fromWindows1252(unsigned char byte);
char32_t fromCodePage850(unsigned char byte);

}  // namespace kp::posix
