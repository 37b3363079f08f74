#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/exit_actions.h"
#include "platform/platform.h"
#include "platform/posix/console_device-posix.h"
#include "platform/posix/key_source-posix.h"
#include "platform/posix/signals-posix.h"
#include "platform/posix/terminal_input-posix.h"
#include "platform/posix/terminal_modes-posix.h"

namespace kp::platform {

namespace {

bool containsUtf8(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if ((p[0] == 'U' || p[0] == 'u') && (p[1] == 'T' || p[1] == 't') &&
        (p[2] == 'F' || p[2] == 'f')) {
      return p[3] == '8' || (p[3] == '-' && p[4] == '8');
    }
  }
  return false;
}

// The character set the user's locale names (the first of LC_ALL, LC_CTYPE,
// LANG that is set), without changing the program's own C locale.
bool localeIsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return containsUtf8(value);
  }
  return false;
}

posix::TerminalDeviceOptions deviceOptions(posix::TerminalModes* modes,
                                           posix::TerminalInput* input) {
  posix::TerminalDeviceOptions options;
  options.term = std::getenv("TERM");
  options.utf8 = localeIsUtf8();
  // As no-color.org has it: present and not empty.
  const char* noColour = std::getenv("NO_COLOR");
  options.noColour = noColour != nullptr && noColour[0] != '\0';
  options.modes = modes;
  options.input = input;
  return options;
}

// The terminal on standard input and output, set up once and never torn down
// (exit actions may still use it after static destructors have run).
struct Terminal {
  Terminal()
      : modes(STDIN_FILENO),
        device(STDIN_FILENO, STDOUT_FILENO, deviceOptions(&modes, &input)),
        signals(&modes, &device),
        keys(STDIN_FILENO, {&modes, &input, &device, &signals, &registerExitAction}) {
    signals.install();
    // Registered first, so it runs last: after every other exit action.
    registerExitAction(&posix::TerminalDevice::finishAtExit, &device);
    registerExitAction(&Terminal::collectOwedReportsAtExit, this);
  }

  // Before the terminal's modes go back: a cursor report still owed to a
  // query that gave up is given a moment to come and is dropped, rather
  // than arriving after the program and being typed at the shell's prompt.
  static void collectOwedReportsAtExit(void* self) {
    constexpr int kWaitMs = 200;
    auto* terminal = static_cast<Terminal*>(self);
    if (terminal->modes.applied() && terminal->input.reportsOwed() > 0) {
      terminal->input.collectOwedReports(STDIN_FILENO, kWaitMs);
    }
  }

  posix::TerminalModes modes;
  posix::TerminalInput input;
  posix::TerminalDevice device;
  posix::SignalRouter signals;
  posix::PosixKeySource keys;
};

Terminal& terminal() {
  static Terminal* instance = new Terminal();
  return *instance;
}

}  // namespace

ConsoleDevice& consoleDevice() {
  return terminal().device;
}

KeyEventSource& keyEventSource() {
  return terminal().keys;
}

void setFloatingPointPrecision() {
  // Doubles are computed in SSE registers on x86-64 (and natively elsewhere),
  // always in 53-bit precision with rounding to nearest: nothing to set.
}

}  // namespace kp::platform
