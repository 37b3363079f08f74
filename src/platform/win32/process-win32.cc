// Process-wide settings and the exit-time actions of the running program.

#include <float.h>

#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace kp::platform {

namespace {

// The actions registered for process exit, run last-registered-first by one
// runtime exit function, so that each action keeps its context.
class ExitActions {
 public:
  void add(void (*action)(void*), void* context) {
    if (!hooked_) {
      // Registered after this object was built, so the runtime calls it
      // before it destroys the list.
      hooked_ = true;
      std::atexit(&ExitActions::runAll);
    }
    entries_.push_back({action, context});
  }

  static ExitActions& instance() {
    static ExitActions actions;
    return actions;
  }

 private:
  struct Entry {
    void (*action)(void*);
    void* context;
  };

  static void runAll() {
    std::vector<Entry>& entries = instance().entries_;
    // One at a time from the back: an action that registers another still
    // sees it run.
    while (!entries.empty()) {
      Entry entry = entries.back();
      entries.pop_back();
      entry.action(entry.context);
    }
  }

  bool hooked_ = false;
  std::vector<Entry> entries_;
};

}  // namespace

void registerExitAction(void (*action)(void*), void* context) {
  if (action == nullptr) return;
  ExitActions::instance().add(action, context);
}

void setFloatingPointPrecision() {
  // The x87 unit computes doubles here; 64-bit precision with rounding to
  // nearest makes the halfway cases of fractional fields round to even.
  _controlfp(_PC_64 | _RC_NEAR, _MCW_PC | _MCW_RC);
}

}  // namespace kp::platform
