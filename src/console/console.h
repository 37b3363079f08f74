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
  CellRect windowCache;            // left 0, window rows, right = buffer width - 1
  bool windowCacheFilled = false;  // the cache has been taken at least once
  bool consoleAnswered = false;    // the last fill found a console to ask
  // The view's last row, counted from the window's top; -1 until the first
  // write takes it from the window. The view starts at the window's top row.
  int32_t lastViewRow = -1;
  bool pendingWrap = false;   // cursor parked on the bottom-right cell
  bool slotPrepared = false;  // the console's FileSlot (number 0) is set up
  // A write has reached the screen: texts of nothing but cells are gathered.
  bool onScreen = false;
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
  int32_t setColour(int32_t foreground, int32_t background, int32_t omitted) {
    ensureStarted();
    const int32_t previous = (state_.foreground & 0xFFFF) | (state_.background << 16);
    if ((omitted & kForegroundOmitted) == 0) state_.foreground = foreground & 15;
    if ((omitted & kBackgroundOmitted) == 0) state_.background = background & 15;
    const auto attribute = static_cast<uint16_t>(state_.foreground + 16 * state_.background);
    // The gathered run was taken in the attribute set last; another one ends it.
    if (runUsed() != 0 && !(attributeSet_ && attribute == lastAttribute_)) placeGathered();
    attributeSet_ = true;
    lastAttribute_ = attribute;
    // Fails when standard output is no console; the stored indices stay
    // changed. A device lends its buffer only then: the call is skipped.
    if (!rawBufferLent_) device_.setTextAttribute(attribute);
    return previous;
  }

  void printText(FileNumber number, const char* bytes, size_t length, int endFlags) override;
  // A NUL-terminated text, printed up to its first NUL.
  void printText(FileNumber number, const char* text, int endFlags);
  void printLineEnd(FileNumber number, int endFlags) override;

  // The console writer: one call per text. On the screen, texts wait in the
  // run while the attribute stays, and go as one console write together with
  // the next text that moves the cursor, or at the next change of colour, a
  // zone advance or a flush: one write of them all leaves the screen as
  // writes of each in turn would. Redirected output that fits the buffer the
  // device lent is a plain copy there. Either buffer is lent on for the
  // pieces printed to number 0: the table's small pieces cost no call.
  void writeConsole(const char* bytes, size_t length);

  // First use of the console (taken by the first colour switch, print or key poll).
  void ensureStarted() {
    if (!state_.started) start();
  }

  // Places the gathered run and sends everything the device still buffers
  // (before waiting and at exit).
  void flush() {
    placeGathered();
    settleColumn();
    device_.flushOutput();
    const LentBuffer* const lent = lentBuffer(0);
    countedTo_ = lent != nullptr ? lent->used->load(std::memory_order_relaxed) : 0;
  }

  // The output column of a file number's slot, as zone padding reads it
  // (0 for a number that names no slot). Pieces placed in the lent buffer
  // are counted into the console's column only here and before the buffer
  // is sent, not piece by piece.
  int32_t column(FileNumber number = 0);

  const ConsoleState& state() const { return state_; }
  ConsoleDevice& device() { return device_; }

 private:
  struct WriteContext;
  struct Gather;

  void start();
  // The slot an open number names, or null (lastError IllegalCall) when it
  // names none; prepares the console's slot on the first print.
  FileSlot* resolveForPrint(FileNumber number);
  void printTextGenerally(FileNumber number, const char* bytes, size_t length, int endFlags);
  // Lends a buffer for number 0 while the console's slot is ours: the
  // device's, once output is redirected into it, or the run, once writes
  // reach the screen; else none.
  void updateLending();
  // Counts the lent buffer's bytes since the last count into the console's column.
  void settleColumn();
  ErrorCode writeToSlot(FileSlot& slot, const char* bytes, size_t length);
  void endAction(FileNumber number, FileSlot& slot, int endFlags);
  bool placeLineEnd(const LentBuffer& lent);

  void prepareSlot();
  // Takes the window cache from the device; returns false when no console answered.
  bool fillWindowCache(ScreenBufferInfo* info);
  void writeRawBytes(const char* bytes, size_t length);
  void buildContext(WriteContext& context);
  void runTextEngine(WriteContext& context, const char* bytes, size_t length);
  void writeRun(WriteContext& context, const char* bytes, size_t length);
  void scrollView(WriteContext& context, int32_t rows);
  void blankRows(WriteContext& context, int32_t firstRow, int32_t lastRow);

  static ErrorCode writeHook(FileSlot& slot, const char* bytes, size_t count);

  // The cells of bytes on the device, and the bytes of the whole characters
  // that fit `columns` cells: one a byte where the device counts no other way.
  size_t cellsOf(const char* bytes, size_t length) const {
    return textCells_ != nullptr ? textCells_->cellsOf(bytes, length) : length;
  }
  size_t fitting(const char* bytes, size_t length, size_t columns, size_t* cells) const {
    if (textCells_ != nullptr) return textCells_->fitting(bytes, length, columns, cells);
    *cells = length < columns ? length : columns;
    return *cells;
  }

  FileTable& files_;
  ConsoleDevice& device_;
  const TextCells* textCells_;

  void writeConsoleFully(const char* bytes, size_t length);
  void advanceColumn(FileSlot& target, size_t length, size_t lineStart);
  void writeConsole(const char* bytes, size_t length, bool plain);
  // Writes the run, the texts waiting there, as one console write.
  void placeGathered();
  size_t runUsed() const { return runUsed_.load(std::memory_order_relaxed); }

  // The buffer the device lends at the first raw write, which texts that
  // fit are copied into.
  LentBuffer rawBuffer_;
  bool outputBufferAsked_ = false;
  bool rawBufferLent_ = false;  // output is redirected and the device lent its buffer
  // The lent buffer's bytes before this offset are counted in the console's
  // column; those after it are pieces still to be counted.
  size_t countedTo_ = 0;
  ConsoleState state_;
  DeviceHooks hooks_;

  // The run: texts waiting to be placed in one console write.
  static constexpr size_t kRunCapacity = 1024;
  char run_[kRunCapacity];
  std::atomic<size_t> runUsed_{0};
  const LentBuffer runBuffer_{run_, &runUsed_, kRunCapacity - kCopySlack};
  bool attributeSet_ = false;  // setColour has set lastAttribute_ on the console
  uint16_t lastAttribute_ = 0;
};

}  // namespace kp
