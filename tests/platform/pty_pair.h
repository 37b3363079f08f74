#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace kp::testing {

// A pseudo-terminal for driving the terminal layer: the device under test
// uses the slave side; the test reads what it drew and types on the master.
class PtyPair {
 public:
  PtyPair(int columns, int rows) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave_ < 0) return;
    struct winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    ioctl(slave_, TIOCSWINSZ, &size);
    // Output unprocessed, so the test sees exactly the bytes written.
    struct termios modes {};
    tcgetattr(slave_, &modes);
    modes.c_oflag &= ~OPOST;
    tcsetattr(slave_, TCSANOW, &modes);
  }
  ~PtyPair() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  int master() const { return master_; }
  int slave() const { return slave_; }

  // Types bytes as if from the keyboard.
  void type(const std::string& bytes) const {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    (void)n;
  }

  // What the terminal received, read until nothing more came for quietMs.
  std::string drain(int quietMs = 50) const {
    std::string out;
    char buffer[4096];
    for (;;) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, quietMs) <= 0) break;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

  // Reads until `needle` arrived (or timeoutMs passed); returns all read.
  std::string readUntil(const std::string& needle, int timeoutMs = 2000) const {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[256];
    while (out.find(needle) == std::string::npos && std::chrono::steady_clock::now() < end) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

}  // namespace kp::testing
