#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kp::fuzz {

// A broken promise is a crash, so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

// Shows two texts that should be equal, escaped, before failing.
[[noreturn]] inline void failEqual(const std::string& actual, const std::string& expected,
                                   const char* what, const char* file, int line) {
  auto show = [](const std::string& text) {
    std::string shown;
    for (unsigned char c : text.substr(0, 600)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
      shown += escaped;
    }
    return shown + (text.size() > 600 ? "..." : "") + " (" + std::to_string(text.size()) +
           " bytes)";
  };
  std::fprintf(stderr, "actual:   %s\nexpected: %s\n", show(actual).c_str(),
               show(expected).c_str());
  fail(what, file, line);
}

#define KP_CHECK_EQ(actual, expected)                                                             \
  ((actual) == (expected) ? (void)0                                                               \
                          : ::kp::fuzz::failEqual((actual), (expected), #actual " == " #expected, \
                                                  __FILE__, __LINE__))

#define KP_CHECK(condition) \
  ((condition) ? (void)0 : ::kp::fuzz::fail(#condition, __FILE__, __LINE__))

// One scratch directory per fuzzing process; files in it are rewritten for
// every input instead of being created anew.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/kp-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
  }
  const std::string& path() const { return path_; }

  std::string write(const char* name, const uint8_t* data, size_t size) const {
    std::string file = path_ + "/" + name;
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    close(fd);
    return file;
  }

  void remove(const char* name) const { unlink((path_ + "/" + name).c_str()); }

 private:
  std::string path_;
};

}  // namespace kp::fuzz
