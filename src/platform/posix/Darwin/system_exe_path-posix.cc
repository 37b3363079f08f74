#include <mach-o/dyld.h>

#include <vector>

#include "platform/posix/system-posix.h"

namespace kp::posix {

bool systemExecutablePath(std::string* path) {
  // The first call gives the size needed; the path may still hold symbolic
  // links and dot components.
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1u, '\0');
  if (size == 0 || _NSGetExecutablePath(buffer.data(), &size) != 0) return false;
  path->assign(buffer.data());
  return !path->empty();
}

}  // namespace kp::posix
