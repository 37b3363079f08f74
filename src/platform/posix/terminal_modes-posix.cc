#include "platform/posix/terminal_modes-posix.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace kp::posix {

namespace {

// Only the controlling terminal stops a background job that changes it; a
// terminal that is not ours (tcgetpgrp fails) is free to use.
bool inForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group == -1 || group == getpgrp();
}

// Every signal, while restore() may not read what is being written.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

bool sameModes(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// How a terminal is left for a shell: modes another program found and put back.
bool linesWithEcho(const struct termios& modes) {
  return (modes.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
}

}  // namespace

bool TerminalModes::apply() {
  if (state_ == kApplied) return true;
  if (state_ == kRestored || !isatty(fd_) || !inForeground(fd_)) return false;
  if (state_ == kUntouched) {
    if (tcgetattr(fd_, &saved_) != 0) return false;
    changed_ = saved_;
    // Keys come byte by byte, unechoed; Ctrl+C and Ctrl+\ stay signals.
    // Enter must arrive as CR, as the console reports it.
    changed_.c_lflag &= ~(ICANON | ECHO | ECHONL);
    changed_.c_lflag |= ISIG;
    changed_.c_iflag &= ~(ICRNL | INLCR | IGNCR);
    // Ctrl+S and Ctrl+Q are keys like any other Ctrl+letter, as on the
    // console, not the driver's stop and start; where the driver would also
    // take Ctrl+V or Ctrl+O for itself in this mode, they are keys as well.
    changed_.c_iflag &= ~IXON;
    changed_.c_lflag &= ~IEXTEN;
    changed_.c_cc[VMIN] = 1;
    changed_.c_cc[VTIME] = 0;
  }
  // Counted as changed before the change, so that a signal arriving while
  // tcsetattr runs or just after it still puts the terminal back.
  const int before = state_;
  state_ = kApplied;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (tcsetattr(fd_, TCSANOW, &changed_) != 0) {
    state_ = before;
    return false;
  }
  // Kept as the terminal holds them, which may differ a little from what was asked.
  SignalsHeld held;
  tcgetattr(fd_, &changed_);
  return true;
}

bool TerminalModes::stillOurs() const {
  struct termios now {};
  return tcgetattr(fd_, &now) == 0 && sameModes(now, changed_);
}

void TerminalModes::restore(bool forStop) {
  if (state_ != kApplied) return;
  state_ = forStop ? kStopped : kRestored;
  // Modes set after ours belong to a program still running, which puts
  // back ours when it ends.
  if (stillOurs()) tcsetattr(fd_, TCSANOW, &saved_);
}

void TerminalModes::retake() {
  struct termios now {};
  if (state_ != kApplied || tcgetattr(fd_, &now) != 0 || sameModes(now, changed_)) return;
  if (!linesWithEcho(now)) return;  // another program's own
  {
    SignalsHeld held;
    saved_ = now;
  }
  tcsetattr(fd_, TCSANOW, &changed_);
}

void TerminalModes::reapply() {
  if (state_ != kStopped || !inForeground(fd_)) return;
  state_ = kApplied;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (tcsetattr(fd_, TCSANOW, &changed_) != 0) state_ = kStopped;
}

bool TerminalModes::heldByAnother() const {
  struct termios now {};
  return state_ == kApplied && tcgetattr(fd_, &now) == 0 && !sameModes(now, changed_) &&
         !linesWithEcho(now);
}

void TerminalModes::awaitOurs() const {
  while (heldByAnother()) {
    struct timespec look = {0, 50 * 1000000L};
    nanosleep(&look, nullptr);
  }
}

}  // namespace kp::posix
