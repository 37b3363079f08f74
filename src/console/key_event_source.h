#pragma once

#include <cstdint>

namespace kp {

// Control-key state bits of a key event.
enum ControlKeyState : uint32_t {
  RightAltPressed = 0x0001,
  LeftAltPressed = 0x0002,
  RightCtrlPressed = 0x0004,
  LeftCtrlPressed = 0x0008,
  ShiftPressed = 0x0010,
  NumLockOn = 0x0020,
  ScrollLockOn = 0x0040,
  CapsLockOn = 0x0080,
  EnhancedKey = 0x0100,
};

// The console's key event record.
struct KeyEvent {
  int32_t keyDown = 0;
  uint16_t repeatCount = 0;
  uint16_t virtualKeyCode = 0;
  uint16_t virtualScanCode = 0;
  uint8_t character = 0;  // in the console's input code page
  uint32_t controlKeyState = 0;
};

enum InputEventType : uint16_t {
  KeyEventType = 0x0001,
  MouseEventType = 0x0002,
  WindowBufferSizeEventType = 0x0004,
  MenuEventType = 0x0008,
  FocusEventType = 0x0010,
};

struct InputEvent {
  uint16_t eventType = 0;
  KeyEvent key;  // meaningful for KeyEventType only
};

// Control events the system reports to a console control handler.
enum ControlType : uint32_t {
  CtrlCEvent = 0,
  CtrlBreakEvent = 1,
  CtrlCloseEvent = 2,
  CtrlLogoffEvent = 5,
  CtrlShutdownEvent = 6,
};

// Called by the platform, possibly on another thread, with a control type;
// returns true when it handled the event.
using ControlHandler = bool (*)(void* context, uint32_t controlType);

// The keyboard operations the key wait needs. The Windows console implements
// them with kernel32 and user32, a terminal by decoding its input bytes, and
// tests with a script and a fake clock.
class KeyEventSource {
 public:
  virtual ~KeyEventSource() = default;

  // Looks at the console input queue for one event without removing it.
  // False when the look failed or nothing is pending.
  virtual bool peekEvent(InputEvent* event) = 0;
  // Removes the event peekEvent saw. False when that failed.
  virtual bool readEvent(InputEvent* event) = 0;

  virtual void sleep(int milliseconds) = 0;

  // Installs (install true) or removes the control handler. Close, logoff and
  // shutdown reach it; Ctrl+C and Ctrl+Break are left to the platform.
  virtual void setControlHandler(ControlHandler handler, void* context, bool install) = 0;

  // MapVirtualKey: type 0 virtual-key code to scan code, type 2 to character.
  virtual uint32_t mapVirtualKey(uint32_t code, uint32_t mapType) = 0;
  // VkKeyScan: low byte virtual-key code, high byte bit 0 Shift, 1 Ctrl, 2 Alt;
  // -1 when no key gives the character.
  virtual int16_t vkKeyScan(char character) = 0;

  // Registers an action to run at process exit (in reverse order of registration).
  virtual void registerExitAction(void (*action)(void*), void* context) = 0;
};

}  // namespace kp
