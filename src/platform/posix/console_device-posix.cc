#include "platform/posix/console_device-posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kp::posix {

namespace {

constexpr char kEsc = '\x1b';
constexpr int kDefaultAttribute = 7;

// Console colour bits are blue 1, green 2, red 4; ANSI's are red 1, green 2, blue 4.
int ansiColour(int index) {
  return (index & 2) | ((index & 1) << 2) | ((index & 4) >> 2);
}

bool usableTerm(const char* term) {
  return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

}  // namespace

int foregroundSgr(int index) {
  index &= 15;
  if (index == 7) return 39;
  return ((index & 8) ? 90 : 30) + ansiColour(index);
}

int backgroundSgr(int index) {
  index &= 15;
  if (index == 0) return 49;
  return ((index & 8) ? 100 : 40) + ansiColour(index);
}

TerminalDevice::TerminalDevice(int inFd, int outFd, const TerminalDeviceOptions& options)
    : inFd_(inFd),
      outFd_(outFd),
      options_(options),
      cells_(isatty(outFd) == 1 && usableTerm(options.term)),
      rawToTty_(!cells_ && isatty(outFd) == 1),
      buffer_(new char[kBufferSize]) {}

void TerminalDevice::startUp() {
  if (options_.modes != nullptr) options_.modes->apply();
  if (cells_) ensureCursor();
}

// --- Writing out --------------------------------------------------------

bool TerminalDevice::writeAll(const char* bytes, size_t count) {
  while (count > 0 && !failed_) {
    const ssize_t n = write(outFd_, bytes, count);
    ++writeCalls_;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A closed pipe or a full disk: the rest of the output is dropped.
      failed_ = true;
      break;
    }
    bytesWritten_ += static_cast<size_t>(n);
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return !failed_;
}

bool TerminalDevice::flushBuffer() {
  const size_t count = used_;
  used_ = 0;
  if (count == 0) return !failed_;
  return writeAll(buffer_.get(), count);
}

bool TerminalDevice::append(const char* bytes, size_t count) {
  if (failed_) return false;
  if (count > kBufferSize - used_) {
    if (!flushBuffer()) return false;
    if (count >= kBufferSize) return writeAll(bytes, count);
  }
  std::memcpy(buffer_.get() + used_, bytes, count);
  used_ += count;
  return true;
}

void TerminalDevice::reserve(size_t count) {
  if (count > kBufferSize - used_) flushBuffer();
}

void TerminalDevice::putNumber(int value) {
  char digits[12];
  int n = 0;
  if (value < 0) value = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n > 0) put(digits[--n]);
}

bool TerminalDevice::writeRaw(const char* bytes, size_t count, size_t* written) {
  if (written != nullptr) *written = 0;
  if (failed_) return false;
  bool ok;
  if (rawToTty_) {
    // Raw bytes onto a terminal: keep the line controls, defuse the rest.
    ok = true;
    for (size_t i = 0; i < count && ok; ++i) {
      char c = bytes[i];
      const auto u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != '\b' && c != '\a') ||
          u == 0x7F) {
        c = '?';
      }
      ok = append(&c, 1);
    }
  } else {
    ok = append(bytes, count);
  }
  if (ok && written != nullptr) *written = count;
  return ok;
}

ConsoleDevice::RawSpace TerminalDevice::rawSpace() {
  // Only plain redirected output: raw bytes onto a terminal are defused one by one.
  if (cells_ || rawToTty_) return {};
  return {buffer_.get(), &used_, kBufferSize};
}

void TerminalDevice::flushOutput() {
  if (cells_) {
    endOfWrite();
  } else {
    flushBuffer();
  }
}

void TerminalDevice::endOfWrite() {
  // Raw output stays buffered until it is full, the key wait looks, or exit.
  if (!cells_) return;
  if (cursorKnown_ && (!physicalKnown_ || physicalX_ != cursor_.x || physicalY_ != cursor_.y)) {
    moveTo(cursor_.x, cursor_.y);
  }
  resetAttribute();
  flushBuffer();
}

void TerminalDevice::finish() {
  flushOutput();
  if (options_.modes != nullptr) options_.modes->restore();
}

void TerminalDevice::resetColoursFromSignal() {
  if (!cells_) return;
  static const char kReset[] = "\x1b[0m";
  ssize_t n = write(outFd_, kReset, sizeof kReset - 1);
  (void)n;
}

// --- The screen -----------------------------------------------------------

void TerminalDevice::ensureReady() {
  if (sizeStale_.exchange(false, std::memory_order_relaxed)) {
    refreshSize();
    // The terminal may have moved its cursor with the change (a taller
    // window pulls rows back from its history): ask again before the next write.
    cursorStale_ = true;
  }
}

// The answer to a cursor query is where the terminal has its cursor, which
// is the writer's cursor only while the terminal's stands on it: in the
// middle of a write (after a line end that did not scroll) it may not. So
// the question waits until it does, as it always does between writes.
void TerminalDevice::ensureCursor() {
  ensureReady();
  if (!cursorStale_) return;
  if (cursorKnown_ && !(physicalKnown_ && physicalX_ == cursor_.x && physicalY_ == cursor_.y)) {
    return;
  }
  cursorStale_ = false;
  queryCursor();
}

void TerminalDevice::refreshSize() {
  struct winsize size {};
  if (ioctl(outFd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    columns_ = size.ws_col > 32767 ? 32767 : size.ws_col;
    rows_ = size.ws_row > 32767 ? 32767 : size.ws_row;
  } else {
    columns_ = 80;
    rows_ = 24;
  }
  if (windowRows_ == 0) windowRows_ = rows_;
  if (cursor_.x >= columns_) cursor_.x = static_cast<int16_t>(columns_ - 1);
  if (cursor_.y >= rows_) cursor_.y = static_cast<int16_t>(rows_ - 1);
  // The terminal's cursor is where our bytes left it, kept inside the screen
  // and moved by the terminal along with its text, which the next cursor
  // query tells; no addressing must come in between.
  if (physicalX_ >= columns_) physicalX_ = columns_ - 1;
  if (physicalY_ >= rows_) physicalY_ = rows_ - 1;
}

void TerminalDevice::queryCursor() {
  physicalKnown_ = false;
  // Without an answer the writer starts on a fresh bottom row; later, it
  // goes on from the place it had, kept inside the screen.
  if (!cursorKnown_) cursor_ = {0, static_cast<int16_t>(rows_ - 1)};
  cursorKnown_ = true;
  int row = 0;
  int column = 0;
  bool answered = false;
  if (options_.modes != nullptr && options_.modes->fd() == inFd_ && options_.modes->applied()) {
    answered = askCursor(inFd_, *input_, &row, &column);
  } else {
    // The keyboard is not the terminal (or not in our modes): ask through the
    // controlling terminal, in non-canonical mode just for the answer.
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return;
    TerminalModes modes(tty);
    if (modes.apply()) {
      TerminalInput ttyInput;
      answered = askCursor(tty, ttyInput, &row, &column);
      modes.restore();
    }
    close(tty);
  }
  if (answered && row >= 1 && column >= 1) {
    cursor_.x = static_cast<int16_t>(column > columns_ ? columns_ - 1 : column - 1);
    cursor_.y = static_cast<int16_t>(row > rows_ ? rows_ - 1 : row - 1);
  }
}

bool TerminalDevice::askCursor(int fd, TerminalInput& input, int* row, int* column) {
  // A report still owed to an earlier query is taken out first if it has
  // come. If it has not, the terminal does not answer (or not yet), and
  // asking again would only add to what is owed.
  if (input.reportsOwed() > 0) {
    input.collectOwedReports(fd, 0);
    if (input.reportsOwed() > 0) return false;
  }
  // The answer must tell where the cursor is after all that was drawn.
  flushBuffer();
  static const char kQuery[] = "\x1b[6n";
  if (!writeAll(kQuery, sizeof kQuery - 1)) return false;
  // A terminal known to answer gets longer, so that a slow link does not
  // leave the cursor unknown after a resize.
  const int timeout =
      input.terminalAnswers() ? options_.answeringReplyTimeoutMs : options_.cursorReplyTimeoutMs;
  return input.awaitCursorReport(fd, timeout, row, column);
}

void TerminalDevice::moveTo(int x, int y) {
  if (physicalKnown_ && physicalX_ == x && physicalY_ == y) return;
  reserve(16);
  put(kEsc);
  put('[');
  putNumber(y + 1);
  put(';');
  putNumber(x + 1);
  put('H');
  physicalX_ = x;
  physicalY_ = y;
  physicalKnown_ = true;
  lastShown_ = 0;
}

void TerminalDevice::useAttribute(uint16_t attribute) {
  const int wanted = attribute & 0xFF;
  if (wanted == terminalAttribute_) return;
  reserve(16);
  put(kEsc);
  put('[');
  putNumber(foregroundSgr(wanted & 15));
  put(';');
  putNumber(backgroundSgr(wanted >> 4));
  put('m');
  terminalAttribute_ = wanted;
  lastShown_ = 0;
}

void TerminalDevice::resetAttribute() {
  if (terminalAttribute_ == kDefaultAttribute) return;
  reserve(4);
  put(kEsc);
  put('[');
  put('0');
  put('m');
  terminalAttribute_ = kDefaultAttribute;
  lastShown_ = 0;
}

char TerminalDevice::shownByte(unsigned char byte) {
  unsigned char shown = byte;
  if (byte < 0x20 || byte == 0x7F) {
    shown = '?';
  } else if (byte >= 0x80 && byte <= 0x9F && (!options_.utf8 || lastShown_ == 0xC2)) {
    // An 8-bit C1 control, or its UTF-8 form C2 80..9F: either would be obeyed.
    shown = '?';
  }
  lastShown_ = shown;
  return static_cast<char>(shown);
}

void TerminalDevice::emitCells(const char* bytes, int count, char repeated, bool repeat) {
  bool wide = false;
  for (int i = 0; i < count;) {
    reserve(1);
    const size_t room = kBufferSize - used_;
    const int chunk = static_cast<int>(static_cast<size_t>(count - i) < room ? count - i : room);
    for (int k = 0; k < chunk; ++k, ++i) {
      const auto byte = static_cast<unsigned char>(repeat ? repeated : bytes[i]);
      if (byte >= 0x80) wide = true;
      put(shownByte(byte));
    }
  }
  physicalX_ += count;
  // At the last column the terminal holds a wrap pending; a UTF-8 terminal
  // may join high bytes into fewer columns. Either way, address the next write.
  if (physicalX_ >= columns_ || wide) physicalKnown_ = false;
}

bool TerminalDevice::getScreenBufferInfo(ScreenBufferInfo* info) {
  if (!cells_ || failed_) return false;
  ensureCursor();
  info->size = {static_cast<int16_t>(columns_), static_cast<int16_t>(rows_)};
  info->cursor = cursor_;
  info->attribute = attribute_;
  // The window keeps the height it had at first, at the bottom of a taller
  // screen: that is where a terminal grown during the run has moved the
  // writer's rows (it pulls older ones down from its history), and the rows
  // above scroll along whenever the writer scrolls the whole screen.
  const int windowRows = windowRows_ < rows_ ? windowRows_ : rows_;
  info->window = {0, static_cast<int16_t>(rows_ - windowRows), static_cast<int16_t>(columns_ - 1),
                  static_cast<int16_t>(rows_ - 1)};
  return true;
}

bool TerminalDevice::setTextAttribute(uint16_t attribute) {
  if (!cells_) return false;
  attribute_ = attribute;
  return true;
}

bool TerminalDevice::writeCells(CellPosition at, const char* bytes, int count, uint16_t attribute) {
  if (!cells_) return false;
  ensureReady();
  if (at.x < 0 || at.y < 0 || at.x >= columns_ || at.y >= rows_) return false;
  if (count > columns_ - at.x) count = columns_ - at.x;
  if (count <= 0) return true;
  moveTo(at.x, at.y);
  useAttribute(attribute);
  emitCells(bytes, count, 0, false);
  return !failed_;
}

bool TerminalDevice::fillCells(CellPosition at, int count, char ch, uint16_t attribute) {
  if (!cells_) return false;
  ensureReady();
  if (at.x < 0 || at.y < 0 || at.x >= columns_ || at.y >= rows_) return false;
  int x = at.x;
  int y = at.y;
  // Like the console, a fill runs on into the following rows.
  while (count > 0 && y < rows_) {
    const int piece = count < columns_ - x ? count : columns_ - x;
    moveTo(x, y);
    useAttribute(attribute);
    emitCells(nullptr, piece, ch, true);
    count -= piece;
    x = 0;
    ++y;
  }
  return !failed_;
}

bool TerminalDevice::scrollRect(CellRect source, CellPosition destination, char fillChar,
                                uint16_t fillAttribute) {
  if (!cells_) return false;
  ensureReady();
  // Only what a terminal can do with line feeds: whole-width rows moving up.
  if (source.left > 0 || source.right < columns_ - 1 || destination.x != 0 || destination.y < 0 ||
      destination.y >= source.top) {
    return false;
  }
  const int top = destination.y;
  const int bottom = source.bottom < rows_ - 1 ? source.bottom : rows_ - 1;
  if (bottom < top) return true;
  const int height = bottom - top + 1;
  int lines = source.top - destination.y;
  if (lines > height) lines = height;
  const bool wholeScreen = top == 0 && bottom == rows_ - 1;

  // The line feeds blank the new rows in the current background.
  useAttribute(fillAttribute);
  if (!wholeScreen) {
    reserve(16);
    put(kEsc);
    put('[');
    putNumber(top + 1);
    put(';');
    putNumber(bottom + 1);
    put('r');
    physicalKnown_ = false;
  }
  moveTo(0, bottom);
  for (int i = 0; i < lines; ++i) {
    reserve(1);
    put('\n');
  }
  if (!wholeScreen) {
    reserve(3);
    put(kEsc);
    put('[');
    put('r');
    physicalKnown_ = false;
  }
  lastShown_ = 0;
  if (fillChar != ' ') {
    for (int row = bottom - lines + 1; row <= bottom; ++row) {
      fillCells({0, static_cast<int16_t>(row)}, columns_, fillChar, fillAttribute);
    }
  }
  return !failed_;
}

bool TerminalDevice::setCursorPosition(CellPosition position) {
  if (!cells_) return false;
  ensureReady();
  if (position.x < 0 || position.y < 0 || position.x >= columns_ || position.y >= rows_) {
    return false;
  }
  cursor_ = position;
  return true;
}

bool TerminalDevice::setWindowInfo(CellRect) {
  // The window is the whole screen; there is nothing to move.
  return cells_;
}

void TerminalDevice::beep(int, int) {
  if (!cells_) return;
  reserve(1);
  put('\a');
}

}  // namespace kp::posix
