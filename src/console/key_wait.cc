#include "console/key_wait.h"

#include <cctype>

#include "console/key_tables.h"

namespace kp {

namespace {

constexpr int kLookInterval = 50;  // ms between looks at the input queue

constexpr uint16_t kVkNumpad0 = 0x60;
constexpr uint16_t kVkNumpad9 = 0x69;
constexpr uint16_t kVkF4 = 0x73;

constexpr uint32_t kMapVkToScan = 0;
constexpr uint32_t kMapVkToChar = 2;

constexpr uint32_t kAltKeys = RightAltPressed | LeftAltPressed;
constexpr uint32_t kCtrlKeys = RightCtrlPressed | LeftCtrlPressed;

// An entry above 255 becomes the extended code: scan byte high, 255 low.
int32_t extendedCode(uint16_t entry) {
  return (entry & 0xFF00) + 0xFF;
}

int32_t characterOrNone(uint8_t character) {
  return character != 0 ? character : kNoKey;
}

// The case-swapped form of a key's own character. Only byte values go to
// <cctype>; anything wider is left as it is.
uint32_t swapCase(uint32_t own) {
  if (own > 0xFF) return own;
  const unsigned char c = static_cast<unsigned char>(own);
  if (std::isupper(c)) return static_cast<unsigned char>(std::tolower(c));
  if (std::islower(c)) return static_cast<unsigned char>(std::toupper(c));
  return own;
}

}  // namespace

void KeyWait::waitForKey(int32_t milliseconds) {
  if (milliseconds < -1) return;
  if (milliseconds == -1) {
    for (;;) {
      if (checkKeyArrived()) return;
      source_.sleep(kLookInterval);
    }
  }
  if (milliseconds < 100) {
    source_.sleep(milliseconds);
    return;
  }
  int32_t remaining = milliseconds;
  do {
    if (checkKeyArrived()) return;
    source_.sleep(kLookInterval);
    remaining -= kLookInterval;
  } while (remaining > kLookInterval);
  // The last stretch (1 to 50 ms) is slept without a further look.
  source_.sleep(remaining);
}

bool KeyWait::checkKeyArrived() {
  pollKeyEvents();
  // One atomic step: a key the control handler appends between the poll and
  // this exchange stays signalled for the next look instead of being lost.
  return buffer_.keyArrived.exchange(false);
}

bool KeyWait::pollKeyEvents() {
  if (!buffer_.handlerInstalled) {
    buffer_.handlerInstalled = true;
    source_.registerExitAction(&KeyWait::removeHandlerAtExit, this);
    source_.setControlHandler(&KeyWait::controlHandlerEntry, this, true);
  }
  InputEvent event;
  while (source_.peekEvent(&event)) {
    // A failed removal ends this look: trying again would find the same
    // event and spin on it.
    if (!source_.readEvent(&event)) break;
    if (event.eventType != KeyEventType) continue;  // mouse, size, menu, focus
    if (event.key.keyDown != 0 && event.key.repeatCount == 0) continue;
    handleKeyEvent(event.key);
  }
  return false;  // no mouse hook is ever installed
}

void KeyWait::handleKeyEvent(const KeyEvent& event) {
  const uint32_t state = event.controlKeyState;
  const int32_t code = event.keyDown != 0 ? translateKey(event.character, event.virtualScanCode,
                                                         event.virtualKeyCode, state)
                                          : kNoKey;
  const bool altOnly = (state & kAltKeys) != 0 && (state & (kCtrlKeys | ShiftPressed)) == 0;

  if (event.virtualKeyCode >= kVkNumpad0 && event.virtualKeyCode <= kVkNumpad9 && altOnly) {
    if (event.keyDown != 0) {
      // Unsigned, so that a long run of digits wraps instead of overflowing;
      // only the low byte is ever used.
      const uint32_t digit = event.virtualKeyCode - kVkNumpad0;
      buffer_.altKeypadCode =
          static_cast<int32_t>(static_cast<uint32_t>(buffer_.altKeypadCode) * 10u + digit);
    }
    if (code != kNoKey) appendKey(code, event);
    return;
  }
  if (code != kNoKey) {
    buffer_.altKeypadCode = 0;
    appendKey(code, event);
    return;
  }
  if (altOnly || buffer_.altKeypadCode == 0) return;

  // Alt is no longer held alone: the digits typed with it name a character.
  const uint8_t character = static_cast<uint8_t>(buffer_.altKeypadCode & 0xFF);
  const int16_t scan = source_.vkKeyScan(static_cast<char>(character));
  const uint16_t shifts = (static_cast<uint16_t>(scan) >> 8) & 0xFF;
  KeyEvent composed;
  composed.character = character;
  composed.virtualKeyCode = static_cast<uint16_t>(scan) & 0xFF;
  composed.virtualScanCode =
      static_cast<uint16_t>(source_.mapVirtualKey(composed.virtualKeyCode, kMapVkToScan));
  composed.controlKeyState = ((shifts & 1) ? uint32_t{ShiftPressed} : 0u) |
                             ((shifts & 2) ? uint32_t{LeftCtrlPressed} : 0u) |
                             ((shifts & 4) ? uint32_t{LeftAltPressed} : 0u);
  appendKey(character, composed);
  buffer_.altKeypadCode = 0;
}

int32_t KeyWait::translateKey(uint8_t character, uint16_t scanCode, uint16_t virtualKeyCode,
                              uint32_t controlKeyState) {
  const bool alt = (controlKeyState & kAltKeys) != 0;
  const bool ctrl = (controlKeyState & kCtrlKeys) != 0;
  const bool shift = (controlKeyState & ShiftPressed) != 0;
  const int column = alt ? AltColumn : ctrl ? CtrlColumn : shift ? ShiftColumn : PlainColumn;

  if ((controlKeyState & EnhancedKey) != 0 && character == 0) {
    const EnhancedKeyRow* row = findEnhancedKey(scanCode);
    if (row == nullptr) return kNoKey;
    const uint16_t entry = row->entries[column];
    if (entry == 0) return kNoKey;
    return entry <= kLastCharacterEntry ? entry : extendedCode(entry);
  }
  if (scanCode >= kPlainKeyRows) return characterOrNone(character);

  const uint32_t own = source_.mapVirtualKey(virtualKeyCode, kMapVkToChar) & 0xFFFF;
  const uint32_t swapped = swapCase(own);
  uint32_t entry = plainKeyTable[scanCode][column];
  if (column == PlainColumn && character != 0) entry = own;

  if (entry <= kLastCharacterEntry) return characterOrNone(character);
  // A modified key counts as the extended key only while it still carries
  // its own character (either case); a layout's other characters stay.
  if (character == own || character == swapped) return extendedCode(static_cast<uint16_t>(entry));
  return characterOrNone(character);
}

void KeyWait::appendKey(int32_t code, const KeyEvent& event) {
  std::lock_guard<std::mutex> lock(appendLock_);
  KeyBuffer::Slot& slot = buffer_.slots[buffer_.tail];
  slot.code = code;
  slot.event.eventType = KeyEventType;
  slot.event.key = event;
  buffer_.tail = (buffer_.tail + 1) % KeyBuffer::kSlots;
  if (buffer_.tail == buffer_.head) {
    buffer_.head = (buffer_.tail + 1) % KeyBuffer::kSlots;  // full: the oldest code goes
  }
  // Set only once the slot is complete, so a look that sees the flag finds the code.
  buffer_.keyArrived.store(true);
}

bool KeyWait::consoleControlHandler(uint32_t controlType) {
  switch (controlType) {
    case CtrlCloseEvent:
    case CtrlLogoffEvent:
    case CtrlShutdownEvent: {
      KeyEvent altF4;
      altF4.virtualKeyCode = kVkF4;
      altF4.virtualScanCode = static_cast<uint16_t>(source_.mapVirtualKey(kVkF4, kMapVkToScan));
      altF4.controlKeyState = LeftAltPressed;
      appendKey(kAltF4Code, altF4);
      return true;
    }
    default:
      return false;  // Ctrl+C, Ctrl+Break and the rest go to the platform's default
  }
}

int32_t KeyWait::readKey(bool fullCode, bool remove) {
  pollKeyEvents();
  int32_t code;
  {
    std::lock_guard<std::mutex> lock(appendLock_);
    if (buffer_.head == buffer_.tail) return kNoKey;
    KeyBuffer::Slot& slot = buffer_.slots[buffer_.head];
    code = slot.code;
    if (code > 0xFF && !fullCode) {
      // Two-byte read: 255 now, the scan byte at the next read. The slot
      // stays at head even when removing, or the scan byte would be lost.
      slot.code = code / 256;
      return 0xFF;
    }
    if (!remove) return code;
    buffer_.head = (buffer_.head + 1) % KeyBuffer::kSlots;
  }
  checkKeyArrived();  // outside the lock: it polls, and a poll may append
  return code;
}

bool KeyWait::controlHandlerEntry(void* context, uint32_t controlType) {
  return static_cast<KeyWait*>(context)->consoleControlHandler(controlType);
}

void KeyWait::removeHandlerAtExit(void* context) {
  KeyWait* self = static_cast<KeyWait*>(context);
  self->source_.setControlHandler(&KeyWait::controlHandlerEntry, self, false);
}

}  // namespace kp
