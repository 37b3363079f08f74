#include "platform/posix/terminal_modes-posix.h"

#include <unistd.h>

#include <atomic>

namespace kp::posix {

namespace {

// Only the controlling terminal stops a background job that changes it; a
// terminal that is not ours (tcgetpgrp fails) is free to use.
bool inForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group == -1 || group == getpgrp();
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
  if (tcsetattr(fd_, TCSANOW, &changed_) == 0) return true;
  state_ = before;
  return false;
}

void TerminalModes::restore(bool forStop) {
  if (state_ != kApplied) return;
  state_ = forStop ? kStopped : kRestored;
  tcsetattr(fd_, TCSANOW, &saved_);
}

void TerminalModes::reapply() {
  if (state_ != kStopped || !inForeground(fd_)) return;
  state_ = kApplied;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (tcsetattr(fd_, TCSANOW, &changed_) != 0) state_ = kStopped;
}

}  // namespace kp::posix
