#include "platform/posix/system-posix.h"

namespace kp::posix {

// No portable call tells a program its own file: the path is found from the
// name it was started by.
bool systemExecutablePath(std::string*) {
  return false;
}

}  // namespace kp::posix
