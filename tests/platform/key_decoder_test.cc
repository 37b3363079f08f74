#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/key_wait.h"
#include "platform/posix/key_decoder-posix.h"
#include "platform/posix/key_source-posix.h"
#include "platform/posix/terminal_input-posix.h"

namespace kp::posix {
namespace {

constexpr uint32_t kShift = ShiftPressed;
constexpr uint32_t kCtrl = LeftCtrlPressed;
constexpr uint32_t kAlt = LeftAltPressed;
constexpr uint32_t kEnh = EnhancedKey;

struct DecodeCase {
  const char* name;
  std::string bytes;
  bool final;
  size_t taken;
  uint16_t vk;
  uint16_t scan;
  uint8_t character;
  uint32_t state;
  int32_t code;  // what the key wait makes of it
};

const DecodeCase kCases[] = {
    {"letter", "a", false, 1, 0x41, 0x1E, 'a', 0, 'a'},
    {"capital", "A", false, 1, 0x41, 0x1E, 'A', kShift, 'A'},
    {"shifted symbol", "?", false, 1, 0xBF, 0x35, '?', kShift, '?'},
    {"digit", "7", false, 1, 0x37, 0x08, '7', 0, '7'},
    {"space", " ", false, 1, 0x20, 0x39, ' ', 0, ' '},
    {"enter", "\r", false, 1, 0x0D, 0x1C, 0x0D, 0, 0x0D},
    {"tab", "\t", false, 1, 0x09, 0x0F, 0x09, 0, 0x09},
    {"backspace", "\x7f", false, 1, 0x08, 0x0E, 0x08, 0, 0x08},
    {"ctrl letter", "\x01", false, 1, 0x41, 0x1E, 0x01, kCtrl, 0x01},
    {"ctrl space", std::string(1, '\0'), false, 1, 0x20, 0x39, ' ', kCtrl, ' '},
    {"high byte", "\xfc", false, 1, 0, 0, 0xFC, 0, 0xFC},
    {"F1 ss3", "\x1bOP", false, 3, 0x70, 0x3B, 0, 0, 0x3BFF},
    {"F1 vt220", "\x1b[11~", false, 5, 0x70, 0x3B, 0, 0, 0x3BFF},
    {"F1 linux", "\x1b[[A", false, 4, 0x70, 0x3B, 0, 0, 0x3BFF},
    {"shift F1", "\x1b[1;2P", false, 6, 0x70, 0x3B, 0, kShift, 0x54FF},
    {"F4", "\x1bOS", false, 3, 0x73, 0x3E, 0, 0, 0x3EFF},
    {"F5", "\x1b[15~", false, 5, 0x74, 0x3F, 0, 0, 0x3FFF},
    {"F10", "\x1b[21~", false, 5, 0x79, 0x44, 0, 0, 0x44FF},
    {"ctrl F11", "\x1b[23;5~", false, 7, 0x7A, 0x57, 0, kCtrl, 0x89FF},
    {"F12", "\x1b[24~", false, 5, 0x7B, 0x58, 0, 0, 0x86FF},
    {"rxvt shift F3", "\x1b[25~", false, 5, 0x72, 0x3D, 0, kShift, 0x56FF},
    {"rxvt shift F5", "\x1b[28~", false, 5, 0x74, 0x3F, 0, kShift, 0x58FF},
    {"rxvt shift F7", "\x1b[31~", false, 5, 0x76, 0x41, 0, kShift, 0x5AFF},
    {"rxvt shift F10", "\x1b[34~", false, 5, 0x79, 0x44, 0, kShift, 0x5DFF},
    {"up", "\x1b[A", false, 3, 0x26, 0x48, 0, kEnh, 0x48FF},
    {"up application mode", "\x1bOA", false, 3, 0x26, 0x48, 0, kEnh, 0x48FF},
    {"ctrl up", "\x1b[1;5A", false, 6, 0x26, 0x48, 0, kEnh | kCtrl, 0x8DFF},
    {"alt down", "\x1b[1;3B", false, 6, 0x28, 0x50, 0, kEnh | kAlt, 0xA0FF},
    {"left", "\x1b[D", false, 3, 0x25, 0x4B, 0, kEnh, 0x4BFF},
    {"right", "\x1b[C", false, 3, 0x27, 0x4D, 0, kEnh, 0x4DFF},
    {"home", "\x1b[H", false, 3, 0x24, 0x47, 0, kEnh, 0x47FF},
    {"home vt220", "\x1b[1~", false, 4, 0x24, 0x47, 0, kEnh, 0x47FF},
    {"end", "\x1b[F", false, 3, 0x23, 0x4F, 0, kEnh, 0x4FFF},
    {"insert", "\x1b[2~", false, 4, 0x2D, 0x52, 0, kEnh, 0x52FF},
    {"delete", "\x1b[3~", false, 4, 0x2E, 0x53, 0, kEnh, 0x53FF},
    {"page up", "\x1b[5~", false, 4, 0x21, 0x49, 0, kEnh, 0x49FF},
    {"ctrl page down", "\x1b[6;5~", false, 6, 0x22, 0x51, 0, kEnh | kCtrl, 0x76FF},
    {"back tab", "\x1b[Z", false, 3, 0x09, 0x0F, 0x09, kShift, 0x0FFF},
    {"alt x", "\x1bx", false, 2, 0x58, 0x2D, 'x', kAlt, 0x2DFF},
    {"lone esc at the next look", "\x1b", true, 1, 0x1B, 0x01, 0x1B, 0, 0x1B},
    {"esc [ alone is alt [", "\x1b[", true, 2, 0xDB, 0x1A, '[', kAlt, 0x1AFF},
    {"esc esc", "\x1b\x1b[A", false, 1, 0x1B, 0x01, 0x1B, 0, 0x1B},
    {"keypad enter application mode", "\x1bOM", false, 3, 0x0D, 0x1C, 0x0D, kEnh, 0x0D},
    {"keypad 8 application mode", "\x1bOx", false, 3, 0x68, 0x48, '8', 0, '8'},
    {"keypad star application mode", "\x1bOj", false, 3, 0x6A, 0x37, '*', 0, '*'},
    {"linux keypad 5", "\x1b[G", false, 3, 0x0C, 0x4C, 0, 0, 0x4CFF},
    {"rxvt shift up", "\x1b[a", false, 3, 0x26, 0x48, 0, kEnh | kShift, 0x48FF},
    {"rxvt ctrl up", "\x1bOa", false, 3, 0x26, 0x48, 0, kEnh | kCtrl, 0x8DFF},
    {"rxvt ctrl delete", "\x1b[3^", false, 4, 0x2E, 0x53, 0, kEnh | kCtrl, 0x93FF},
    {"rxvt shift insert", "\x1b[2$", true, 4, 0x2D, 0x52, 0, kEnh | kShift, 0x52FF},
    {"rxvt shift insert twice", "\x1b[2$\x1b[2$", false, 4, 0x2D, 0x52, 0, kEnh | kShift, 0x52FF},
    {"every key reported: ctrl enter", "\x1b[27;5;13~", false, 10, 0x0D, 0x1C, 0x0D, kCtrl, 0x0D},
    {"keys by code: ctrl a", "\x1b[97;5u", false, 7, 0x41, 0x1E, 0x01, kCtrl, 0x01},
    {"keys by code: e acute", "\x1b[233u", false, 6, 0, 0, 0xE9, 0, 0xE9},
    {"alt P typed alone", "\x1bP", true, 2, 0x50, 0x19, 'P', kShift | kAlt, 0x19FF},
    {"alt ] before a key", "\x1b]\x1b[A", false, 2, 0xDD, 0x1B, ']', kAlt, 0x1BFF},
};

TEST(KeyDecoder, SequencesBecomeTheKeysTheyName) {
  PosixKeySource source(-1, {});
  KeyWait wait(source);
  for (const DecodeCase& c : kCases) {
    SCOPED_TRACE(c.name);
    KeyEvent key;
    const DecodedInput item = decodeInput(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                          c.bytes.size(), c.final, &key);
    ASSERT_EQ(item.kind, InputKind::Key);
    EXPECT_EQ(item.taken, c.taken);
    EXPECT_EQ(key.keyDown, 1);
    EXPECT_EQ(key.repeatCount, 1);
    EXPECT_EQ(key.virtualKeyCode, c.vk);
    EXPECT_EQ(key.virtualScanCode, c.scan);
    EXPECT_EQ(key.character, c.character);
    EXPECT_EQ(key.controlKeyState, c.state);
    EXPECT_EQ(wait.translateKey(key.character, key.virtualScanCode, key.virtualKeyCode,
                                key.controlKeyState),
              c.code);
  }
}

struct ReportCase {
  const char* name;
  std::string bytes;
  bool final;
  size_t taken;
  InputKind kind;
};

// What terminals send on their own, and sequences no key sends: each is
// taken whole (and no further) and gives no key.
const ReportCase kReports[] = {
    {"focus in", "\x1b[I", false, 3, InputKind::NotAKey},
    {"focus out", "\x1b[Ox", false, 3, InputKind::NotAKey},
    {"mouse x10", "\x1b[M !!x", false, 6, InputKind::NotAKey},
    {"mouse x10 with bytes that read as utf-8", "\x1b[M\xc3\xa9 \x1b", false, 6,
     InputKind::NotAKey},
    {"mouse x10 at the end of the input", "\x1b[M \xc3\xa9", true, 6, InputKind::NotAKey},
    {"mouse utf-8", "\x1b[M \xc3\xa9\xc3\xa9x", false, 8, InputKind::NotAKey},
    {"mouse x10 cut off by a control", "\x1b[M \r", false, 4, InputKind::NotAKey},
    {"mouse sgr press", "\x1b[<0;12;5Mx", false, 10, InputKind::NotAKey},
    {"mouse sgr release", "\x1b[<0;120;45m", false, 12, InputKind::NotAKey},
    {"mouse urxvt", "\x1b[32;12;5M", false, 10, InputKind::NotAKey},
    {"cursor report", "\x1b[12;40Rx", false, 8, InputKind::CursorReport},
    {"cursor report from the top row", "\x1b[1;5R", false, 6, InputKind::CursorReport},
    {"extended cursor report", "\x1b[?12;40;1R", false, 11, InputKind::NotAKey},
    {"device attributes", "\x1b[?64;1;2;6;9;15;16;17;18;21;22;28c", false, 35, InputKind::NotAKey},
    {"secondary device attributes", "\x1b[>41;380;0c", false, 12, InputKind::NotAKey},
    {"status report", "\x1b[0n", false, 4, InputKind::NotAKey},
    {"mode report", "\x1b[?2004;2$y", false, 11, InputKind::NotAKey},
    {"paste start", "\x1b[200~abc", false, 6, InputKind::NotAKey},
    {"paste end", "\x1b[201~", false, 6, InputKind::NotAKey},
    {"terminal unit id", "\x1bP!|00000000\x1b\\x", false, 14, InputKind::NotAKey},
    {"terminal version", "\x1bP>|XTerm(380)\x1b\\", false, 16, InputKind::NotAKey},
    {"colour answer ended by bel", "\x1b]11;rgb:0000/0000/0000\x07", false, 24, InputKind::NotAKey},
    {"unknown csi", "\x1b[99~x", false, 5, InputKind::NotAKey},
    {"unknown ss3", "\x1bOzx", false, 3, InputKind::NotAKey},
    {"cut-off sequence", "\x1b[1;5", true, 5, InputKind::NotAKey},
    {"broken by a control", "\x1b[1;\r", false, 4, InputKind::NotAKey},
    {"broken by another sequence", "\x1b[1;\x1b[A", false, 4, InputKind::NotAKey},
    {"overlong", "\x1b[" + std::string(300, '1') + "~", false, kMaxSequence, InputKind::NotAKey},
};

TEST(KeyDecoder, ReportsAndUnknownSequencesAreTakenWholeAsNoKey) {
  for (const ReportCase& c : kReports) {
    SCOPED_TRACE(c.name);
    KeyEvent key;
    const DecodedInput item = decodeInput(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                          c.bytes.size(), c.final, &key);
    EXPECT_EQ(item.kind, c.kind);
    EXPECT_EQ(item.taken, c.taken);
  }
  KeyEvent key;
  const DecodedInput report =
      decodeInput(reinterpret_cast<const unsigned char*>("\x1b[12;40R"), 8, false, &key);
  EXPECT_EQ(report.row, 12);
  EXPECT_EQ(report.column, 40);
}

TEST(KeyDecoder, UnfinishedSequencesWaitForMoreBytes) {
  for (const char* bytes : {"\x1b", "\x1b[", "\x1bO", "\x1b[1;5", "\x1b[2", "\x1b[[", "\x1b[M",
                            "\x1b[M \xc3", "\x1b[M \xc3\xa9\xc3", "\x1b[<0;12", "\x1bP!|0",
                            "\x1b]11;rgb", "\x1bP>|x\x1b", "\x1b[2$"}) {
    KeyEvent key;
    EXPECT_EQ(
        decodeInput(reinterpret_cast<const unsigned char*>(bytes), std::strlen(bytes), false, &key)
            .kind,
        InputKind::Incomplete)
        << bytes + 1;
  }
}

// xterm's Shift, Alt and Ctrl+F3 are a cursor report's bytes from the top
// row: that key while no report is owed, a late report while one is.
TEST(KeyDecoder, ModifiedF3IsTheKeyUnlessAReportIsOwed) {
  PosixKeySource source(-1, {});
  KeyWait wait(source);
  for (const auto& [bytes, code] : {std::pair{"\x1b[1;2R", 0x56FF}, {"\x1b[1;3R", 0x6AFF}}) {
    TerminalInput input;
    KeyEvent key;
    for (const bool owed : {false, true}) {
      int row = 0;
      if (owed) {
        EXPECT_FALSE(input.awaitCursorReport(-1, 0, &row, &row));
      }
      input.append(reinterpret_cast<const unsigned char*>(bytes), 6);
      ASSERT_EQ(input.nextKey(true, &key), !owed) << bytes + 1;
    }
    EXPECT_EQ(wait.translateKey(key.character, key.virtualScanCode, key.virtualKeyCode,
                                key.controlKeyState),
              code);
  }
}

TEST(UsKeyboard, MapsVirtualKeysAndCharacters) {
  EXPECT_EQ(usMapVirtualKey(0x73, 0), 0x3Eu);  // F4
  EXPECT_EQ(usMapVirtualKey(0x41, 0), 0x1Eu);
  EXPECT_EQ(usMapVirtualKey(0x41, 2), static_cast<uint32_t>('A'));
  EXPECT_EQ(usMapVirtualKey(0x65, 2), static_cast<uint32_t>('5'));  // keypad 5
  EXPECT_EQ(usMapVirtualKey(0xBA, 2), static_cast<uint32_t>(';'));
  EXPECT_EQ(usMapVirtualKey(0x70, 2), 0u);
  EXPECT_EQ(usMapVirtualKey(0x41, 7), 0u);
  EXPECT_EQ(usVkKeyScan('a'), 0x41);
  EXPECT_EQ(usVkKeyScan('A'), 0x141);
  EXPECT_EQ(usVkKeyScan('@'), 0x132);
  EXPECT_EQ(usVkKeyScan('\x03'), 0x243);
  EXPECT_EQ(usVkKeyScan('\r'), 0x0D);
  EXPECT_EQ(usVkKeyScan('\xe4'), -1);
}

}  // namespace
}  // namespace kp::posix
