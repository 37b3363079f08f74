#include <cstdlib>
#include <string>

#include "driver/comparison.h"
#include "input/file_stream.h"
#include "platform/platform.h"

namespace kp {

void runComparison(Program& program) {
  // A path that cannot be had counts like one without a separator: the files
  // are then looked for at the root.
  std::string path;
  if (!platform::executablePath(&path)) path.clear();
  const char separator = FileStream::directorySeparator();
  runComparisonSteps(program, executableDirectory(path, separator), separator);
  std::exit(0);
}

}  // namespace kp

namespace {

void closeAllFilesAtExit(void* files) {
  static_cast<kp::FileTable*>(files)->closeAllFiles();
}

}  // namespace

int main() {
  // The shared state exists once and is never torn down; the console device
  // registers its final flush first, so it runs after every other exit action.
  auto* program = new kp::Program(kp::platform::consoleDevice(), kp::platform::keyEventSource());
  kp::platform::registerExitAction(closeAllFilesAtExit, &program->files);
  kp::platform::setFloatingPointPrecision();
  kp::runComparison(*program);
}
