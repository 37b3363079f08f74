#pragma once

#include <signal.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "console/console_device.h"
#include "platform/posix/text_cells-posix.h"
#include "platform/posix/terminal_input-posix.h"
#include "platform/posix/terminal_modes-posix.h"

namespace kp::posix {

struct TerminalDeviceOptions {
  const char* term = nullptr;  // the TERM value; unset or "dumb" means raw output
  // The terminal decodes UTF-8. Otherwise bytes 0x80-0x9F, which an 8-bit
  // terminal takes as controls, are shown as '?'.
  bool utf8 = true;
  // No colours (NO_COLOR): light red, which marks differences, is underlined
  // and everything else plain.
  bool noColour = false;
  TerminalModes* modes = nullptr;  // keyboard modes switched at start-up
  // The keyboard's input, shared with the key source: a cursor query reads
  // past the user's typing and leaves it there. Without one the device keeps its own.
  TerminalInput* input = nullptr;
  // How long a cursor query waits for the answer; longer once the terminal
  // is known to answer at all.
  int cursorReplyTimeoutMs = 100;
  int answeringReplyTimeoutMs = 1000;
  // Cells gathered on a terminal are sent when the buffer is full, when
  // output is flushed, and at the end of a console write once this long has
  // passed since the last send, so that a long table still scrolls visibly.
  int sendIntervalMs = 25;
  int64_t (*clockMs)() = nullptr;  // a monotonic clock in ms; null: the system's
};

// SGR parameters of a console attribute: foreground 7 and background 0 are
// the terminal's defaults (39, 49); other indices are the ANSI colour with
// red and blue swapped, 30-37/40-47, or 90-97/100-107 when intense.
int foregroundSgr(int index);
int backgroundSgr(int index);

// The console device on a POSIX terminal. Standard output that is not a
// terminal (or a terminal without a usable TERM) gets the raw path: bytes
// buffered in user space and written in large blocks. A terminal gets cells
// drawn with cursor addressing and colour sequences, kept in the same buffer
// across console writes and sent when it is full, when output is flushed, or
// at the end of a write some time after the last send.
//
// A fatal signal's handler may send the buffer (sendFromSignal): it sends
// only bytes whose writing has finished (raw texts once copied whole, cells
// once their device call has ended), and the signals it runs for are held
// while the buffer itself is being sent, so that no byte goes out twice.
class TerminalDevice : public ConsoleDevice {
 public:
  // A pipe's default capacity: into a pipe, a write of this much finds room
  // and returns, and the next part is made while the reader takes this one;
  // a larger write waits for the reader to drain it.
  static constexpr size_t kBufferSize = 64 * 1024;
  // On a terminal, cells go once this much is gathered: the terminal then
  // draws one part while the next is made, where a full buffer would leave
  // it idle while the program fills it. 10^5 rows in tmux 80x25: 0.392 s
  // instead of 0.456 until the prompt (medians of 15 runs each, side by
  // side; `cat` of the table 0.246 s).
  static constexpr size_t kTerminalSendSize = 32 * 1024;

  TerminalDevice(int inFd, int outFd, const TerminalDeviceOptions& options);

  void startUp() override;
  bool writeRaw(const char* bytes, size_t count, size_t* written) override;
  OutputBuffer outputBuffer() override;
  bool getScreenBufferInfo(ScreenBufferInfo* info) override;
  bool setTextAttribute(uint16_t attribute) override;
  bool writeCells(CellPosition at, const char* bytes, int count, uint16_t attribute) override;
  bool scrollRect(CellRect source, CellPosition destination, char fillChar,
                  uint16_t fillAttribute) override;
  bool fillCells(CellPosition at, int count, char ch, uint16_t attribute) override;
  bool setCursorPosition(CellPosition position) override;
  bool setWindowInfo(CellRect window) override;
  void beep(int frequencyHz, int durationMs) override;
  void endOfWrite() override;
  void flushOutput() override;
  // On a terminal: how it shows text. Redirected output is its bytes.
  const TextCells* textCells() const override {
    return cells_ || rawToTty_ ? &text_ : nullptr;
  }

  // Exit: sends what is buffered, leaves the terminal's colours at their
  // defaults and puts the keyboard modes back.
  void finish();
  static void finishAtExit(void* device) { static_cast<TerminalDevice*>(device)->finish(); }

  // For fatal signals: sends what is buffered and finished, as it stands.
  // Async-signal-safe; gives up on output that takes no bytes for a while.
  void sendFromSignal();
  // For fatal signals and stops: default colours on the terminal. Async-signal-safe.
  void resetColoursFromSignal();
  // The signals whose handlers call sendFromSignal: held while sending.
  void holdWhileSending(const sigset_t& signals) {
    held_ = signals;
    holdSignals_ = true;
  }
  // The terminal was resized (SIGWINCH), or the shell had it while we were
  // stopped: size and cursor are learnt again before the next write. Async-signal-safe.
  void markSizeStale() { sizeStale_.store(true, std::memory_order_relaxed); }

  bool cellOutput() const { return cells_; }
  // What reached write(2): calls and bytes.
  size_t writeCalls() const { return writeCalls_; }
  size_t bytesWritten() const { return bytesWritten_; }

 private:
  bool writeAll(const char* bytes, size_t count);
  bool flushBuffer();
  // Sends the buffer with the cursor placed and default colours (cells).
  void send();
  bool somethingToSend() const;
  bool append(const char* bytes, size_t count);
  void appendDefused(const char* bytes, size_t count);
  void reserve(size_t count);
  void put(char c) {
    const size_t at = used_.load(std::memory_order_relaxed);
    buffer_[at] = c;
    used_.store(at + 1, std::memory_order_relaxed);
  }
  void putNumber(int value);
  // The end of a device call that drew cells: what it put is whole.
  void markWhole() {
    whole_.store(used_.load(std::memory_order_relaxed), std::memory_order_release);
  }
  int64_t sendClockMs() const;

  void ensureReady();
  void ensureCursor();
  void refreshSize();
  void queryCursor();
  bool askCursor(int fd, TerminalInput& input, int* row, int* column);

  void moveTo(int x, int y);
  void useAttribute(uint16_t attribute);
  void resetAttribute();
  // Cells as the terminal shows them; returns the cells taken.
  size_t emitCells(const char* bytes, size_t count);
  void emitRepeated(char c, int count);

  int inFd_;
  int outFd_;
  TerminalDeviceOptions options_;
  TerminalTextCells text_;
  bool cells_;           // drawing cells on a terminal (else the raw path)
  bool rawToTty_;        // raw path, but onto a terminal: controls are neutralised
  bool failed_ = false;  // a write failed: everything later is dropped

  std::unique_ptr<char[]> buffer_;
  // Bytes in the buffer. Raw texts are copied in before it grows past them,
  // so a signal may send them all; cells are whole up to whole_.
  std::atomic<size_t> used_{0};
  std::atomic<size_t> whole_{0};
  sigset_t held_{};
  bool holdSignals_ = false;
  std::atomic<bool> sentFromSignal_{false};
  int64_t lastSendMs_ = INT64_MIN / 2;  // long ago: the first write is sent at once
  size_t writeCalls_ = 0;
  size_t bytesWritten_ = 0;

  TerminalInput ownInput_;
  TerminalInput* input_ = options_.input != nullptr ? options_.input : &ownInput_;
  std::atomic<bool> sizeStale_{true};
  bool cursorStale_ = false;  // ask where the cursor is at the next write's start
  bool cursorKnown_ = false;  // the cursor has been asked for once
  int columns_ = 80;
  int rows_ = 24;
  int windowRows_ = 0;   // the screen's height when first read
  CellPosition cursor_;  // the console's cursor
  int physicalX_ = 0;    // where the terminal's cursor is, when known
  int physicalY_ = 0;
  bool physicalKnown_ = false;
  uint16_t attribute_ = 7;       // current attribute for the writer
  int terminalAttribute_ = 7;    // colours in force on the terminal; 7 = defaults
};

}  // namespace kp::posix
