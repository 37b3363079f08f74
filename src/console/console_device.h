#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "console/text_cells.h"

namespace kp {

struct CellPosition {
  int16_t x = 0;  // column
  int16_t y = 0;  // row
};

struct CellRect {
  int16_t left = 0;
  int16_t top = 0;
  int16_t right = 0;   // inclusive
  int16_t bottom = 0;  // inclusive
};

struct ScreenBufferInfo {
  CellPosition size;       // columns and rows of the screen buffer
  CellPosition cursor;     // in buffer coordinates
  uint16_t attribute = 7;  // current attribute: foreground + 16 * background
  CellRect window;         // visible window, in buffer coordinates
};

// The operations the console writer needs of a text console. The Windows
// console implements them with kernel32, a terminal with escape sequences, and
// tests with a screen held in memory. Every call reports failure by false;
// the writer treats failures silently.
class ConsoleDevice {
 public:
  virtual ~ConsoleDevice() = default;

  // First use of the console: take the standard handles and add processed
  // input to the console's input mode.
  virtual void startUp() = 0;

  // Writes bytes unchanged to standard output (when it is no console).
  // Returns false when the write failed; *written is what got through.
  virtual bool writeRaw(const char* bytes, size_t count, size_t* written) = 0;

  // Buffer size, cursor, current attribute and visible window. False when
  // standard output is no console.
  virtual bool getScreenBufferInfo(ScreenBufferInfo* info) = 0;

  virtual bool setTextAttribute(uint16_t attribute) = 0;

  // Writes `count` bytes as cells of one row starting at `at`, in the
  // attribute: one cell a byte, or as textCells() counts them.
  virtual bool writeCells(CellPosition at, const char* bytes, int count, uint16_t attribute) = 0;

  // Moves the rectangle `source` so that its top-left cell lands on
  // `destination`; cells of the source that the move leaves uncovered are
  // filled with fillChar in fillAttribute. No clip rectangle.
  virtual bool scrollRect(CellRect source, CellPosition destination, char fillChar,
                          uint16_t fillAttribute) = 0;

  // Fills count cells of one row from `at` with ch in attribute.
  virtual bool fillCells(CellPosition at, int count, char ch, uint16_t attribute) = 0;

  virtual bool setCursorPosition(CellPosition position) = 0;

  // Makes `window` (absolute buffer coordinates) the visible window.
  virtual bool setWindowInfo(CellRect window) = 0;

  virtual void beep(int frequencyHz, int durationMs) = 0;

  // How the device shows text whose cells are not its bytes, or null when a
  // byte is a cell and is sent as it is.
  virtual const TextCells* textCells() const { return nullptr; }

  // An output buffer a device may lend the writer: the writer copies a text
  // that fits to data + *used, then raises *used past it, with no call per
  // text; what does not fit goes through writeRaw, which makes room. *used
  // grows only once the bytes are in place, so that a signal handler sending
  // the buffer sends whole texts. A device that keeps no such buffer lends
  // nothing (data null). Texts copied into the lent buffer are not followed
  // by endOfWrite: the buffer is only ever lent for output that is sent when
  // full or by flushOutput.
  struct OutputBuffer {
    char* data = nullptr;
    std::atomic<size_t>* used = nullptr;
    size_t capacity = 0;
  };
  virtual OutputBuffer outputBuffer() { return {}; }

  // End of one console write. A device that buffers may send what it
  // gathered now or keep it for later writes; flushOutput sends it.
  virtual void endOfWrite() {}

  // Sends everything still buffered, raw output included.
  virtual void flushOutput() {}
};

}  // namespace kp
