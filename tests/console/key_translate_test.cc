#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "console/key_tables.h"
#include "console/key_wait.h"
#include "support/scripted_key_source.h"

namespace kp {
namespace {

using test::ScriptedKeySource;

// --- the tables ---

// Every entry above 255 of the plain table, written out key by key:
// {scan code, column} -> entry.
std::map<std::pair<int, int>, uint16_t> expectedExtendedEntries() {
  std::map<std::pair<int, int>, uint16_t> e;
  e[{0x01, AltColumn}] = 0x0100;
  for (int scan = 0x02; scan <= 0x0B; ++scan) {
    e[{scan, AltColumn}] = static_cast<uint16_t>((0x78 + scan - 0x02) << 8);
  }
  e[{0x03, CtrlColumn}] = 0x0300;
  e[{0x0C, AltColumn}] = 0x8200;
  e[{0x0D, AltColumn}] = 0x8300;
  e[{0x0E, AltColumn}] = 0xE000;
  e[{0x0F, ShiftColumn}] = 0x0F00;
  e[{0x0F, CtrlColumn}] = 0x9400;
  e[{0x0F, AltColumn}] = 0x0F00;
  e[{0x1C, AltColumn}] = 0x1C00;
  for (int scan : {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1E, 0x1F,
                   0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x2C, 0x2D, 0x2E, 0x2F, 0x30,
                   0x31, 0x32, 0x1A, 0x1B, 0x27, 0x28, 0x29, 0x33, 0x34, 0x35}) {
    e[{scan, AltColumn}] = static_cast<uint16_t>(scan << 8);
  }
  for (int f = 0; f < 10; ++f) {
    const int scan = 0x3B + f;
    e[{scan, PlainColumn}] = static_cast<uint16_t>(scan << 8);
    e[{scan, ShiftColumn}] = static_cast<uint16_t>((0x54 + f) << 8);
    e[{scan, CtrlColumn}] = static_cast<uint16_t>((0x5E + f) << 8);
    e[{scan, AltColumn}] = static_cast<uint16_t>((0x68 + f) << 8);
  }
  const uint16_t keypadCtrl[] = {0x7700, 0x8D00, 0x8400, 0,      0x7300, 0x8F00, 0x7400,
                                 0,      0x7500, 0x9100, 0x7600, 0x9200, 0x9300};
  for (int scan = 0x47; scan <= 0x53; ++scan) {
    if (scan != 0x4A && scan != 0x4E) e[{scan, PlainColumn}] = static_cast<uint16_t>(scan << 8);
    if (keypadCtrl[scan - 0x47] != 0) e[{scan, CtrlColumn}] = keypadCtrl[scan - 0x47];
  }
  e[{0x4C, AltColumn}] = 0x4C00;
  e[{0x57, PlainColumn}] = 0x8500;
  e[{0x57, ShiftColumn}] = 0x8700;
  e[{0x57, CtrlColumn}] = 0x8900;
  e[{0x57, AltColumn}] = 0x8B00;
  e[{0x58, PlainColumn}] = 0x8600;
  e[{0x58, ShiftColumn}] = 0x8800;
  e[{0x58, CtrlColumn}] = 0x8A00;
  e[{0x58, AltColumn}] = 0x8C00;
  return e;
}

TEST(KeyTables, PlainTableHoldsExactlyTheExtendedEntries) {
  const auto expected = expectedExtendedEntries();
  int extended = 0;
  for (int scan = 0; scan < kPlainKeyRows; ++scan) {
    for (int column = 0; column < 4; ++column) {
      const uint16_t entry = plainKeyTable[scan][column];
      const auto it = expected.find({scan, column});
      if (it != expected.end()) {
        EXPECT_EQ(entry, it->second) << "scan " << scan << " column " << column;
        ++extended;
      } else {
        EXPECT_LE(entry, kLastCharacterEntry) << "scan " << scan << " column " << column;
      }
    }
  }
  EXPECT_EQ(extended, static_cast<int>(expected.size()));
}

TEST(KeyTables, ModifierLockAndUnusedRowsAreZero) {
  for (int scan : {0x00, 0x1D, 0x2A, 0x36, 0x38, 0x3A, 0x45, 0x46, 0x54, 0x55, 0x56}) {
    for (int column = 0; column < 4; ++column) {
      EXPECT_EQ(plainKeyTable[scan][column], 0) << "scan " << scan;
    }
  }
}

TEST(KeyTables, EnhancedTableRows) {
  struct Row {
    uint16_t scan, plain, shift, ctrl, alt;
  };
  const Row rows[] = {
      {0x1C, 0x000D, 0x000D, 0x000A, 0xA600}, {0x35, 0x002F, 0x003F, 0x9500, 0xA400},
      {0x47, 0x4700, 0x4700, 0x7700, 0x9700}, {0x48, 0x4800, 0x4800, 0x8D00, 0x9800},
      {0x49, 0x4900, 0x4900, 0x8400, 0x9900}, {0x4B, 0x4B00, 0x4B00, 0x7300, 0x9B00},
      {0x4D, 0x4D00, 0x4D00, 0x7400, 0x9D00}, {0x4F, 0x4F00, 0x4F00, 0x7500, 0x9F00},
      {0x50, 0x5000, 0x5000, 0x9100, 0xA000}, {0x51, 0x5100, 0x5100, 0x7600, 0xA100},
      {0x52, 0x5200, 0x5200, 0x9200, 0xA200}, {0x53, 0x5300, 0x5300, 0x9300, 0xA300},
  };
  for (const Row& r : rows) {
    const EnhancedKeyRow* row = findEnhancedKey(r.scan);
    ASSERT_NE(row, nullptr) << r.scan;
    EXPECT_EQ(row->entries[PlainColumn], r.plain) << r.scan;
    EXPECT_EQ(row->entries[ShiftColumn], r.shift) << r.scan;
    EXPECT_EQ(row->entries[CtrlColumn], r.ctrl) << r.scan;
    EXPECT_EQ(row->entries[AltColumn], r.alt) << r.scan;
  }
  EXPECT_EQ(findEnhancedKey(0x1D), nullptr);  // right Ctrl
  EXPECT_EQ(findEnhancedKey(0x38), nullptr);  // right Alt
}

// --- translation ---

class TranslateTest : public ::testing::Test {
 protected:
  ScriptedKeySource source;
  KeyWait keys{source};

  // Translates the key as the US keyboard delivers it.
  int32_t translate(uint16_t vk, uint32_t state, int character) {
    const uint16_t scan = static_cast<uint16_t>(source.mapVirtualKey(vk, 0));
    return keys.translateKey(static_cast<uint8_t>(character), scan, vk, state);
  }
};

TEST_F(TranslateTest, KeysAndTheirCodes) {
  struct Case {
    const char* name;
    uint16_t vk;
    uint32_t state;
    int character;
    int32_t code;
  };
  const Case cases[] = {
      {"a", 'A', 0, 'a', 'a'},
      {"Shift+a", 'A', ShiftPressed, 'A', 'A'},
      {"Caps Lock a", 'A', CapsLockOn, 'A', 'A'},
      {"Ctrl+a", 'A', LeftCtrlPressed, 0x01, 0x01},
      {"Alt+a", 'A', LeftAltPressed, 'a', 0x1EFF},
      {"Alt+Shift+A", 'A', LeftAltPressed | ShiftPressed, 'A', 0x1EFF},
      {"AltGr+q gives @ on another layout", 'Q', RightAltPressed | LeftCtrlPressed, '@', '@'},
      {"Alt+a without character", 'A', LeftAltPressed, 0, kNoKey},
      {"Enter", 0x0D, 0, 0x0D, 0x0D},
      {"Alt+Enter", 0x0D, LeftAltPressed, 0x0D, 0x1CFF},
      {"Esc", 0x1B, 0, 0x1B, 0x1B},
      {"Alt+Esc", 0x1B, LeftAltPressed, 0x1B, 0x01FF},
      {"Shift+Tab", 0x09, ShiftPressed, 0x09, 0x0FFF},
      {"Ctrl+Tab", 0x09, RightCtrlPressed, 0x09, 0x94FF},
      {"Alt+Backspace", 0x08, LeftAltPressed, 0x08, 0xE0FF},
      {"Ctrl+2", '2', LeftCtrlPressed, '2', 0x03FF},
      {"Alt+1", '1', LeftAltPressed, '1', 0x78FF},
      {"Alt+0", '0', LeftAltPressed, '0', 0x81FF},
      {"Alt+-", 0xBD, LeftAltPressed, '-', 0x82FF},
      {"Shift+1", '1', ShiftPressed, '!', '!'},
      {"space", 0x20, 0, ' ', ' '},
      {"F1", 0x70, 0, 0, 0x3BFF},
      {"Shift+F1", 0x70, ShiftPressed, 0, 0x54FF},
      {"Ctrl+F10", 0x79, LeftCtrlPressed, 0, 0x67FF},
      {"Alt+F4", 0x73, LeftAltPressed, 0, 0x6BFF},
      {"F11", 0x7A, 0, 0, 0x85FF},
      {"Alt+F12", 0x7B, LeftAltPressed, 0, 0x8CFF},
      {"keypad Home, Num Lock off", 0x24, 0, 0, 0x47FF},
      {"keypad 7, Num Lock on", 0x67, NumLockOn, '7', '7'},
      {"Ctrl+keypad 5", 0x0C, LeftCtrlPressed, 0, 0x8FFF},
      {"keypad -", 0x6D, 0, '-', '-'},
      {"Up", 0x26, EnhancedKey, 0, 0x48FF},
      {"Ctrl+Left", 0x25, EnhancedKey | LeftCtrlPressed, 0, 0x73FF},
      {"Alt+Delete", 0x2E, EnhancedKey | LeftAltPressed, 0, 0xA3FF},
      {"keypad Enter", 0x0D, EnhancedKey, 0, 0x0D},
      {"Ctrl+keypad Enter", 0x0D, EnhancedKey | LeftCtrlPressed, 0, 0x0A},
      {"keypad / with its character", 0x6F, EnhancedKey, '/', '/'},
      {"Ctrl+keypad /", 0x6F, EnhancedKey | LeftCtrlPressed, 0, 0x95FF},
      {"Shift alone", 0x10, ShiftPressed, 0, kNoKey},
      {"Ctrl alone", 0x11, LeftCtrlPressed, 0, kNoKey},
      {"Alt alone", 0x12, LeftAltPressed, 0, kNoKey},
      {"right Ctrl", 0x11, RightCtrlPressed | EnhancedKey, 0, kNoKey},
      {"right Alt", 0x12, RightAltPressed | EnhancedKey, 0, kNoKey},
      {"Caps Lock", 0x14, CapsLockOn, 0, kNoKey},
      {"Num Lock", 0x90, NumLockOn | EnhancedKey, 0, kNoKey},
      {"Scroll Lock", 0x91, ScrollLockOn, 0, kNoKey},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(translate(c.vk, c.state, c.character), c.code) << c.name;
  }
}

TEST_F(TranslateTest, ScanCodesBeyondTheTableGiveTheirCharacterOrNothing) {
  EXPECT_EQ(keys.translateKey('x', 0x59, 0xFF, 0), 'x');
  EXPECT_EQ(keys.translateKey(0xE4, 0x70, 0xFF, LeftAltPressed), 0xE4);
  EXPECT_EQ(keys.translateKey(0, 0x59, 0xFF, 0), kNoKey);
  EXPECT_EQ(keys.translateKey(0, 0x5B, 0x5B, EnhancedKey), kNoKey);  // Windows key
}

// --- Alt with keypad digits ---

class AltKeypadTest : public ::testing::Test {
 protected:
  ScriptedKeySource source;
  KeyWait keys{source};

  void altDigits(std::initializer_list<int> digits) {
    source.addEvent(0, ScriptedKeySource::keyDown(0x12, LeftAltPressed, 0));
    for (int d : digits) {
      const uint16_t vk = static_cast<uint16_t>(0x60 + d);
      source.addEvent(0, ScriptedKeySource::keyDown(vk, LeftAltPressed | NumLockOn, 0));
      source.addEvent(0, ScriptedKeySource::keyUp(vk, LeftAltPressed | NumLockOn, 0));
    }
  }
  void releaseAlt(int atMs) { source.addEvent(atMs, ScriptedKeySource::keyUp(0x12, NumLockOn, 0)); }
  const KeyBuffer::Slot& headSlot() const { return keys.buffer().slots[keys.buffer().head]; }
};

TEST_F(AltKeypadTest, SixFiveGivesCapitalAOnTheReleaseOfAlt) {
  altDigits({6, 5});
  releaseAlt(200);
  keys.waitForKey(-1);
  EXPECT_EQ(source.now(), 200);  // nothing arrived while Alt was held
  EXPECT_EQ(keys.buffer().altKeypadCode, 0);
  const KeyBuffer::Slot& slot = headSlot();
  EXPECT_EQ(slot.code, 65);
  EXPECT_EQ(slot.event.key.character, 'A');
  EXPECT_EQ(slot.event.key.virtualKeyCode, 'A');
  EXPECT_EQ(slot.event.key.virtualScanCode, 0x1E);
  EXPECT_EQ(slot.event.key.controlKeyState, ShiftPressed);
  EXPECT_EQ(slot.event.key.keyDown, 0);
  EXPECT_EQ(slot.event.key.repeatCount, 0);
}

TEST_F(AltKeypadTest, OnlyTheLowByteCounts) {
  altDigits({2, 6, 5});
  releaseAlt(0);
  keys.pollKeyEvents();
  EXPECT_EQ(headSlot().code, 9);
  EXPECT_EQ(headSlot().event.key.virtualKeyCode, 0x09);
  EXPECT_EQ(headSlot().event.key.virtualScanCode, 0x0F);
}

TEST_F(AltKeypadTest, LongDigitRunsWrapWithoutOverflow) {
  // 99999999999 mod 2^32 ends in the byte 0xFF.
  altDigits({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
  releaseAlt(0);
  keys.pollKeyEvents();
  EXPECT_EQ(headSlot().code, 0xFF);
}

TEST_F(AltKeypadTest, AKeyWithACodeAbandonsTheEntry) {
  altDigits({6});
  source.addKeyPress(0, 'B', LeftAltPressed);  // Alt+b: 0x30FF
  releaseAlt(0);
  keys.pollKeyEvents();
  EXPECT_EQ(keys.readKey(true, true), 0x30FF);
  EXPECT_EQ(keys.readKey(true, true), kNoKey);
  EXPECT_EQ(keys.buffer().altKeypadCode, 0);
}

TEST_F(AltKeypadTest, DigitsWithCtrlOrShiftDoNotCompose) {
  source.addEvent(0, ScriptedKeySource::keyDown(0x66, LeftAltPressed | LeftCtrlPressed, 0));
  source.addEvent(0, ScriptedKeySource::keyDown(0x65, LeftAltPressed | ShiftPressed, 0));
  releaseAlt(0);
  keys.pollKeyEvents();
  EXPECT_EQ(keys.buffer().altKeypadCode, 0);
  EXPECT_EQ(keys.readKey(true, false), kNoKey);
}

// --- buffer and reading ---

class KeyBufferTest : public ::testing::Test {
 protected:
  ScriptedKeySource source;
  KeyWait keys{source};
  KeyEvent event;
};

TEST_F(KeyBufferTest, OverflowDropsTheOldestCode) {
  for (int code = 1; code <= 511; ++code) keys.appendKey(code, event);
  EXPECT_EQ(keys.buffer().head, 0);
  EXPECT_EQ(keys.buffer().tail, 511);
  EXPECT_EQ(keys.readKey(true, false), 1);

  keys.appendKey(512, event);
  keys.appendKey(513, event);
  for (int code = 3; code <= 513; ++code) ASSERT_EQ(keys.readKey(true, true), code);
  EXPECT_EQ(keys.readKey(true, true), kNoKey);
}

TEST_F(KeyBufferTest, ExtendedCodesReadAsTwoBytes) {
  keys.appendKey(0x3BFF, event);
  keys.appendKey('x', event);
  EXPECT_EQ(keys.readKey(false, true), 0xFF);
  EXPECT_EQ(keys.readKey(false, true), 0x3B);
  EXPECT_EQ(keys.readKey(false, true), 'x');
  EXPECT_EQ(keys.readKey(false, true), kNoKey);
}

TEST_F(KeyBufferTest, FullCodeReadAndPeekWithoutRemoving) {
  keys.appendKey(0x48FF, event);
  EXPECT_EQ(keys.readKey(true, false), 0x48FF);
  EXPECT_EQ(keys.readKey(true, false), 0x48FF);
  EXPECT_EQ(keys.readKey(true, true), 0x48FF);
  EXPECT_EQ(keys.readKey(true, true), kNoKey);
}

TEST_F(KeyBufferTest, RemovingReadClearsTheArrivalAndReadsPollFirst) {
  source.addKeyPress(0, 'Q');
  EXPECT_EQ(keys.readKey(true, true), 'q');
  EXPECT_FALSE(keys.buffer().keyArrived.load());
  EXPECT_TRUE(keys.buffer().handlerInstalled);
}

TEST_F(KeyBufferTest, AppendStoresTheEventAsAKeyRecord) {
  event.virtualKeyCode = 0x70;
  event.keyDown = 1;
  keys.appendKey(0x3BFF, event);
  const KeyBuffer::Slot& slot = keys.buffer().slots[0];
  EXPECT_EQ(slot.event.eventType, KeyEventType);
  EXPECT_EQ(slot.event.key.virtualKeyCode, 0x70);
  EXPECT_TRUE(keys.buffer().keyArrived.load());
  EXPECT_TRUE(keys.checkKeyArrived());
  EXPECT_FALSE(keys.checkKeyArrived());
}

}  // namespace
}  // namespace kp
