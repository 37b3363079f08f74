#pragma once

#include <termios.h>

#include <csignal>

namespace kp::posix {

// The keyboard modes of one terminal: taken as found, switched to
// non-canonical input without echo and without flow control (signals kept),
// and put back.
class TerminalModes {
 public:
  explicit TerminalModes(int fd) : fd_(fd) {}

  int fd() const { return fd_; }

  // Switches the modes once, when fd is a terminal whose foreground we are
  // (a background job must not take the terminal). True when in force.
  bool apply();

  // Puts back the modes found. A restore for a stop (Ctrl+Z) may be undone
  // by reapply; one at exit may not. Async-signal-safe.
  void restore(bool forStop = false);

  // After a stop and continue: applies the modes again if a stop restored
  // them and we are in the foreground. Async-signal-safe.
  void reapply();

  bool applied() const { return state_ == kApplied; }

 private:
  enum : int { kUntouched = 0, kApplied = 1, kStopped = 2, kRestored = 3 };

  int fd_;
  struct termios saved_ {};
  struct termios changed_ {};
  volatile sig_atomic_t state_ = kUntouched;
};

}  // namespace kp::posix
