#pragma once

#include <cstddef>
#include <cstdint>

#include "console/key_event_source.h"

namespace kp::posix {

// The terminal's input bytes between reading and decoding, shared by the key
// source and the terminal device's cursor-position queries: a query reads
// past what the user types, takes out its report and leaves the rest for the
// keys. It also counts the cursor reports still owed to queries that gave up
// waiting, so that a late one is dropped wherever it turns up and never taken
// for the answer to a later query; no cursor report owed is ever a key.
class TerminalInput {
 public:
  static constexpr size_t kCapacity = 512;

  // Free room for bytes read from the terminal; added() says how many were put there.
  unsigned char* room(size_t* available) {
    *available = kCapacity - count_;
    return bytes_ + count_;
  }
  void added(size_t count);
  // Keeps what fits; the rest is dropped.
  void append(const unsigned char* bytes, size_t count);

  size_t size() const { return count_; }
  // Bytes ever added: a look compares it to see whether anything came.
  uint64_t received() const { return received_; }

  // The next key press at the front, dropping what is no key on the way.
  // False when nothing is left, or when what is left may still go on and
  // `final` (nothing more is coming for now) is not set.
  bool nextKey(bool final, KeyEvent* key);

  // For a query just sent: reads fd for up to timeoutMs until its report has
  // come, skipping the reports owed to earlier queries. Keys and everything
  // else stay for nextKey. When the wait gives up, the report is owed.
  bool awaitCursorReport(int fd, int timeoutMs, int* row, int* column);
  // Reads fd for up to timeoutMs while reports are owed, dropping them.
  void collectOwedReports(int fd, int timeoutMs);

  int reportsOwed() const { return owed_; }
  // A cursor report has come at some time, late or not: the terminal answers.
  bool terminalAnswers() const { return answered_; }

 private:
  bool takeCursorReport(int* row, int* column);
  bool readMore(int fd, int64_t deadlineMs);
  void remove(size_t at, size_t count);

  unsigned char bytes_[kCapacity] = {};
  size_t count_ = 0;
  uint64_t received_ = 0;
  int owed_ = 0;
  bool answered_ = false;
};

}  // namespace kp::posix
