#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console/console_device.h"
#include "console/text_printer.h"
#include "input/file_table.h"

namespace kp {

// Console colours are the attribute bits: 1 blue, 2 green, 4 red, 8 intensity.
using ColourIndex = int32_t;
constexpr ColourIndex kLightGrey = 7;
constexpr ColourIndex kLightRed = 12;

// setColour's `omitted` bits.
constexpr int32_t kForegroundOmitted = 1;
constexpr int32_t kBackgroundOmitted = 2;

// The console's process-wide state (one per Console).
struct ConsoleState {
  ColourIndex foreground = 7;  // stored colours, used when a call omits one
  ColourIndex background = 0;
  bool started = false;  // standard handles taken, input mode set
  // Four output pages; every call goes to the active one. Only page 0 exists.
  int32_t outputHandles[4] = {1, 0, 0, 0};
  int32_t activeIndex = 0;
  int32_t visibleIndex = 0;
  CellRect windowCache;            // left 0, window rows, right = buffer width - 1
  bool windowCacheFilled = false;  // the cache has been taken at least once
  bool consoleAnswered = false;    // the last fill found a console to ask
  int32_t firstViewRow = -1;       // view rows, counted from the window's top; -1 = unset
  int32_t lastViewRow = -1;
  bool pendingWrap = false;   // cursor parked on the bottom-right cell
  bool slotPrepared = false;  // the console's FileSlot (number 0) is set up
};

// Console text output: colours, printing to file numbers, and the console
// writer that places text as character cells, acts on BEL, BS, TAB, LF, CR,
// wraps and scrolls, or writes raw bytes when standard output is no console.
class Console : public TextPrinter {
 public:
  Console(FileTable& files, ConsoleDevice& device);
  ~Console() override;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Stores the given colour indices (low 4 bits) and sets the attribute.
  // Returns the previous stored foreground in bits 0-15, background in 16-31.
  int32_t setColour(int32_t foreground, int32_t background, int32_t omitted);

  void printText(FileNumber number, const char* bytes, size_t length, int endFlags) override;
  // A NUL-terminated text, printed up to its first NUL.
  void printText(FileNumber number, const char* text, int endFlags);
  void printLineEnd(FileNumber number, int endFlags) override;

  // The console writer: one call per text. Redirected output that fits the
  // buffer the device lent takes the raw lane, a plain copy: the table's
  // millions of small pieces cost no call into the device.
  void writeConsole(const char* bytes, size_t length) {
    if (!copyToRawLane(bytes, length)) writeConsoleFully(bytes, length);
  }

  // First use of the console (taken by the first colour switch, print or key poll).
  void ensureStarted();

  // Sends everything the device still buffers (before waiting and at exit).
  void flush() { device_.flushOutput(); }

  const ConsoleState& state() const { return state_; }
  ConsoleDevice& device() { return device_; }

 private:
  struct WriteContext;
  struct Gather;

  // The slot an open number names, or null (lastError IllegalCall) when it
  // names none; prepares the console's slot on the first print.
  FileSlot* resolveForPrint(FileNumber number);
  ErrorCode writeToSlot(FileSlot& slot, const char* bytes, size_t length);
  void endAction(FileSlot& slot, int endFlags);

  void prepareSlot();
  // Takes the window cache from the device; returns false when no console answered.
  bool fillWindowCache(ScreenBufferInfo* info);
  void writeRawBytes(const char* bytes, size_t length);
  void buildContext(WriteContext& context);
  void runTextEngine(WriteContext& context, const char* bytes, size_t length);
  void flushGathered(WriteContext& context, Gather& gather);
  void writeRun(WriteContext& context, const char* bytes, size_t length);
  void scrollView(WriteContext& context, int32_t rows);
  void blankRows(WriteContext& context, int32_t firstRow, int32_t lastRow);

  static ErrorCode writeHook(FileSlot& slot, const char* bytes, size_t count);

  FileTable& files_;
  ConsoleDevice& device_;
  // The raw lane: a text that fits the buffer the device lent is copied there.
  bool copyToRawLane(const char* bytes, size_t length) {
    if (!rawLane_ || length > rawSpace_.capacity - *rawSpace_.used) return false;
    std::memcpy(rawSpace_.data + *rawSpace_.used, bytes, length);
    *rawSpace_.used += length;
    return true;
  }
  void writeConsoleFully(const char* bytes, size_t length);
  void advanceColumn(FileSlot& target, const char* bytes, size_t length);

  ConsoleDevice::RawSpace rawSpace_;  // lent by the device at the first raw write
  bool rawSpaceAsked_ = false;
  bool rawLane_ = false;  // output is redirected and the device lent its buffer
  ConsoleState state_;
  DeviceHooks hooks_;
};

}  // namespace kp
