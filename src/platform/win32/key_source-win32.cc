// The keyboard behind the key wait: the console's input queue, or, when
// standard input is a file or pipe, its bytes taken as key presses.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "console/key_event_source.h"
#include "platform/platform.h"
#include "platform/win32/signals-win32.h"

namespace kp::platform {

namespace {

class Win32KeyEventSource final : public KeyEventSource {
 public:
  Win32KeyEventSource() = default;

  bool peekEvent(InputEvent* event) override {
    takeInput();
    if (kind_ == InputKind::Console) {
      INPUT_RECORD record;
      DWORD count = 0;
      if (!PeekConsoleInputA(input_, &record, 1, &count) || count == 0) return false;
      convert(record, event);
      return true;
    }
    if (!havePending_ && !takeByte()) return false;
    *event = pending_;
    return true;
  }

  bool readEvent(InputEvent* event) override {
    takeInput();
    if (kind_ == InputKind::Console) {
      INPUT_RECORD record;
      DWORD count = 0;
      if (!ReadConsoleInputA(input_, &record, 1, &count) || count == 0) return false;
      convert(record, event);
      return true;
    }
    if (!havePending_) return false;
    *event = pending_;
    havePending_ = false;
    return true;
  }

  void sleep(int milliseconds) override { Sleep(milliseconds < 0 ? 0 : milliseconds); }

  void setControlHandler(ControlHandler handler, void* context, bool install) override {
    ControlEvents::route(handler, context, install);
    if (install && inputEnded_) reportEnd();  // the end came before the handler
  }

  uint32_t mapVirtualKey(uint32_t code, uint32_t mapType) override {
    return MapVirtualKeyA(code, mapType);
  }

  int16_t vkKeyScan(char character) override { return VkKeyScanA(character); }

  void registerExitAction(void (*action)(void*), void* context) override {
    platform::registerExitAction(action, context);
  }

 private:
  enum class InputKind { Unknown, Console, Pipe, Stream };

  // The end of a file or pipe plays the part of closing the console window.
  void reportEnd() {
    if (endReported_) return;
    endReported_ = ControlEvents::raise(CTRL_CLOSE_EVENT);
  }

  void takeInput() {
    if (kind_ != InputKind::Unknown) return;
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input_ != nullptr && input_ != INVALID_HANDLE_VALUE && GetConsoleMode(input_, &mode)) {
      kind_ = InputKind::Console;
    } else if (input_ != nullptr && input_ != INVALID_HANDLE_VALUE &&
               GetFileType(input_) == FILE_TYPE_PIPE) {
      kind_ = InputKind::Pipe;
    } else {
      kind_ = InputKind::Stream;
    }
  }

  // Takes one byte of a non-console standard input without blocking and
  // turns it into a key press; false when none is there yet or the input
  // has ended (which is reported once).
  bool takeByte() {
    if (inputEnded_) return false;
    if (input_ == nullptr || input_ == INVALID_HANDLE_VALUE) return endOfInput();
    if (kind_ == InputKind::Pipe) {
      DWORD available = 0;
      if (!PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr)) return endOfInput();
      if (available == 0) return false;
    }
    unsigned char byte = 0;
    DWORD count = 0;
    if (!ReadFile(input_, &byte, 1, &count, nullptr) || count == 0) return endOfInput();
    pending_ = keyPressFor(byte);
    havePending_ = true;
    return true;
  }

  bool endOfInput() {
    inputEnded_ = true;
    reportEnd();
    return false;
  }

  // A byte as the key press that would type it on this keyboard layout.
  InputEvent keyPressFor(unsigned char byte) {
    InputEvent event;
    event.eventType = KeyEventType;
    event.key.keyDown = 1;
    event.key.repeatCount = 1;
    event.key.character = byte;
    SHORT scan = VkKeyScanA(static_cast<char>(byte));
    if (scan != -1) {
      event.key.virtualKeyCode = static_cast<uint16_t>(scan & 0xFF);
      event.key.virtualScanCode = static_cast<uint16_t>(MapVirtualKeyA(scan & 0xFF, 0));
      uint32_t state = 0;
      if (scan & 0x100) state |= ShiftPressed;
      if (scan & 0x200) state |= LeftCtrlPressed;
      if (scan & 0x400) state |= LeftAltPressed;
      event.key.controlKeyState = state;
    }
    return event;
  }

  static void convert(const INPUT_RECORD& record, InputEvent* event) {
    *event = InputEvent();
    event->eventType = record.EventType;
    if (record.EventType != KEY_EVENT) return;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    event->key.keyDown = key.bKeyDown;
    event->key.repeatCount = key.wRepeatCount;
    event->key.virtualKeyCode = key.wVirtualKeyCode;
    event->key.virtualScanCode = key.wVirtualScanCode;
    event->key.character = static_cast<uint8_t>(key.uChar.AsciiChar);
    event->key.controlKeyState = key.dwControlKeyState;
  }

  InputKind kind_ = InputKind::Unknown;
  HANDLE input_ = nullptr;
  bool havePending_ = false;
  InputEvent pending_;
  bool inputEnded_ = false;
  bool endReported_ = false;
};

}  // namespace

KeyEventSource& keyEventSource() {
  static Win32KeyEventSource source;
  return source;
}

}  // namespace kp::platform
