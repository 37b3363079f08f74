#include "platform/posix/terminal_input-posix.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/key_decoder-posix.h"

namespace kp::posix {

namespace {

int64_t nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

void TerminalInput::added(size_t count) {
  count_ += count;
  received_ += count;
}

void TerminalInput::append(const unsigned char* bytes, size_t count) {
  size_t available = 0;
  unsigned char* to = room(&available);
  if (count > available) count = available;
  std::memcpy(to, bytes, count);
  added(count);
}

void TerminalInput::remove(size_t at, size_t count) {
  std::memmove(bytes_ + at, bytes_ + at + count, count_ - at - count);
  count_ -= count;
}

bool TerminalInput::nextKey(bool final, KeyEvent* key) {
  while (count_ > 0) {
    const DecodedInput item = decodeInput(bytes_, count_, final, key);
    if (item.kind == InputKind::Incomplete) return false;
    remove(0, item.taken);
    if (item.kind == InputKind::Key) return true;
    if (item.kind == InputKind::CursorReport) {
      // With no report owed, the bytes that are also a modified F3 are that key.
      if (item.alsoKey && owed_ == 0) return true;
      answered_ = true;
      if (owed_ > 0) --owed_;
    }
  }
  return false;
}

// Walks the items from the front and takes out the cursor reports: those
// owed are dropped, the first one not owed is the answer. Stops at an item
// that may still go on, since a report could be hidden in it.
bool TerminalInput::takeCursorReport(int* row, int* column) {
  size_t at = 0;
  while (at < count_) {
    KeyEvent ignored;
    const DecodedInput item = decodeInput(bytes_ + at, count_ - at, false, &ignored);
    if (item.kind == InputKind::Incomplete) return false;
    if (item.kind != InputKind::CursorReport) {
      at += item.taken;
      continue;
    }
    remove(at, item.taken);
    answered_ = true;
    if (owed_ > 0) {
      --owed_;
      continue;
    }
    *row = item.row;
    *column = item.column;
    return true;
  }
  return false;
}

// Waits for input until the deadline, then reads what fits. False when
// nothing more can come in time: time is up, the input ended or there is no room.
bool TerminalInput::readMore(int fd, int64_t deadlineMs) {
  for (;;) {
    size_t available = 0;
    unsigned char* to = room(&available);
    if (available == 0) return false;
    const int64_t left = deadlineMs - nowMs();
    struct pollfd p = {fd, POLLIN, 0};
    const int ready = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR && left > 0) continue;
    if (ready <= 0) return false;
    const ssize_t n = read(fd, to, available);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    added(static_cast<size_t>(n));
    return true;
  }
}

bool TerminalInput::awaitCursorReport(int fd, int timeoutMs, int* row, int* column) {
  const int64_t deadline = nowMs() + timeoutMs;
  do {
    if (takeCursorReport(row, column)) return true;
  } while (readMore(fd, deadline));
  ++owed_;
  return false;
}

void TerminalInput::collectOwedReports(int fd, int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  int row = 0;
  int column = 0;
  do {
    // A report beyond those owed is nobody's answer either: dropped alike.
    takeCursorReport(&row, &column);
  } while (owed_ > 0 && readMore(fd, deadline));
}

}  // namespace kp::posix
