#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "console/key_event_source.h"

namespace kp {

constexpr int32_t kAltF4Code = 0x6BFF;
constexpr int32_t kNoKey = -1;

// Key codes that arrived and have not been read, with the events they came from.
struct KeyBuffer {
  static constexpr int kSlots = 512;  // holds at most 511 codes
  struct Slot {
    int32_t code = 0;
    InputEvent event;
  };
  Slot slots[kSlots];
  int head = 0;  // oldest unread
  int tail = 0;  // next free
  std::atomic<bool> keyArrived{false};
  int32_t altKeypadCode = 0;
  bool handlerInstalled = false;
};

// The wait for a key and the keyboard input beneath it. One instance serves
// the program; tests create their own with a scripted source.
class KeyWait {
 public:
  explicit KeyWait(KeyEventSource& source) : source_(source) {}

  // -1: until a key arrives; 100 or more: at most that long, looking every
  // 50 ms; 0..99: sleep only; below -1: return at once.
  void waitForKey(int32_t milliseconds);

  // Polls, then reads and clears keyArrived in one atomic step.
  bool checkKeyArrived();
  // One look: installs the control handler the first time, then empties the
  // input queue into the buffer. Returns whether a mouse hook took an event.
  bool pollKeyEvents();
  void handleKeyEvent(const KeyEvent& event);
  int32_t translateKey(uint8_t character, uint16_t scanCode, uint16_t virtualKeyCode,
                       uint32_t controlKeyState);
  // Safe against a concurrent append from the control handler's thread.
  void appendKey(int32_t code, const KeyEvent& event);
  // Close, logoff and shutdown become Alt+F4 (true); the rest is declined.
  // Runs on a thread of the platform's; it takes appendLock_, so it must not
  // be called from a signal handler.
  bool consoleControlHandler(uint32_t controlType);
  // The code at head, or kNoKey. Without fullCode an extended code reads as
  // 255 and then its scan byte.
  int32_t readKey(bool fullCode, bool remove);

  const KeyBuffer& buffer() const { return buffer_; }

 private:
  static bool controlHandlerEntry(void* context, uint32_t controlType);
  static void removeHandlerAtExit(void* context);

  KeyEventSource& source_;
  KeyBuffer buffer_;
  // Guards the slots, head and tail: the control handler appends from
  // another thread. keyArrived is atomic and read without it.
  std::mutex appendLock_;
};

}  // namespace kp
