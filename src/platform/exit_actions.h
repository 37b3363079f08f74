#pragma once

#include <cstddef>

namespace kp::platform {

// A stack of (function, context) pairs run in reverse order of registration.
// The process has one, run by a single atexit trampoline on every platform;
// tests make their own.
class ExitActions {
 public:
  using Action = void (*)(void*);
  static constexpr size_t kCapacity = 32;

  // False when the stack is full (the action will not run).
  bool push(Action action, void* context);

  // Runs every action once, the latest first. Actions pushed while running
  // are run too, before the older ones.
  void runAll();

  size_t size() const { return count_; }

 private:
  struct Entry {
    Action action;
    void* context;
  };
  Entry entries_[kCapacity] = {};
  size_t count_ = 0;
};

// The process's stack; its trampoline is registered with std::atexit at the
// first registration (platform::registerExitAction).
ExitActions& processExitActions();

}  // namespace kp::platform
