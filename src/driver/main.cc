#include <cstdlib>
#include <string>

#include "driver/comparison.h"
#include "input/file_stream.h"
#include "platform/platform.h"

namespace kp {

void runComparison(Program& program, const char* invokedAs) {
  // Where the system cannot tell the program's folder at all, the working
  // directory stands in for it.
  const char separator = FileStream::directorySeparator();
  std::string path;
  const std::string directory =
      platform::executablePath(invokedAs, &path) ? executableDirectory(path, separator) : ".";
  runComparisonSteps(program, directory, separator);
  std::exit(0);
}

}  // namespace kp

namespace {

void closeAllFilesAtExit(void* files) {
  static_cast<kp::FileTable*>(files)->closeAllFiles();
}

}  // namespace

int main(int, char** argv) {
  // The shared state exists once and is never torn down; the console device
  // registers its final flush first, so it runs after every other exit action.
  auto* program = new kp::Program(kp::platform::consoleDevice(), kp::platform::keyEventSource());
  kp::platform::registerExitAction(closeAllFilesAtExit, &program->files);
  kp::platform::setFloatingPointPrecision();
  kp::runComparison(*program, argv[0]);
}
