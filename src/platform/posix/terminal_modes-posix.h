#pragma once

#include <termios.h>

#include <csignal>

namespace kp::posix {

// The keyboard modes of one terminal: taken as found, switched to
// non-canonical input without echo and without flow control (signals kept),
// and put back. Another program may change them meanwhile (a pager reading
// the same terminal): modes it set are its own, and only ours are put back.
class TerminalModes {
 public:
  explicit TerminalModes(int fd) : fd_(fd) {}

  int fd() const { return fd_; }

  // Switches the modes once, when fd is a terminal whose foreground we are
  // (a background job must not take the terminal). True when in force.
  bool apply();

  // Puts back the modes found, unless the terminal no longer has ours. A
  // restore for a stop (Ctrl+Z) may be undone by reapply; one at exit may
  // not. Async-signal-safe.
  void restore(bool forStop = false);

  // While ours are in force: when the terminal has line input with echo
  // again, a program that had it before us has ended and put back the modes
  // it found, which are then the ones to restore; ours are set again.
  void retake();

  // Whether a program that took the terminal after us still has it: it
  // found ours and puts them back when it ends. awaitOurs waits for that.
  bool heldByAnother() const;
  void awaitOurs() const;

  // After a stop and continue: applies the modes again if a stop restored
  // them and we are in the foreground. Async-signal-safe.
  void reapply();

  bool applied() const { return state_ == kApplied; }

 private:
  enum : int { kUntouched = 0, kApplied = 1, kStopped = 2, kRestored = 3 };

  bool stillOurs() const;

  int fd_;
  struct termios saved_ {};
  struct termios changed_ {};  // as the terminal reported them once set
  volatile sig_atomic_t state_ = kUntouched;
};

}  // namespace kp::posix
