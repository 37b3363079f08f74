#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/posix/system-posix.h"

namespace kp::platform {

namespace {

bool isProgramFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The file the program was started from, found as the shell found it: a name
// with a slash names it from the working directory (not changed since the
// start), a bare name was looked up in PATH.
bool pathFromInvocation(const char* invokedAs, std::string* path) {
  if (invokedAs == nullptr || invokedAs[0] == '\0') return false;
  const std::string name = invokedAs;
  if (name.find('/') != std::string::npos) {
    *path = name;
    return isProgramFile(name);
  }
  const char* search = std::getenv("PATH");
  if (search == nullptr) return false;
  const std::string folders = search;
  size_t start = 0;
  for (;;) {
    const size_t end = folders.find(':', start);
    std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
    if (folder.empty()) folder = ".";  // an empty entry is the working directory
    *path = folder + '/' + name;
    if (isProgramFile(*path)) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

}  // namespace

bool executablePath(const char* invokedAs, std::string* path) {
  std::string found;
  if (!posix::systemExecutablePath(&found) && !pathFromInvocation(invokedAs, &found)) return false;
  // The real file, with no symbolic link or relative part left: the recipes
  // lie beside the program itself. Where that cannot be had, the path as found.
  char* real = realpath(found.c_str(), nullptr);
  if (real != nullptr) {
    found = real;
    std::free(real);
  }
  *path = found;
  return true;
}

}  // namespace kp::platform
