#include <unistd.h>

#include <vector>

#include "platform/posix/system-posix.h"

namespace kp::posix {

bool systemExecutablePath(std::string* path) {
  // The link's length is not known in advance: grow until it fits.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      path->assign(buffer.data(), static_cast<size_t>(n));
      return true;
    }
    if (buffer.size() >= (1u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kp::posix
