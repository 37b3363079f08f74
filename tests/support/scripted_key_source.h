#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "console/key_event_source.h"

namespace kp::test {

// A keyboard for tests: a script of input events, each becoming pending once
// a fake clock reaches its time. sleep() only advances the clock. Peeks and
// sleeps are logged with their clock times. The key maps are those of a US
// keyboard. The control handler slot may be fired from any thread.
class ScriptedKeySource : public KeyEventSource {
 public:
  // Event builders. Scan code and (unless given) character follow the US map.
  static InputEvent keyDown(uint16_t virtualKey, uint32_t state = 0, int character = -1);
  static InputEvent keyUp(uint16_t virtualKey, uint32_t state = 0, int character = -1);
  static InputEvent otherEvent(uint16_t eventType);

  // The event becomes pending once the clock reaches atMs.
  void addEvent(int atMs, const InputEvent& event);
  // A press (down with repeat count 1) and its release, both at atMs.
  void addKeyPress(int atMs, uint16_t virtualKey, uint32_t state = 0, int character = -1);

  int now() const { return now_; }
  const std::vector<int>& sleeps() const { return sleeps_; }
  const std::vector<int>& peekTimes() const { return peekTimes_; }
  // Script events not yet removed by readEvent.
  int unreadEvents() const { return static_cast<int>(script_.size() - next_); }

  void setPeekFails(bool fails) { peekFails_ = fails; }
  void setReadFails(bool fails) { readFails_ = fails; }
  int readCalls() const { return readCalls_; }

  // Called after each sleep with the clock already advanced.
  void onSleep(std::function<void(int nowMs)> hook) { sleepHook_ = std::move(hook); }

  // Control handler slot. fireControl calls the installed handler and
  // returns its answer; with none installed the platform's default would act,
  // which is reported as false.
  bool handlerInstalled() const;
  bool fireControl(uint32_t controlType);
  int handlerInstallCalls() const { return installCalls_; }
  int handlerRemoveCalls() const { return removeCalls_; }

  int exitActionCount() const { return static_cast<int>(exitActions_.size()); }
  // Runs the registered exit actions, last registered first, and forgets them.
  void runExitActions();

  // US keyboard maps, also usable without an instance.
  static uint32_t usMapVirtualKey(uint32_t code, uint32_t mapType);
  static int16_t usVkKeyScan(char character);

  bool peekEvent(InputEvent* event) override;
  bool readEvent(InputEvent* event) override;
  void sleep(int milliseconds) override;
  void setControlHandler(ControlHandler handler, void* context, bool install) override;
  uint32_t mapVirtualKey(uint32_t code, uint32_t mapType) override;
  int16_t vkKeyScan(char character) override;
  void registerExitAction(void (*action)(void*), void* context) override;

 private:
  struct Scripted {
    int atMs;
    InputEvent event;
  };
  bool nextPending() const;

  std::vector<Scripted> script_;
  size_t next_ = 0;
  int now_ = 0;
  std::vector<int> sleeps_;
  std::vector<int> peekTimes_;
  bool peekFails_ = false;
  bool readFails_ = false;
  int readCalls_ = 0;
  std::function<void(int)> sleepHook_;

  mutable std::mutex handlerLock_;
  ControlHandler handler_ = nullptr;
  void* handlerContext_ = nullptr;
  int installCalls_ = 0;
  int removeCalls_ = 0;

  std::vector<std::pair<void (*)(void*), void*>> exitActions_;
};

}  // namespace kp::test
