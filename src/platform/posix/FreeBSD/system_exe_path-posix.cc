#include <sys/types.h>
#include <sys/sysctl.h>

#include <vector>

#include "platform/posix/system-posix.h"

namespace kp::posix {

bool systemExecutablePath(std::string* path) {
  int query[4] = {CTL_KERN, KERN_PROC, KERN_PROC_PATHNAME, -1};  // -1: this process
  size_t size = 0;
  if (sysctl(query, 4, nullptr, &size, nullptr, 0) != 0 || size == 0) return false;
  std::vector<char> buffer(size + 1, '\0');
  if (sysctl(query, 4, buffer.data(), &size, nullptr, 0) != 0) return false;
  // Empty when the kernel no longer knows the file's name.
  path->assign(buffer.data());
  return !path->empty();
}

}  // namespace kp::posix
