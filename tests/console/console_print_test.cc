#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "support/memory_screen.h"

namespace kp {
namespace {

using test::MemoryScreen;
using namespace std::string_literals;

struct Rig {
  explicit Rig(bool redirected, int width = 80, int height = 25) : screen(width, height) {
    screen.setRedirected(redirected);
  }

  // Placed at once, so that the screen shows it when the test looks.
  void print(std::string_view text, int endFlags = EndNothing) {
    console.printText(0, text.data(), text.size(), endFlags);
    console.flush();
  }

  FileTable files;
  MemoryScreen screen;
  Console console{files, screen};
};

// --- colours ---

struct ColourCall {
  int32_t foreground;
  int32_t background;
  int32_t omitted;
  int32_t expectedResult;  // previous stored colours, packed
};

struct ColourCase {
  const char* name;
  std::vector<ColourCall> calls;
  uint16_t expectedAttribute;
};

class ConsoleColour : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ConsoleColour, SetsAttributeFromStoredIndices) {
  const ColourCase& c = GetParam();
  Rig rig(false);
  for (const ColourCall& call : c.calls) {
    EXPECT_EQ(rig.console.setColour(call.foreground, call.background, call.omitted),
              call.expectedResult);
  }
  EXPECT_EQ(rig.screen.currentAttribute(), c.expectedAttribute);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleColour,
    ::testing::Values(
        ColourCase{"ForegroundAloneKeepsBlack", {{12, 0, 2, 0x00007}}, 0x0C},
        ColourCase{"OmittedBackgroundIsTheStoredOne", {{7, 3, 0, 0x7}, {12, 0, 2, 0x30007}}, 0x3C},
        ColourCase{"OmittedForegroundIsTheStoredOne", {{12, 0, 2, 0x7}, {0, 1, 1, 0xC}}, 0x1C},
        ColourCase{"BothOmittedSetsStoredColours", {{14, 2, 0, 0x7}, {9, 9, 3, 0x2000E}}, 0x2E},
        ColourCase{"OnlyLowFourBitsKept", {{28, 0, 2, 0x7}}, 0x0C},
        ColourCase{"NegativeAndLargeValues", {{-1, 18, 0, 0x7}, {7, 0, 0, 0x2000F}}, 0x07}),
    [](const ::testing::TestParamInfo<ColourCase>& info) { return info.param.name; });

TEST(ConsoleColourState, StoredColoursChangeEvenWhenNoConsole) {
  Rig rig(true);
  rig.console.setColour(12, 5, 0);
  EXPECT_EQ(rig.console.setColour(7, 0, 2), 0x5000C);
  EXPECT_EQ(rig.screen.rawOutput(), "");
}

TEST(ConsoleColourState, TextUsesStartAttributeUntilFirstColourThenTheNewOne) {
  Rig rig(false);
  rig.screen.setCurrentAttribute(0x1E);
  rig.print("a");
  rig.console.setColour(12, 0, 2);
  rig.print("b");
  EXPECT_EQ(rig.screen.attributeAt(0, 0), 0x1E);
  EXPECT_EQ(rig.screen.attributeAt(1, 0), 0x0C);
}

TEST(ConsoleStart, DeviceStartsOnceOnFirstUse) {
  Rig rig(false);
  EXPECT_EQ(rig.screen.calls().startUp, 0);
  rig.console.setColour(7, 0, 2);
  rig.print("x", EndLine);
  rig.console.setColour(12, 0, 2);
  EXPECT_EQ(rig.screen.calls().startUp, 1);

  Rig printFirst(true);
  printFirst.print("x");
  EXPECT_EQ(printFirst.screen.calls().startUp, 1);
}

// --- end flags and zones (redirected, so the bytes can be read back) ---

struct EndCase {
  std::string text;
  int endFlags;
  std::string expected;
};

class ConsoleEndFlags : public ::testing::TestWithParam<EndCase> {};

TEST_P(ConsoleEndFlags, WritesTextThenEndAction) {
  const EndCase& c = GetParam();
  Rig rig(true);
  rig.print(c.text, c.endFlags);
  EXPECT_EQ(rig.screen.rawOutput(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, ConsoleEndFlags,
                         ::testing::Values(EndCase{"ab", 0, "ab"}, EndCase{"ab", 1, "ab\r\n"},
                                           EndCase{"ab", 4, "ab\r\n"},
                                           EndCase{"ab", 2, "ab" + std::string(12, ' ')},
                                           EndCase{"ab", 3, "ab\r\n"}, EndCase{"ab", 6, "ab\r\n"},
                                           EndCase{"ab", 8, "ab"}, EndCase{"", 1, "\r\n"},
                                           EndCase{"", 0, ""},
                                           EndCase{"", 2, std::string(14, ' ')}));

struct ZoneCase {
  int column;  // where the text before the padding ends
  std::string padding;
};

class ConsoleZone : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(ConsoleZone, PadsToNextZoneOrEndsLine) {
  const ZoneCase& c = GetParam();
  Rig rig(true);
  const std::string text(static_cast<size_t>(c.column), 'x');
  rig.print(text);
  rig.console.printLineEnd(0, EndZone);
  EXPECT_EQ(rig.screen.rawOutput(), text + c.padding);
}

// Line width 80: zones start at columns 1, 15, 29, 43, 57; the one at 71
// would not fit before the line's end.
INSTANTIATE_TEST_SUITE_P(
    Columns, ConsoleZone,
    ::testing::Values(ZoneCase{0, std::string(14, ' ')}, ZoneCase{1, std::string(13, ' ')},
                      ZoneCase{13, " "}, ZoneCase{14, std::string(14, ' ')},
                      ZoneCase{42, std::string(14, ' ')}, ZoneCase{55, " "}, ZoneCase{56, "\r\n"},
                      ZoneCase{79, "\r\n"},
                      ZoneCase{85, std::string(9, ' ')}));  // column wraps at the width

TEST(ConsoleColumn, CountsFromLastLineEndInText) {
  Rig rig(true);
  rig.print("abcdefghij\r\ncd");
  EXPECT_EQ(rig.console.column(), 2);
  rig.print("xyz\n");
  EXPECT_EQ(rig.console.column(), 0);
  rig.print("12345", EndZone);
  EXPECT_EQ(rig.console.column(), 14);
  rig.print("q", EndLine);
  EXPECT_EQ(rig.console.column(), 0);
}

// Line ends are looked for several bytes at a time: every length class and
// every position of a CR or LF within it must still be found.
TEST(ConsoleColumn, FindsALineEndAtAnyPositionOfTextsOfAnyLength) {
  for (size_t length = 1; length <= 20; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (char lineEnd : {'\r', '\n'}) {
        Rig rig(true);
        rig.print("abc");
        std::string text(length, 'x');
        text[at] = lineEnd;
        rig.print(text);
        EXPECT_EQ(rig.console.column(), static_cast<int32_t>(length - at - 1))
            << "length " << length << " line end at " << at;
      }
    }
    Rig rig(true);
    rig.print("abc");
    rig.print(std::string(length, '\x0e'));  // the lowest byte that is no line end
    EXPECT_EQ(rig.console.column(), static_cast<int32_t>(3 + length));
  }
}

TEST(ConsoleColumn, ZonePaddingOnScreenUsesCursorAtFirstPrint) {
  Rig rig(false);
  rig.screen.placeCursor(20, 3);
  rig.console.printLineEnd(0, EndZone);
  rig.print("z");
  EXPECT_EQ(rig.screen.charAt(28, 3), 'z');  // column 29 counted from 1
}

// --- the console's slot ---

TEST(ConsoleSlot, PreparedAtFirstPrintFromCursorAndBufferWidth) {
  Rig rig(false, 100, 30);
  rig.screen.placeCursor(17, 3);
  EXPECT_EQ(rig.files.slotForNumber(0)->hooks, nullptr);
  rig.print("");
  const FileSlot& slot = *rig.files.slotForNumber(0);
  EXPECT_EQ(slot.mode, 4);
  EXPECT_EQ(slot.kind, 4);
  EXPECT_EQ(slot.access, 3);
  EXPECT_EQ(slot.column, 17);
  EXPECT_EQ(slot.lineWidth, 100);
  ASSERT_NE(slot.hooks, nullptr);
  EXPECT_EQ(slot.hooks->readBytes, nullptr);
  EXPECT_EQ(slot.hooks->close, nullptr);
}

TEST(ConsoleSlot, WithoutConsoleStartsAtColumnZeroWidthEighty) {
  Rig rig(true);
  rig.console.printLineEnd(3, EndLine);  // any print prepares the console's slot
  const FileSlot& slot = *rig.files.slotForNumber(0);
  EXPECT_EQ(slot.column, 0);
  EXPECT_EQ(slot.lineWidth, 80);
  EXPECT_NE(slot.hooks, nullptr);
}

TEST(ConsoleSlot, ClearedWhenConsoleGoes) {
  FileTable files;
  MemoryScreen screen;
  {
    Console console(files, screen);
    console.printText(0, "x", EndNothing);
  }
  EXPECT_EQ(files.slotForNumber(0)->hooks, nullptr);
}

TEST(ConsolePrint, NumberNotOpenWritesNothingAndRecordsIllegalCall) {
  for (const FileNumber number : {1, 5, 255, -1, 256, 300, -2}) {
    Rig rig(true);
    rig.console.printText(number, "x", 1, EndLine);
    EXPECT_EQ(rig.files.lastError(), IllegalCall) << number;
    rig.files.setLastError(Ok);
    rig.console.printLineEnd(number, EndZone);
    EXPECT_EQ(rig.files.lastError(), IllegalCall) << number;
    EXPECT_EQ(rig.screen.rawOutput(), "") << number;
  }
}

TEST(ConsolePrint, PrintToConsoleRecordsOk) {
  Rig rig(true);
  rig.files.setLastError(FileIO);
  rig.print("x");
  EXPECT_EQ(rig.files.lastError(), Ok);
  rig.files.setLastError(FileIO);
  rig.console.printLineEnd(0, EndNothing);
  EXPECT_EQ(rig.files.lastError(), Ok);
}

TEST(ConsolePrint, NulTerminatedTextStopsAtNul) {
  Rig rig(true);
  rig.console.printText(0, "ab\0cd", EndLine);
  EXPECT_EQ(rig.screen.rawOutput(), "ab\r\n");
}

TEST(ConsolePrint, EmptyTextWithLineEndOnScreenOnlyMovesCursor) {
  Rig rig(false);
  rig.print("", EndLine);
  EXPECT_EQ(rig.screen.calls().writeCells, 0);
  EXPECT_EQ(rig.screen.cursor().x, 0);
  EXPECT_EQ(rig.screen.cursor().y, 1);
}

// --- raw output ---

TEST(ConsoleRaw, OutputIsExactlyThePrintedBytes) {
  Rig rig(true);
  rig.console.setColour(12, 0, 2);
  rig.print("Hallo", EndLine);
  rig.console.setColour(7, 3, 0);
  rig.console.printLineEnd(0, EndLine);
  rig.print("x\ty\a\b\v", EndNothing);
  rig.print("n\0\x1b[31m"s, EndLine);
  EXPECT_EQ(rig.screen.rawOutput(), "Hallo\r\n\r\nx\ty\a\b\vn\0\x1b[31m\r\n"s);
  EXPECT_TRUE(rig.screen.beeps().empty());
  EXPECT_EQ(rig.screen.calls().writeCells, 0);
}

TEST(ConsoleRaw, OneRawWriteAndNoQueryPerPrint) {
  Rig rig(true);
  rig.print("first");
  const MemoryScreen::Calls before = rig.screen.calls();
  rig.print("hello");
  const MemoryScreen::Calls& after = rig.screen.calls();
  EXPECT_EQ(after.writeRaw - before.writeRaw, 1);
  EXPECT_EQ(after.endOfWrite - before.endOfWrite, 1);
  EXPECT_EQ(after.getScreenBufferInfo, before.getScreenBufferInfo);
}

TEST(ConsoleRaw, ShortWritesAreRepeatedUntilAllIsWritten) {
  Rig rig(true);
  rig.screen.setRawChunk(3);
  rig.print("0123456789", EndLine);
  EXPECT_EQ(rig.screen.rawOutput(), "0123456789\r\n");
  EXPECT_EQ(rig.screen.calls().writeRaw, 4 + 1);
}

TEST(ConsoleRaw, FailedWriteDropsTheRest) {
  Rig rig(true);
  rig.screen.failRawAfter(7);
  rig.print("Hallo Welt", EndLine);
  rig.print("more", EndLine);
  EXPECT_EQ(rig.screen.rawOutput(), "Hallo W");
  EXPECT_EQ(rig.files.lastError(), Ok);  // the console reports no failure
}

TEST(ConsoleRaw, WriteWithoutProgressEndsTheCall) {
  Rig rig(true);
  rig.screen.setRawChunk(0);
  rig.print("stuck", EndLine);
  EXPECT_EQ(rig.screen.rawOutput(), "");
  EXPECT_EQ(rig.screen.calls().writeRaw, 2);  // one try per write, no endless retry
}

TEST(ConsoleRaw, OneRowWindowUsesRawPath) {
  Rig rig(false, 80, 1);
  rig.print("a\tb", EndLine);
  EXPECT_EQ(rig.screen.rawOutput(), "a\tb\r\n");
  EXPECT_EQ(rig.screen.calls().writeCells, 0);
}

}  // namespace
}  // namespace kp
