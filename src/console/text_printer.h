#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console/text_cells.h"
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

// Bytes past a piece that a copy of fixed size may read or write: short
// pieces go as such copies, which the compiler makes plain moves instead of
// a call that chooses its way by the length.
constexpr size_t kCopySlack = 32;

// A buffer whose output is sent later, lent by a printer so that a caller
// printing many small pieces copies each straight into it instead of calling
// printText. A piece goes to data + *used; *used grows past it only once its
// bytes are in place, since the buffer may be sent from a signal handler.
// kCopySlack bytes past the capacity may be written too (and are not sent).
struct LentBuffer {
  char* data = nullptr;
  std::atomic<size_t>* used = nullptr;
  size_t capacity = 0;

  // Where a piece of `length` bytes would go, or null when it does not fit.
  char* room(size_t length) const {
    // The lender may have filled its buffer beyond the capacity it lends.
    const size_t at = used->load(std::memory_order_relaxed);
    return at <= capacity && length <= capacity - at ? data + at : nullptr;
  }
  // The piece written at room(length) is in place.
  void commit(size_t length) const {
    used->store(used->load(std::memory_order_relaxed) + length, std::memory_order_release);
  }
  // Copies a piece that fits; false (nothing copied) when it does not.
  bool place(const char* bytes, size_t length) const {
    char* const at = room(length);
    if (at == nullptr) return false;
    std::memcpy(at, bytes, length);
    commit(length);
    return true;
  }
};

// Printing of texts and line ends to a file number. The console implements
// it; the template printer prints through it.
class TextPrinter {
 public:
  virtual ~TextPrinter() = default;
  virtual void printText(FileNumber number, const char* bytes, size_t length, int endFlags) = 0;
  virtual void printLineEnd(FileNumber number, int endFlags) = 0;

  // The space this printer lends for pieces to `number`, or null. A piece
  // placed there is printed as printText(number, piece, EndNothing) would
  // print it; one that does not fit goes through printText, which makes
  // room. Asked again after any other call to the printer. Not virtual: a
  // template statement asks at every item.
  const LentBuffer* lentBuffer(FileNumber number) const {
    return number == lentTo_ ? lent_ : nullptr;
  }
  // How the output to `number` shows texts, or null where a byte is a cell
  // and is shown as it is. Not virtual: a text item asks at every field.
  const TextCells* textCells(FileNumber number) const {
    return number == cellsFor_ ? cells_ : nullptr;
  }

 protected:
  // Lends `space` (null: nothing) for pieces to `number`.
  void lendBuffer(FileNumber number, const LentBuffer* space) {
    lent_ = space;
    lentTo_ = space != nullptr ? number : kNoNumber;
  }
  // Shows the texts to `number` through `cells` (null: as they are).
  void showTextsWith(FileNumber number, const TextCells* cells) {
    cells_ = cells;
    cellsFor_ = cells != nullptr ? number : kNoNumber;
  }

 private:
  static constexpr FileNumber kNoNumber = INT32_MIN;
  const LentBuffer* lent_ = nullptr;
  FileNumber lentTo_ = kNoNumber;
  const TextCells* cells_ = nullptr;
  FileNumber cellsFor_ = kNoNumber;
};

// True for the end flags that end the line (they win over a zone advance).
constexpr bool endsLine(int endFlags) {
  return (endFlags & (EndLine | EndLineAlso)) != 0;
}

}  // namespace kp
