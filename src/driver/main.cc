#include "driver/comparison.h"
#include "platform/platform.h"

int main() {
  // Arguments are ignored: the program has no options.
  kp::platform::setFloatingPointPrecision();
  static kp::Program program(kp::platform::consoleDevice(), kp::platform::keyEventSource());
  kp::runComparison(program);
}
