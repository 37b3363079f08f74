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
  // rxvt's Shift+F3 to Shift+F10.
  constexpr int kShiftedF3To10[] = {25, 26, 28, 29, 31, 32, 33, 34};
  for (int f = 0; f < 8; ++f) {
    if (number == kShiftedF3To10[f]) {
      *key = functionKey(f + 3, state | ShiftPressed);
      return true;
    }
  }
  return false;
}

KeyEvent withState(KeyEvent key, uint32_t state) {
  key.controlKeyState |= state;
  return key;
}

// The keypad in application mode: SS3 p..y are the digits, j..o and X the
// operators, Enter is SS3 M (handled with the cursor keys' forms).
bool keypadKey(unsigned char final, uint32_t state, KeyEvent* key) {
  if (final >= 'p' && final <= 'y') {
    const int digit = final - 'p';
    *key = keyOf(static_cast<uint16_t>(0x60 + digit), static_cast<uint8_t>('0' + digit), state);
    return true;
  }
  switch (final) {
    case 'j':
      *key = keyOf(0x6A, '*', state);
      return true;
    case 'k':
      *key = keyOf(0x6B, '+', state);
      return true;
    case 'm':
      *key = keyOf(0x6D, '-', state);
      return true;
    case 'n':
      *key = keyOf(0x6E, '.', state);
      return true;
    case 'o':
      *key = keyOf(0x6F, '/', EnhancedKey | state);
      return true;
    case 'l':
      *key = withState(characterKey(','), state);
      return true;
    case 'X':
      *key = withState(characterKey('='), state);
      return true;
    default:
      return false;
  }
}

// A key reported by its character code, as terminals do when a program has
// asked them for every key with its modifiers (CSI 27;m;c~, CSI c;m u).
KeyEvent codedKey(int code, int modifier) {
  // A character beyond the console's 8-bit code page is still a key press.
  const unsigned char byte = code >= 0 && code <= 0xFF ? static_cast<unsigned char>(code) : '?';
  KeyEvent key = withState(characterKey(byte), modifierState(modifier));
  // With Ctrl a letter types its control character, as on the console.
  if ((key.controlKeyState & LeftCtrlPressed) != 0 &&
      ((byte >= 0x40 && byte < 0x60) || (byte >= 'a' && byte <= 'z'))) {
    key.character = byte & 0x1F;
  }
  return key;
}

DecodedInput itemOf(size_t taken, InputKind kind) {
  DecodedInput item;
  item.taken = taken;
  item.kind = kind;
  return item;
}

DecodedInput keyTaking(size_t taken) {
  return itemOf(taken, InputKind::Key);
}

DecodedInput notAKey(size_t taken) {
  return itemOf(taken, InputKind::NotAKey);
}

constexpr DecodedInput kIncomplete{};

// ESC and a byte that starts nothing longer: the byte's key with Alt.
DecodedInput altKey(unsigned char byte, KeyEvent* key) {
  *key = withState(characterKey(byte), LeftAltPressed);
  return keyTaking(2);
}

bool isFinalByte(unsigned char c) {
  return c >= 0x40 && c <= 0x7E;
}

// "ESC [ M" and three values: a byte each (X10), or one or two bytes each
// when the terminal sends large ones as UTF-8. Both forms hold only bytes
// from 0x20 up, so the UTF-8 reading is taken when it finds three such
// values, the three plain bytes otherwise.
DecodedInput parseOldMouse(const unsigned char* bytes, size_t count, bool final) {
  constexpr size_t kPlainEnd = 6;
  size_t at = 3;
  int values = 0;
  bool needMore = false;
  while (values < 3) {
    if (at >= count) {
      needMore = true;
      break;
    }
    const unsigned char b = bytes[at];
    if (b < 0x20) break;
    if (b >= 0xC2 && b <= 0xDF) {
      if (at + 1 >= count) {
        needMore = true;
        break;
      }
      if ((bytes[at + 1] & 0xC0) == 0x80) {
        at += 2;
        ++values;
        continue;
      }
    }
    ++at;
    ++values;
  }
  if (values == 3) return notAKey(at);
  if (needMore && !final) return kIncomplete;
  if (!needMore && at < kPlainEnd) return notAKey(at);  // cut off by a control byte
  if (count >= kPlainEnd) return notAKey(kPlainEnd);
  return notAKey(count);  // cut off by the end of the input
}

// "ESC P" (device control), "ESC ]" (operating system command) or "ESC _"
// and a body ended by BEL or "ESC \": how terminals answer queries for
// attributes, versions and colours. Without that end in reach the two bytes
// were typed: Alt with the second one.
DecodedInput parseString(const unsigned char* bytes, size_t count, bool final, KeyEvent* key) {
  for (size_t i = 2; i < count && i < kMaxSequence; ++i) {
    if (bytes[i] == 0x07) return notAKey(i + 1);
    if (bytes[i] != kEsc) continue;
    if (i + 1 >= kMaxSequence) break;
    if (i + 1 == count) return final ? altKey(bytes[1], key) : kIncomplete;
    if (bytes[i + 1] == '\\') return notAKey(i + 2);
    return altKey(bytes[1], key);  // ESC starting something else
  }
  // No end yet: wait for it while it can still come within reach.
  if (count < kMaxSequence && !final) return kIncomplete;
  return altKey(bytes[1], key);
}

// "ESC [" (CSI) or "ESC O" (SS3) sequences, by their grammar: parameter
// bytes 0x30-0x3F, intermediate bytes 0x20-0x2F, one final byte 0x40-0x7E.
DecodedInput parseSequence(const unsigned char* bytes, size_t count, bool final, KeyEvent* key) {
  const bool csi = bytes[1] == '[';
  if (count == 2) return final ? altKey(bytes[1], key) : kIncomplete;
  if (csi && bytes[2] == '[') {
    // The Linux console's F1-F5: ESC [ [ A..E.
    if (count == 3) return final ? notAKey(3) : kIncomplete;
    if (bytes[3] >= 'A' && bytes[3] <= 'E') {
      *key = functionKey(bytes[3] - 'A' + 1, 0);
      return keyTaking(4);
    }
    return notAKey(isFinalByte(bytes[3]) ? 4 : 3);
  }
  if (csi && bytes[2] == 'M') return parseOldMouse(bytes, count, final);

  int parameters[3] = {0, 0, 0};
  int given = 0;
  bool plain = true;  // digits and ';' only, at most three numbers
  size_t i = 2;
  for (; i < count && i < kMaxSequence && bytes[i] >= 0x30 && bytes[i] <= 0x3F; ++i) {
    const unsigned char c = bytes[i];
    if (c >= '0' && c <= '9') {
      if (given == 0) given = 1;
      int& p = parameters[given - 1];
      if (p < 10000) p = p * 10 + (c - '0');
    } else if (c == ';') {
      if (given == 0) given = 1;
      if (given == 3)
        plain = false;
      else
        ++given;
    } else {
      plain = false;  // private markers < = > ? and ':' sub-parameters
    }
  }
  size_t intermediates = 0;
  for (; i < count && i < kMaxSequence && bytes[i] >= 0x20 && bytes[i] <= 0x2F; ++i) {
    ++intermediates;
  }
  if (i >= kMaxSequence) return notAKey(kMaxSequence);
  // rxvt's shifted editing keys end in '$', elsewhere an intermediate byte.
  if (csi && plain && given == 1 && intermediates == 1 && bytes[i - 1] == '$' &&
      (i == count ? final : !isFinalByte(bytes[i])) &&
      keyForTilde(parameters[0], ShiftPressed, key)) {
    return keyTaking(i);
  }
  if (i == count) return final ? notAKey(count) : kIncomplete;
  const unsigned char last = bytes[i];
  // A byte that does not belong ends the sequence before it.
  if (!isFinalByte(last)) return notAKey(i);
  const size_t taken = i + 1;
  if (!plain || intermediates > 0) return notAKey(taken);

  if (csi) {
    switch (last) {
      case '~':
        if (given == 3 && parameters[0] == 27) {
          *key = codedKey(parameters[2], parameters[1]);
          return keyTaking(taken);
        }
        if (given <= 2 &&
            keyForTilde(parameters[0], modifierState(given >= 2 ? parameters[1] : 1), key)) {
          return keyTaking(taken);
        }
        return notAKey(taken);  // the paste markers 200~ and 201~ among them
      case '^':                 // rxvt: with Ctrl
      case '@':                 // rxvt: with Ctrl and Shift
        if (given == 1 &&
            keyForTilde(parameters[0],
                        last == '@' ? LeftCtrlPressed | ShiftPressed : LeftCtrlPressed, key)) {
          return keyTaking(taken);
        }
        return notAKey(taken);
      case 'u':
        if (given == 1 || given == 2) {
          *key = codedKey(parameters[0], given == 2 ? parameters[1] : 1);
          return keyTaking(taken);
        }
        return notAKey(taken);
      case 'R':
        // Also xterm's Shift/Ctrl/Alt+F3 (CSI 1;m R), the same bytes as a
        // cursor report from the top row: the input decides which it is.
        if (given == 2) {
          DecodedInput report = itemOf(taken, InputKind::CursorReport);
          report.row = parameters[0];
          report.column = parameters[1];
          report.alsoKey = parameters[0] == 1 && parameters[1] >= 2 && parameters[1] <= 16;
          if (report.alsoKey) *key = functionKey(3, modifierState(parameters[1]));
          return report;
        }
        break;
      case 'Z':  // back tab
        if (given != 0) return notAKey(taken);
        *key = keyOf(VkTab, 0x09, ShiftPressed);
        return keyTaking(taken);
      case 'G':  // keypad 5 on the Linux console
        if (given != 0) return notAKey(taken);
        *key = keyOf(VkClear, 0, 0);
        return keyTaking(taken);
      case 'a':  // rxvt: Shift with the cursor keys
      case 'b':
      case 'c':
      case 'd':
        if (given != 0) return notAKey(taken);
        keyForFinal(static_cast<unsigned char>(last - 'a' + 'A'), ShiftPressed, key);
        return keyTaking(taken);
      default:
        break;
    }
  } else {
    const uint32_t state = modifierState(given >= 1 ? parameters[given - 1] : 1);
    if (last == 'M') {  // keypad Enter in application mode
      *key = keyOf(VkReturn, 0x0D, EnhancedKey | state);
      return keyTaking(taken);
    }
    if (keypadKey(last, state, key)) return keyTaking(taken);
    if (last >= 'a' && last <= 'd') {  // rxvt: Ctrl with the cursor keys
      keyForFinal(static_cast<unsigned char>(last - 'a' + 'A'), LeftCtrlPressed, key);
      return keyTaking(taken);
    }
  }
  // CSI 1;m A and SS3 A, or old forms with the modifier alone: SS3 m P.
  int modifier = 1;
  if (given == 2)
    modifier = parameters[1];
  else if (!csi && given == 1)
    modifier = parameters[0];
  else if (given == 3 || (csi && given == 1 && parameters[0] != 1))
    return notAKey(taken);
  return keyForFinal(last, modifierState(modifier), key) ? keyTaking(taken) : notAKey(taken);
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

DecodedInput decodeInput(const unsigned char* bytes, size_t count, bool final, KeyEvent* key) {
  if (count == 0) return kIncomplete;
  if (bytes[0] != kEsc) {
    *key = characterKey(bytes[0]);
    return keyTaking(1);
  }
  if (count == 1) {
    if (!final) return kIncomplete;
    *key = characterKey(kEsc);
    return keyTaking(1);
  }
  const unsigned char next = bytes[1];
  if (next == '[' || next == 'O') return parseSequence(bytes, count, final, key);
  if (next == 'P' || next == ']' || next == '_') return parseString(bytes, count, final, key);
  if (next == kEsc) {
    *key = characterKey(kEsc);
    return keyTaking(1);
  }
  return altKey(next, key);
}

}  // namespace kp::posix
