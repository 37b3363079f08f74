#include "platform/exit_actions.h"

#include <cstdlib>

#include "platform/platform.h"

namespace kp::platform {

bool ExitActions::push(Action action, void* context) {
  if (action == nullptr || count_ == kCapacity) return false;
  entries_[count_++] = {action, context};
  return true;
}

void ExitActions::runAll() {
  // Pop before calling, so an action that registers another cannot make the
  // loop run an entry twice.
  while (count_ > 0) {
    const Entry entry = entries_[--count_];
    entry.action(entry.context);
  }
}

ExitActions& processExitActions() {
  // Never destroyed: the trampoline may run after static destructors.
  static ExitActions* actions = new ExitActions();
  return *actions;
}

namespace {

void runProcessExitActions() {
  processExitActions().runAll();
}

}  // namespace

void registerExitAction(void (*action)(void*), void* context) {
  static const bool hooked = std::atexit(&runProcessExitActions) == 0;
  (void)hooked;
  processExitActions().push(action, context);
}

}  // namespace kp::platform
