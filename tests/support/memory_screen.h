#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/console_device.h"

namespace kp::test {

// A console screen buffer held in memory: width x height cells of one byte
// and one attribute, a visible window that may be shorter than the buffer, a
// cursor and a current attribute. The calls behave as the Windows console's:
// cells outside the buffer are clipped, a rectangle scroll fills the source
// cells its destination leaves uncovered, a fill runs on into the next rows,
// and placing the cursor outside the window brings the window to it.
// "Redirected" stands for standard output going to a file or pipe: every
// console call fails and raw writes collect in rawOutput().
class MemoryScreen : public ConsoleDevice {
 public:
  struct Beep {
    int frequencyHz = 0;
    int durationMs = 0;
    int cellWritesBefore = 0;  // writeCells calls made before the beep
  };
  struct Calls {
    int startUp = 0;
    int writeRaw = 0;
    int getScreenBufferInfo = 0;
    int setTextAttribute = 0;
    int writeCells = 0;
    int scrollRect = 0;
    int fillCells = 0;
    int setCursorPosition = 0;
    int setWindowInfo = 0;
    int endOfWrite = 0;
    int flushOutput = 0;
  };

  // windowRows 0: the window is as tall as the buffer.
  explicit MemoryScreen(int width = 80, int height = 25, int windowRows = 0);

  // ConsoleDevice
  void startUp() override;
  bool writeRaw(const char* bytes, size_t count, size_t* written) override;
  bool getScreenBufferInfo(ScreenBufferInfo* info) override;
  bool setTextAttribute(uint16_t attribute) override;
  bool writeCells(CellPosition at, const char* bytes, int count, uint16_t attribute) override;
  bool scrollRect(CellRect source, CellPosition destination, char fillChar,
                  uint16_t fillAttribute) override;
  bool fillCells(CellPosition at, int count, char ch, uint16_t attribute) override;
  bool setCursorPosition(CellPosition position) override;
  bool setWindowInfo(CellRect window) override;
  void beep(int frequencyHz, int durationMs) override;
  OutputBuffer outputBuffer() override;
  void endOfWrite() override { ++calls_.endOfWrite; }
  void flushOutput() override;

  // Test controls.
  void setRedirected(bool redirected) { redirected_ = redirected; }
  // Raw writes deliver at most `bytes` in total; a call that meets the limit
  // writes what still fits, the calls after it fail.
  void failRawAfter(size_t bytes) { rawLimit_ = bytes; }
  // Each raw write takes at most this many bytes (0: none, yet it reports success).
  void setRawChunk(size_t bytes) { rawChunk_ = bytes; }
  // Redirected, lends the writer a raw buffer of this size, as a device that
  // buffers its output does; it reaches rawOutput() when full or flushed.
  void lendOutputBuffer(size_t capacity) { lent_.assign(capacity, '\0'); }
  // Cell writes after the first `calls` fail.
  void failCellWritesAfter(int calls) { cellWriteLimit_ = calls; }
  // The screen-buffer query fails while the other calls still work.
  void failInfoQuery(bool fail) { failInfo_ = fail; }
  void placeCursor(int x, int y);
  void placeWindow(int top, int bottom);
  void setCurrentAttribute(uint16_t attribute) { attribute_ = attribute; }
  // Changes the buffer's size, keeping the overlapping cells, as a resized
  // terminal does; the window keeps its top and shrinks to fit.
  void resize(int width, int height);

  // Reading the screen.
  int width() const { return width_; }
  int height() const { return height_; }
  std::string rowText(int y) const;  // the whole row, trailing spaces included
  std::string trimmedRow(int y) const;
  char charAt(int x, int y) const { return chars_[index(x, y)]; }
  uint16_t attributeAt(int x, int y) const { return attributes_[index(x, y)]; }
  CellPosition cursor() const { return cursor_; }
  uint16_t currentAttribute() const { return attribute_; }
  CellRect window() const { return window_; }
  const std::string& rawOutput() const { return raw_; }
  const std::vector<Beep>& beeps() const { return beeps_; }
  const Calls& calls() const { return calls_; }

 private:
  size_t index(int x, int y) const { return static_cast<size_t>(y) * width_ + x; }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  void putCell(int x, int y, char ch, uint16_t attribute);

  int width_;
  int height_;
  std::vector<char> chars_;
  std::vector<uint16_t> attributes_;
  CellPosition cursor_;
  uint16_t attribute_ = 7;
  CellRect window_;
  bool redirected_ = false;
  bool failInfo_ = false;
  size_t rawLimit_ = SIZE_MAX;
  size_t rawChunk_ = SIZE_MAX;
  int cellWriteLimit_ = -1;
  std::string raw_;
  std::vector<char> lent_;
  std::atomic<size_t> lentUsed_{0};
  void takeLent();
  std::vector<Beep> beeps_;
  Calls calls_;
};

}  // namespace kp::test
