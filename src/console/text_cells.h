#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kp {

constexpr uint64_t kEveryByte = 0x0101010101010101ull;
constexpr uint64_t kEveryHighBit = 0x8080808080808080ull;

// Whether one of eight bytes lies below 0x20: a control.
inline bool holdsControl(const char* eight) {
  uint64_t word;
  std::memcpy(&word, eight, 8);
  return ((word - kEveryByte * 0x20) & ~word & kEveryHighBit) != 0;
}

// No byte below 0x20 and none from 0x7F up, eight bytes at a time: such a
// text shows as it is on every output, one cell a byte, and nothing in it
// moves a cursor; TextCells need not be asked about it. Table rows are made
// of such texts.
inline bool printableAscii(const char* bytes, size_t length) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    const bool fromDelete = ((word | (word + kEveryByte)) & kEveryHighBit) != 0;
    if (holdsControl(bytes + i) || fromDelete) return false;
  }
  for (; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x20 || byte >= 0x7F) return false;
  }
  return true;
}

// How an output shows text whose cells are not its bytes: a terminal that
// decodes UTF-8 draws a character in one or two cells, or none for a
// combining mark, and must not be sent anything that steers it. The
// template printer lays texts out through it, the console counts cells
// with it, the device sends what it shows. Where there is none (redirected
// output, the Windows console) a byte is a cell and is sent as it is.
class TextCells {
 public:
  // A field's text is laid out from at most this many of its bytes.
  static constexpr size_t kMostLaidOut = 4096;
  // What layoutText writes for a text of `length` bytes, at most.
  static constexpr size_t mostBytes(size_t length) {
    return 3 * (length < kMostLaidOut ? length : kMostLaidOut);
  }

  virtual ~TextCells() = default;

  // A recipe's text as the output shows it in a field of `columns` cells:
  // whole characters only, as many as fit, written at `out` (room for
  // mostBytes(length)); returns the bytes written and their cells in *cells.
  virtual size_t layoutText(const char* text, size_t length, size_t columns, char* out,
                            size_t* cells) const = 0;
  // The cells `bytes` take when sent.
  virtual size_t cellsOf(const char* bytes, size_t length) const = 0;
  // How many of `bytes` make the whole characters that fit `columns` cells,
  // and their cells in *cells.
  virtual size_t fitting(const char* bytes, size_t length, size_t columns,
                         size_t* cells) const = 0;
  // What the output is sent for `bytes`: at most `length` bytes at `out`,
  // taking *cells cells.
  virtual size_t shown(const char* bytes, size_t length, char* out, size_t* cells) const = 0;
};

}  // namespace kp
