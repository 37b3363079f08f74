// The running executable's full path.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace kp::platform {

bool executablePath(const char*, std::string* path) {
  HMODULE self = GetModuleHandleA(nullptr);
  // A path that fills the buffer may have been cut, so grow the buffer until
  // the whole path and its terminator fit (long paths reach 32767 characters).
  constexpr DWORD kLongestPath = 32768;
  for (DWORD capacity = MAX_PATH; capacity <= 2 * kLongestPath; capacity *= 2) {
    path->assign(capacity, '\0');
    DWORD length = GetModuleFileNameA(self, path->data(), capacity);
    if (length == 0) {
      path->clear();
      return false;
    }
    if (length < capacity) {
      path->resize(length);
      return true;
    }
  }
  path->clear();
  return false;
}

}  // namespace kp::platform
