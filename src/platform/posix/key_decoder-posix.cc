#include "platform/posix/key_decoder-posix.h"

#include <array>

namespace kp::posix {
namespace {

constexpr unsigned char kEsc = 0x1B;

// Virtual-key codes this layer names.
enum Vk : uint8_t {
  VkBack = 0x08,
  VkTab = 0x09,
  VkClear = 0x0C,
  VkReturn = 0x0D,
  VkEscape = 0x1B,
  VkSpace = 0x20,
  VkPrior = 0x21,
  VkNext = 0x22,
  VkEnd = 0x23,
  VkHome = 0x24,
  VkLeft = 0x25,
  VkUp = 0x26,
  VkRight = 0x27,
  VkDown = 0x28,
  VkInsert = 0x2D,
  VkDelete = 0x2E,
  VkF1 = 0x70,
  VkOem1 = 0xBA,       // ; :
  VkOemPlus = 0xBB,    // = +
  VkOemComma = 0xBC,   // , <
  VkOemMinus = 0xBD,   // - _
  VkOemPeriod = 0xBE,  // . >
  VkOem2 = 0xBF,       // / ?
  VkOem3 = 0xC0,       // ` ~
  VkOem4 = 0xDB,       // [ {
  VkOem5 = 0xDC,       // \ |
  VkOem6 = 0xDD,       // ] }
  VkOem7 = 0xDE,       // ' "
};

struct VkInfo {
  uint8_t scan = 0;
  uint8_t character = 0;
};

constexpr std::array<VkInfo, 256> makeVkTable() {
  std::array<VkInfo, 256> t{};
  auto set = [&t](int vk, int scan, int ch) {
    t[vk] = {static_cast<uint8_t>(scan), static_cast<uint8_t>(ch)};
  };
  set(VkBack, 0x0E, 0x08);
  set(VkTab, 0x0F, 0x09);
  set(VkClear, 0x4C, 0);
  set(VkReturn, 0x1C, 0x0D);
  set(0x10, 0x2A, 0);  // Shift
  set(0x11, 0x1D, 0);  // Ctrl
  set(0x12, 0x38, 0);  // Alt
  set(0x14, 0x3A, 0);  // Caps Lock
  set(VkEscape, 0x01, 0x1B);
  set(VkSpace, 0x39, ' ');
  set(VkPrior, 0x49, 0);
  set(VkNext, 0x51, 0);
  set(VkEnd, 0x4F, 0);
  set(VkHome, 0x47, 0);
  set(VkLeft, 0x4B, 0);
  set(VkUp, 0x48, 0);
  set(VkRight, 0x4D, 0);
  set(VkDown, 0x50, 0);
  set(0x2C, 0x54, 0);  // Print Screen
  set(VkInsert, 0x52, 0);
  set(VkDelete, 0x53, 0);
  set('0', 0x0B, '0');
  for (int d = 1; d <= 9; ++d) set('0' + d, 0x01 + d, '0' + d);
  constexpr uint8_t letterScan[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                      0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                      0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  for (int i = 0; i < 26; ++i) set('A' + i, letterScan[i], 'A' + i);
  constexpr uint8_t padScan[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};
  for (int d = 0; d <= 9; ++d) set(0x60 + d, padScan[d], '0' + d);
  set(0x6A, 0x37, '*');
  set(0x6B, 0x4E, '+');
  set(0x6D, 0x4A, '-');
  set(0x6E, 0x53, '.');
  set(0x6F, 0x35, '/');
  for (int f = 0; f < 10; ++f) set(VkF1 + f, 0x3B + f, 0);
  set(VkF1 + 10, 0x57, 0);
  set(VkF1 + 11, 0x58, 0);
  set(0x90, 0x45, 0);  // Num Lock
  set(0x91, 0x46, 0);  // Scroll Lock
  set(0xA0, 0x2A, 0);  // left and right Shift, Ctrl, Alt
  set(0xA1, 0x36, 0);
  set(0xA2, 0x1D, 0);
  set(0xA3, 0x1D, 0);
  set(0xA4, 0x38, 0);
  set(0xA5, 0x38, 0);
  set(VkOem1, 0x27, ';');
  set(VkOemPlus, 0x0D, '=');
  set(VkOemComma, 0x33, ',');
  set(VkOemMinus, 0x0C, '-');
  set(VkOemPeriod, 0x34, '.');
  set(VkOem2, 0x35, '/');
  set(VkOem3, 0x29, '`');
  set(VkOem4, 0x1A, '[');
  set(VkOem5, 0x2B, '\\');
  set(VkOem6, 0x1B, ']');
  set(VkOem7, 0x28, '\'');
  set(0xE2, 0x56, '\\');  // the extra key of 102-key boards
  return t;
}

constexpr auto kVkTable = makeVkTable();

constexpr int16_t kShift = 0x100;
constexpr int16_t kCtrl = 0x200;

constexpr std::array<int16_t, 128> makeCharTable() {
  std::array<int16_t, 128> t{};
  for (auto& e : t) e = -1;
  // Control bytes are Ctrl with the letter (or symbol) key above them.
  t[0x00] = kCtrl | kShift | '2';  // Ctrl+@
  for (int c = 1; c <= 26; ++c) t[c] = kCtrl | ('A' + c - 1);
  t[0x08] = VkBack;
  t[0x09] = VkTab;
  t[0x0A] = kCtrl | VkReturn;
  t[0x0D] = VkReturn;
  t[0x1B] = VkEscape;
  t[0x1C] = kCtrl | VkOem5;
  t[0x1D] = kCtrl | VkOem6;
  t[0x1E] = kCtrl | kShift | '6';
  t[0x1F] = kCtrl | kShift | VkOemMinus;
  t[' '] = VkSpace;
  for (int d = 0; d <= 9; ++d) t['0' + d] = static_cast<int16_t>('0' + d);
  for (int i = 0; i < 26; ++i) {
    t['a' + i] = static_cast<int16_t>('A' + i);
    t['A' + i] = static_cast<int16_t>(kShift | ('A' + i));
  }
  const char* shiftedDigits = ")!@#$%^&*(";
  for (int d = 0; d <= 9; ++d) t[static_cast<unsigned char>(shiftedDigits[d])] = kShift | ('0' + d);
  struct Pair {
    char plain;
    char shifted;
    uint8_t vk;
  };
  constexpr Pair oem[] = {{';', ':', VkOem1},     {'=', '+', VkOemPlus},   {',', '<', VkOemComma},
                          {'-', '_', VkOemMinus}, {'.', '>', VkOemPeriod}, {'/', '?', VkOem2},
                          {'`', '~', VkOem3},     {'[', '{', VkOem4},      {'\\', '|', VkOem5},
                          {']', '}', VkOem6},     {'\'', '"', VkOem7}};
  for (const Pair& p : oem) {
    t[static_cast<unsigned char>(p.plain)] = p.vk;
    t[static_cast<unsigned char>(p.shifted)] = static_cast<int16_t>(kShift | p.vk);
  }
  t[0x7F] = kCtrl | VkBack;
  return t;
}

constexpr auto kCharTable = makeCharTable();

KeyEvent keyOf(uint16_t vk, uint8_t character, uint32_t state) {
  KeyEvent key;
  key.keyDown = 1;
  key.repeatCount = 1;
  key.virtualKeyCode = vk;
  key.virtualScanCode = kVkTable[vk & 0xFF].scan;
  key.character = character;
  key.controlKeyState = state;
  return key;
}

// The key that sends one byte.
KeyEvent characterKey(unsigned char byte) {
  // Terminals send DEL for Backspace and NUL for Ctrl+Space.
  if (byte == 0x7F) return keyOf(VkBack, 0x08, 0);
  if (byte == 0x00) return keyOf(VkSpace, ' ', LeftCtrlPressed);
  if (byte >= 0x80) return keyOf(0, byte, 0);  // no key of a US keyboard types it
  const int16_t scan = kCharTable[byte];
  uint32_t state = 0;
  if (scan & kShift) state |= ShiftPressed;
  if (scan & kCtrl) state |= LeftCtrlPressed;
  return keyOf(static_cast<uint16_t>(scan & 0xFF), byte, state);
}

// xterm's modifier parameter: 1 + (1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
uint32_t modifierState(int parameter) {
  if (parameter < 2) return 0;
  const int bits = parameter - 1;
  uint32_t state = 0;
  if (bits & 1) state |= ShiftPressed;
  if (bits & (2 | 8)) state |= LeftAltPressed;
  if (bits & 4) state |= LeftCtrlPressed;
  return state;
}

KeyEvent functionKey(int number, uint32_t state) {
  return keyOf(VkF1 + number - 1, 0, state);
}

KeyEvent enhancedKey(uint16_t vk, uint32_t state) {
  return keyOf(vk, 0, EnhancedKey | state);
}

// The key a sequence's final byte names (cursor keys, Home, End, F1-F4);
// false for one this layer does not know.
bool keyForFinal(unsigned char final, uint32_t state, KeyEvent* key) {
  switch (final) {
    case 'A':
      *key = enhancedKey(VkUp, state);
      return true;
    case 'B':
      *key = enhancedKey(VkDown, state);
      return true;
    case 'C':
      *key = enhancedKey(VkRight, state);
      return true;
    case 'D':
      *key = enhancedKey(VkLeft, state);
      return true;
    case 'H':
      *key = enhancedKey(VkHome, state);
      return true;
    case 'F':
      *key = enhancedKey(VkEnd, state);
      return true;
    case 'E':
      *key = keyOf(VkClear, 0, state);
      return true;  // keypad 5 without Num Lock
    case 'P':
      *key = functionKey(1, state);
      return true;
    case 'Q':
      *key = functionKey(2, state);
      return true;
    case 'R':
      *key = functionKey(3, state);
      return true;
    case 'S':
      *key = functionKey(4, state);
      return true;
    default:
      return false;
  }
}

// The VT220 "CSI n ~" keys.
bool keyForTilde(int number, uint32_t state, KeyEvent* key) {
  switch (number) {
    case 1:
    case 7:
      *key = enhancedKey(VkHome, state);
      return true;
    case 2:
      *key = enhancedKey(VkInsert, state);
      return true;
    case 3:
      *key = enhancedKey(VkDelete, state);
      return true;
    case 4:
    case 8:
      *key = enhancedKey(VkEnd, state);
      return true;
    case 5:
      *key = enhancedKey(VkPrior, state);
      return true;
    case 6:
      *key = enhancedKey(VkNext, state);
      return true;
    default:
      break;
  }
  if (number >= 11 && number <= 15) {
    *key = functionKey(number - 10, state);
    return true;
  }
  if (number >= 17 && number <= 21) {
    *key = functionKey(number - 11, state);
    return true;
  }
  if (number == 23 || number == 24) {
    *key = functionKey(number - 12, state);
    return true;
  }
  return false;
}

constexpr int kUnknown = -1;

// Parses "ESC [" or "ESC O" sequences. Returns the bytes taken, 0 when the
// bytes end before the sequence does, kUnknown for one that is malformed or
// names no key.
int parseSequence(const unsigned char* bytes, size_t count, KeyEvent* key) {
  const bool csi = bytes[1] == '[';
  size_t i = 2;
  if (csi && count > 2 && bytes[2] == '[') {
    // The Linux console's F1-F5: ESC [ [ A..E.
    if (count < 4) return 0;
    if (bytes[3] < 'A' || bytes[3] > 'E') return kUnknown;
    *key = functionKey(bytes[3] - 'A' + 1, 0);
    return 4;
  }
  int parameters[3] = {0, 0, 0};
  int given = 0;
  bool plainParameters = true;  // digits and ';' only
  for (; i < count && bytes[i] >= 0x30 && bytes[i] <= 0x3F; ++i) {
    const unsigned char c = bytes[i];
    if (c >= '0' && c <= '9') {
      if (given == 0) given = 1;
      int& p = parameters[given - 1];
      if (p < 10000) p = p * 10 + (c - '0');
    } else if (c == ';') {
      if (given == 0) given = 1;
      if (given == 3)
        plainParameters = false;
      else
        ++given;
    } else {
      plainParameters = false;
    }
  }
  for (; i < count && bytes[i] >= 0x20 && bytes[i] <= 0x2F; ++i) plainParameters = false;
  if (i >= kMaxSequence) return kUnknown;
  if (i == count) return 0;
  const unsigned char final = bytes[i];
  if (final < 0x40 || final > 0x7E || !plainParameters) return kUnknown;
  const int taken = static_cast<int>(i + 1);

  if (csi && final == '~') {
    const uint32_t state = modifierState(given >= 2 ? parameters[1] : 1);
    return keyForTilde(parameters[0], state, key) ? taken : kUnknown;
  }
  if (csi && final == 'Z') {  // back tab
    *key = keyOf(VkTab, 0x09, ShiftPressed);
    return given > 0 ? kUnknown : taken;
  }
  if (!csi && final == 'M') {  // keypad Enter in application mode
    *key =
        keyOf(VkReturn, 0x0D, EnhancedKey | modifierState(given >= 1 ? parameters[given - 1] : 1));
    return taken;
  }
  // CSI 1;m A and SS3 A, or old forms with the modifier alone: SS3 m P.
  int modifier = 1;
  if (given >= 2)
    modifier = parameters[1];
  else if (!csi && given == 1)
    modifier = parameters[0];
  else if (csi && given == 1 && parameters[0] != 1)
    return kUnknown;
  return keyForFinal(final, modifierState(modifier), key) ? taken : kUnknown;
}

}  // namespace

uint32_t usMapVirtualKey(uint32_t code, uint32_t mapType) {
  if (code > 0xFF) return 0;
  switch (mapType) {
    case 0:
      return kVkTable[code].scan;
    case 2:
      return kVkTable[code].character;
    default:
      return 0;
  }
}

int16_t usVkKeyScan(char character) {
  const auto byte = static_cast<unsigned char>(character);
  return byte < 0x80 ? kCharTable[byte] : static_cast<int16_t>(-1);
}

size_t decodeKey(const unsigned char* bytes, size_t count, bool final, KeyEvent* key) {
  if (count == 0) return 0;
  if (bytes[0] != kEsc) {
    *key = characterKey(bytes[0]);
    return 1;
  }
  if (count == 1) {
    if (!final) return 0;
    *key = characterKey(kEsc);
    return 1;
  }
  const unsigned char next = bytes[1];
  if (next == '[' || next == 'O') {
    const int taken = parseSequence(bytes, count, key);
    if (taken > 0) return static_cast<size_t>(taken);
    if (taken == 0 && !final) return 0;
    if (taken == 0 && count == 2) {
      // ESC [ with nothing after it: the user typed Alt+[.
      *key = characterKey(next);
      key->controlKeyState |= LeftAltPressed;
      return 2;
    }
    // Unknown or cut off: the ESC is the Esc key, the rest come as characters.
    *key = characterKey(kEsc);
    return 1;
  }
  if (next == kEsc) {
    *key = characterKey(kEsc);
    return 1;
  }
  *key = characterKey(next);
  key->controlKeyState |= LeftAltPressed;
  return 2;
}

}  // namespace kp::posix
