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

  bool checkKeyArrived();
  bool pollKeyEvents();
  void handleKeyEvent(const KeyEvent& event);
  int32_t translateKey(uint8_t character, uint16_t scanCode, uint16_t virtualKeyCode,
                       uint32_t controlKeyState);
  void appendKey(int32_t code, const KeyEvent& event);
  bool consoleControlHandler(uint32_t controlType);
  int32_t readKey(bool fullCode, bool remove);

  const KeyBuffer& buffer() const { return buffer_; }

 private:
  static bool controlHandlerEntry(void* context, uint32_t controlType);
  static void removeHandlerAtExit(void* context);

  KeyEventSource& source_;
  KeyBuffer buffer_;
  std::mutex appendLock_;  // the control handler appends from another thread
};

}  // namespace kp
