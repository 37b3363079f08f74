#include "platform/posix/console_device-posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/console.h"
#include "platform/posix/system-posix.h"

namespace kp::posix {

namespace {

constexpr char kEsc = '\x1b';
constexpr int kDefaultAttribute = 7;
constexpr int kUnderlined = 0x100;  // beyond every attribute: underline, no colours

// Console colour bits are blue 1, green 2, red 4; ANSI's are red 1, green 2, blue 4.
int ansiColour(int index) {
  return (index & 2) | ((index & 1) << 2) | ((index & 4) >> 2);
}

bool usableTerm(const char* term) {
  return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

bool sameTerminal(int a, int b) {
  struct stat first {};
  struct stat second {};
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_rdev == second.st_rdev;
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
      text_(options.utf8),
      cells_(isatty(outFd) == 1 && usableTerm(options.term)),
      rawToTty_(!cells_ && isatty(outFd) == 1),
      buffer_(new char[kBufferSize]) {}

void TerminalDevice::startUp() {
  if (!cells_) return;
  // Taken now only for a table drawn on the keyboard's own terminal, where
  // typed keys must not echo into it; otherwise only the key wait takes them.
  if (options_.modes != nullptr && sameTerminal(options_.modes->fd(), outFd_)) {
    options_.modes->apply();
  }
  ensureCursor();
}

// --- Writing out --------------------------------------------------------

namespace {

// Holds the given signals for its lifetime (when asked to).
class HeldSignals {
 public:
  HeldSignals(bool hold, const sigset_t& signals) : hold_(hold) {
    if (hold_) sigprocmask(SIG_BLOCK, &signals, &previous_);
  }
  ~HeldSignals() {
    if (hold_) sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  bool hold_;
  sigset_t previous_;
};

}  // namespace

int64_t TerminalDevice::sendClockMs() const {
  return options_.clockMs != nullptr ? options_.clockMs() : coarseClockMs();
}

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
  const size_t count = used_.load(std::memory_order_relaxed);
  if (count == 0) return !failed_;
  {
    // A fatal signal arriving now waits until the buffer is out and empty:
    // its handler could not tell how much of a write got through.
    HeldSignals held(holdSignals_, held_);
    writeAll(buffer_.get(), count);
    used_.store(0, std::memory_order_relaxed);
    whole_.store(0, std::memory_order_relaxed);
  }
  lastSendMs_ = sendClockMs();
  return !failed_;
}

void TerminalDevice::send() {
  // The terminal's cursor goes where the console's is, as a write leaves it.
  if (cursorKnown_) moveTo(cursor_.x, cursor_.y);
  // Default colours between sends, so that nothing else written to the
  // terminal meanwhile (the user's typing, the shell after a kill) takes ours.
  resetAttribute();
  markWhole();
  flushBuffer();
}

bool TerminalDevice::append(const char* bytes, size_t count) {
  if (failed_) return false;
  const size_t used = used_.load(std::memory_order_relaxed);
  if (count > kBufferSize - used) {
    if (!flushBuffer()) return false;
    if (count >= kBufferSize) {
      HeldSignals held(holdSignals_, held_);
      return writeAll(bytes, count);
    }
  }
  const size_t at = used_.load(std::memory_order_relaxed);
  std::memcpy(buffer_.get() + at, bytes, count);
  // Grown only once the bytes are in place: a signal sends whole texts.
  used_.store(at + count, std::memory_order_release);
  return true;
}

// Raw bytes onto a terminal: the line controls stay; everything else goes
// as the terminal's text cells show it, so that nothing steers it.
void TerminalDevice::appendDefused(const char* bytes, size_t count) {
  auto lineControl = [](unsigned char u) {
    return u == '\r' || u == '\n' || u == '\t' || u == '\b' || u == '\a';
  };
  while (count > 0 && !failed_) {
    size_t run = 0;
    while (run < count && !lineControl(static_cast<unsigned char>(bytes[run]))) ++run;
    if (run == 0) {
      reserve(1);
      put(bytes[0]);
      ++bytes;
      --count;
      continue;
    }
    const size_t piece = run < kBufferSize / 2 ? run : kBufferSize / 2;
    emitCells(bytes, piece);
    bytes += piece;
    count -= piece;
  }
}

void TerminalDevice::reserve(size_t count) {
  if (count > kBufferSize - used_.load(std::memory_order_relaxed)) flushBuffer();
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
  bool ok = true;
  if (rawToTty_ || cells_) {
    // Onto a terminal, also when the console writes raw to a window of one
    // row or column: the recipe's bytes must not drive the terminal.
    appendDefused(bytes, count);
    markWhole();
    ok = !failed_;
  } else {
    ok = append(bytes, count);
  }
  if (ok && written != nullptr) *written = count;
  return ok;
}

ConsoleDevice::OutputBuffer TerminalDevice::outputBuffer() {
  // Only plain redirected output: raw bytes onto a terminal are defused one by one.
  if (cells_ || rawToTty_) return {};
  return {buffer_.get(), &used_, kBufferSize};
}

bool TerminalDevice::somethingToSend() const {
  return used_.load(std::memory_order_relaxed) != 0 ||
         (cursorKnown_ && (!physicalKnown_ || physicalX_ != cursor_.x || physicalY_ != cursor_.y));
}

void TerminalDevice::flushOutput() {
  if (!cells_) {
    flushBuffer();
  } else if (somethingToSend()) {
    send();
  }
}

void TerminalDevice::endOfWrite() {
  if (cells_) {
    markWhole();
    if (used_.load(std::memory_order_relaxed) >= kTerminalSendSize ||
        (somethingToSend() && sendClockMs() - lastSendMs_ >= options_.sendIntervalMs)) {
      send();
    }
  } else if (rawToTty_) {
    // A terminal without cursor addressing still sees a long table go by.
    if (used_.load(std::memory_order_relaxed) != 0 &&
        sendClockMs() - lastSendMs_ >= options_.sendIntervalMs) {
      flushBuffer();
    }
  }
  // Redirected output stays buffered until it is full, the key wait looks, or exit.
}

void TerminalDevice::finish() {
  flushOutput();
  if (options_.modes == nullptr) return;
  if (options_.modes->heldByAnother()) {
    // A program beside us (a pager reading our output) took the terminal
    // after us and puts our modes back when it ends: our output ends here,
    // so that it sees the end, and the modes found go back after it.
    close(outFd_);
    failed_ = true;
    options_.modes->awaitOurs();
  }
  options_.modes->restore();
}

namespace {

// Writes from a signal handler, where the signal itself is held: in pieces a
// pipe takes whole once it is writable, and not for ever when it never is.
void writeFromSignal(int fd, const char* bytes, size_t count) {
  constexpr size_t kPiece = 4096;  // PIPE_BUF on Linux: a writable pipe takes it whole
  constexpr int kPatienceMs = 1000;
  while (count > 0) {
    struct pollfd p = {fd, POLLOUT, 0};
    const int ready = poll(&p, 1, kPatienceMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (p.revents & (POLLERR | POLLNVAL)) != 0) return;
    const ssize_t n = write(fd, bytes, count < kPiece ? count : kPiece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
}

}  // namespace

void TerminalDevice::sendFromSignal() {
  // Once: a second ending signal may be handled before the first one's
  // default action ends the process.
  if (failed_ || sentFromSignal_.exchange(true)) return;
  // Raw texts count once copied whole; cells once their device call ended,
  // so no escape sequence goes out cut short.
  const size_t count =
      cells_ ? whole_.load(std::memory_order_acquire) : used_.load(std::memory_order_acquire);
  if (count != 0) writeFromSignal(outFd_, buffer_.get(), count);
}

void TerminalDevice::resetColoursFromSignal() {
  if (!cells_) return;
  static const char kReset[] = "\x1b[0m";
  ssize_t n = write(outFd_, kReset, sizeof kReset - 1);
  (void)n;
}

// --- The screen -----------------------------------------------------------

void TerminalDevice::ensureReady() {
  if (sizeStale_.load(std::memory_order_relaxed) &&
      sizeStale_.exchange(false, std::memory_order_relaxed)) {
    refreshSize();
    // The terminal may have moved its cursor with the change (a taller
    // window pulls rows back from its history): ask again before the next write.
    cursorStale_ = true;
  }
}

// The answer to a cursor query is where the terminal has its cursor, so the
// terminal's cursor is first put on the writer's, with everything gathered
// before it sent. The writer asks only between its writes, where its cursor
// is the one the last write left.
void TerminalDevice::ensureCursor() {
  ensureReady();
  if (!cursorStale_) return;
  cursorStale_ = false;
  if (cursorKnown_) send();
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
  if (physicalKnown_ && physicalY_ == y) {
    if (physicalX_ == x) return;
    if (x == 0) {  // the start of the cursor's row: one byte, not an address
      reserve(1);
      put('\r');
      physicalX_ = 0;
      return;
    }
  }
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
}

void TerminalDevice::useAttribute(uint16_t attribute) {
  if (options_.noColour && (attribute & 15) != kLightRed) {
    resetAttribute();
    return;
  }
  const int wanted = options_.noColour ? kUnderlined : attribute & 0xFF;
  if (wanted == terminalAttribute_) return;
  reserve(16);
  put(kEsc);
  put('[');
  if (wanted == kUnderlined) {
    put('4');
  } else {
    // Only what changes: the table's colour switches keep the background.
    const bool coloured = terminalAttribute_ != kUnderlined;
    const bool sameForeground = coloured && (terminalAttribute_ & 15) == (wanted & 15);
    const bool sameBackground = coloured && (terminalAttribute_ >> 4) == (wanted >> 4);
    if (!sameForeground) putNumber(foregroundSgr(wanted & 15));
    if (!sameForeground && !sameBackground) put(';');
    if (!sameBackground) putNumber(backgroundSgr(wanted >> 4));
  }
  put('m');
  terminalAttribute_ = wanted;
}

void TerminalDevice::resetAttribute() {
  if (terminalAttribute_ == kDefaultAttribute) return;
  reserve(4);
  put(kEsc);
  put('[');
  put('0');
  put('m');
  terminalAttribute_ = kDefaultAttribute;
}

size_t TerminalDevice::emitCells(const char* bytes, size_t count) {
  reserve(count);  // what is sent is never longer
  const size_t at = used_.load(std::memory_order_relaxed);
  size_t cells = 0;
  const size_t written = text_.shown(bytes, count, buffer_.get() + at, &cells);
  used_.store(at + written, std::memory_order_release);
  return cells;
}

void TerminalDevice::emitRepeated(char c, int count) {
  const char shown = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  for (int i = 0; i < count;) {
    reserve(1);
    const size_t at = used_.load(std::memory_order_relaxed);
    const size_t room = kBufferSize - at;
    const int chunk = static_cast<int>(static_cast<size_t>(count - i) < room ? count - i : room);
    std::memset(buffer_.get() + at, shown, static_cast<size_t>(chunk));
    used_.store(at + static_cast<size_t>(chunk), std::memory_order_relaxed);
    i += chunk;
  }
  physicalX_ += count;  // at the row's end: a wrap pending, the row still known
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
  size_t length = static_cast<size_t>(count > 0 ? count : 0);
  const auto room = static_cast<size_t>(columns_ - at.x);
  if (length > room) {
    size_t cells = 0;
    length = text_.fitting(bytes, length, room, &cells);
  }
  if (length == 0) return true;
  moveTo(at.x, at.y);
  useAttribute(attribute);
  // Past the last column the terminal holds a wrap pending, still on the
  // row: a carriage return takes it to the row's start.
  physicalX_ += static_cast<int>(emitCells(bytes, length));
  markWhole();
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
    emitRepeated(ch, piece);
    count -= piece;
    x = 0;
    ++y;
  }
  markWhole();
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
  if (fillChar != ' ') {
    for (int row = bottom - lines + 1; row <= bottom; ++row) {
      fillCells({0, static_cast<int16_t>(row)}, columns_, fillChar, fillAttribute);
    }
  }
  markWhole();
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
  markWhole();
}

}  // namespace kp::posix
