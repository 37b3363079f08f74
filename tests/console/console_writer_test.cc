#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "support/memory_screen.h"

namespace kp {
namespace {

using test::MemoryScreen;

// A console on an in-memory screen, with its own file table. Each print or
// write is placed at once, so that the screen shows it when the test looks.
struct Rig {
  explicit Rig(int width = 80, int height = 25, int windowRows = 0)
      : screen(width, height, windowRows), console(files, screen) {}

  void print(std::string_view text, int endFlags = EndNothing) {
    console.printText(0, text.data(), text.size(), endFlags);
    console.flush();
  }
  void write(std::string_view text) {
    console.writeConsole(text.data(), text.size());
    console.flush();
  }
  // Prints "<prefix>0" .. "<prefix>(count-1)", each on its own line.
  void printLines(int count, const char* prefix = "r") {
    for (int i = 0; i < count; ++i) print(prefix + std::to_string(i), EndLine);
  }
  int cursorX() const { return screen.cursor().x; }
  int cursorY() const { return screen.cursor().y; }

  FileTable files;
  MemoryScreen screen;
  Console console;
};

// Fills a row with a marker directly on the screen, bypassing the writer.
void markRow(MemoryScreen& screen, int y, char marker) {
  const std::string row(static_cast<size_t>(screen.width()), marker);
  screen.writeCells({0, static_cast<int16_t>(y)}, row.data(), screen.width(), 7);
}

// --- wrapping at the right edge ---

TEST(ConsoleWrap, TextEndingAtRightEdgeLeavesEmptyRowAfterLineEnd) {
  Rig rig;
  rig.print(std::string(80, 'a'), EndLine);
  rig.print("b");
  EXPECT_EQ(rig.screen.rowText(0), std::string(80, 'a'));
  EXPECT_EQ(rig.screen.trimmedRow(1), "");
  EXPECT_EQ(rig.screen.trimmedRow(2), "b");
  EXPECT_EQ(rig.cursorX(), 1);
  EXPECT_EQ(rig.cursorY(), 2);
}

TEST(ConsoleWrap, BottomRightCellDefersScrollUntilNextOutput) {
  Rig rig;
  rig.printLines(24);
  rig.print(std::string(80, 'z'));
  EXPECT_TRUE(rig.console.state().pendingWrap);
  EXPECT_EQ(rig.cursorX(), 79);
  EXPECT_EQ(rig.cursorY(), 24);
  EXPECT_EQ(rig.screen.calls().scrollRect, 0);
  EXPECT_EQ(rig.screen.trimmedRow(0), "r0");

  rig.print("x");
  EXPECT_FALSE(rig.console.state().pendingWrap);
  EXPECT_EQ(rig.screen.calls().scrollRect, 1);
  EXPECT_EQ(rig.screen.trimmedRow(0), "r1");
  EXPECT_EQ(rig.screen.rowText(23), std::string(80, 'z'));
  EXPECT_EQ(rig.screen.trimmedRow(24), "x");
  EXPECT_EQ(rig.cursorX(), 1);
  EXPECT_EQ(rig.cursorY(), 24);
}

TEST(ConsoleWrap, LineEndAfterBottomRightCellAddsOneRowOnly) {
  Rig rig;
  rig.printLines(24);
  rig.print(std::string(80, 'z'));
  rig.print("", EndLine);
  rig.print("y");
  // Pending wrap takes the new row, the line end one more.
  EXPECT_EQ(rig.screen.rowText(22), std::string(80, 'z'));
  EXPECT_EQ(rig.screen.trimmedRow(23), "");
  EXPECT_EQ(rig.screen.trimmedRow(24), "y");
}

// --- scrolling: the window slides first, then the buffer shifts ---

TEST(ConsoleScroll, WindowSlidesThroughTallerBufferBeforeContentMoves) {
  Rig rig(80, 30, 10);
  rig.printLines(12, "L");
  EXPECT_EQ(rig.screen.window().top, 3);
  EXPECT_EQ(rig.screen.window().bottom, 12);
  EXPECT_EQ(rig.screen.calls().scrollRect, 0);
  EXPECT_GT(rig.screen.calls().setWindowInfo, 0);
  EXPECT_EQ(rig.screen.trimmedRow(0), "L0");
  EXPECT_EQ(rig.cursorY(), 12);

  // On to the buffer's end and beyond: now rows shift and the oldest are lost.
  rig.console.setColour(7, 1, 0);
  for (int i = 12; i < 41; ++i) rig.print("L" + std::to_string(i), EndLine);
  EXPECT_EQ(rig.screen.window().top, 20);
  EXPECT_EQ(rig.screen.window().bottom, 29);
  EXPECT_EQ(rig.screen.calls().scrollRect, 12);
  EXPECT_EQ(rig.screen.trimmedRow(0), "L12");
  EXPECT_EQ(rig.screen.trimmedRow(28), "L40");
  EXPECT_EQ(rig.screen.trimmedRow(29), "");
  EXPECT_EQ(rig.screen.attributeAt(0, 29), 0x17);  // blank in the current attribute
  EXPECT_EQ(rig.cursorX(), 0);
  EXPECT_EQ(rig.cursorY(), 29);
}

TEST(ConsoleScroll, SlideAndShiftInOneWrite) {
  Rig rig(80, 12, 10);
  rig.printLines(9);
  rig.print("r9");
  rig.write("\n\n\n\n\n");  // two rows of slide, three of shift
  EXPECT_EQ(rig.screen.window().top, 2);
  EXPECT_EQ(rig.screen.window().bottom, 11);
  EXPECT_EQ(rig.screen.calls().scrollRect, 1);
  for (int row = 0; row <= 6; ++row) {
    EXPECT_EQ(rig.screen.trimmedRow(row), "r" + std::to_string(row + 3)) << row;
  }
  for (int row = 7; row <= 11; ++row) EXPECT_EQ(rig.screen.trimmedRow(row), "") << row;
  EXPECT_EQ(rig.cursorY(), 11);
}

struct ShiftCase {
  int rows;
  bool shifts;  // false: the whole view is blanked instead
};

class ConsoleShift : public ::testing::TestWithParam<ShiftCase> {};

// A 10-row buffer holding r0..r9 takes n line ends on its bottom row at once.
TEST_P(ConsoleShift, ShiftsUpAndBlanksBottomRowsInAttribute) {
  const ShiftCase c = GetParam();
  Rig rig(80, 10);
  rig.printLines(9);
  rig.print("r9");
  rig.screen.setCurrentAttribute(0x1F);
  rig.write(std::string(static_cast<size_t>(c.rows), '\n'));

  EXPECT_EQ(rig.screen.calls().scrollRect, c.shifts ? 1 : 0);
  for (int row = 0; row < 10; ++row) {
    const int source = row + c.rows;
    if (source < 10) {
      EXPECT_EQ(rig.screen.trimmedRow(row), "r" + std::to_string(source)) << row;
    } else {
      EXPECT_EQ(rig.screen.rowText(row), std::string(80, ' ')) << row;
      EXPECT_EQ(rig.screen.attributeAt(0, row), 0x1F) << row;
      EXPECT_EQ(rig.screen.attributeAt(79, row), 0x1F) << row;
    }
  }
  EXPECT_EQ(rig.cursorX(), 0);
  EXPECT_EQ(rig.cursorY(), 9);
}

INSTANTIATE_TEST_SUITE_P(Rows, ConsoleShift,
                         ::testing::Values(ShiftCase{1, true}, ShiftCase{3, true},
                                           ShiftCase{5, true}, ShiftCase{6, true},
                                           ShiftCase{7, true}, ShiftCase{9, true},
                                           ShiftCase{10, false}, ShiftCase{14, false}));

TEST(ConsoleScroll, SubViewScrollsOnlyItsRowsAndLeavesWindow) {
  Rig rig(80, 20, 10);
  rig.printLines(9);
  rig.print("r9");
  // The window grows after the view's height was fixed at the first write.
  rig.screen.placeWindow(0, 14);
  for (int row = 10; row <= 14; ++row) markRow(rig.screen, row, 'M');
  rig.write("\r");  // the writer learns of the window at the end of a write
  const int windowCalls = rig.screen.calls().setWindowInfo;

  rig.print("", EndLine);
  EXPECT_EQ(rig.screen.trimmedRow(0), "r1");
  EXPECT_EQ(rig.screen.trimmedRow(8), "r9");
  EXPECT_EQ(rig.screen.trimmedRow(9), "");
  for (int row = 10; row <= 14; ++row) EXPECT_EQ(rig.screen.rowText(row)[0], 'M') << row;
  EXPECT_EQ(rig.screen.calls().setWindowInfo, windowCalls);
  EXPECT_EQ(rig.screen.window().bottom, 14);
  EXPECT_EQ(rig.cursorY(), 9);

  rig.write("\n\n\n\n\n\n\n");  // more than half the view
  EXPECT_EQ(rig.screen.trimmedRow(0), "r8");
  EXPECT_EQ(rig.screen.trimmedRow(1), "r9");
  for (int row = 2; row <= 9; ++row) EXPECT_EQ(rig.screen.trimmedRow(row), "") << row;
  EXPECT_EQ(rig.screen.rowText(10)[0], 'M');
}

// --- control bytes ---

struct TabCase {
  int startColumn;
  int spaces;
  int endX;
  int endY;
};

class ConsoleTab : public ::testing::TestWithParam<TabCase> {};

TEST_P(ConsoleTab, AdvancesToNextMultipleOfEight) {
  const TabCase c = GetParam();
  Rig rig;
  markRow(rig.screen, 0, '.');
  markRow(rig.screen, 1, '.');
  rig.screen.placeCursor(c.startColumn, 0);
  rig.write("\t");
  const std::string row = rig.screen.rowText(0);
  EXPECT_EQ(row.substr(static_cast<size_t>(c.startColumn), static_cast<size_t>(c.spaces)),
            std::string(static_cast<size_t>(c.spaces), ' '));
  EXPECT_EQ(std::count(row.begin(), row.end(), ' '), c.spaces);
  EXPECT_EQ(rig.cursorX(), c.endX);
  EXPECT_EQ(rig.cursorY(), c.endY);
  EXPECT_EQ(rig.screen.rowText(1), std::string(80, '.'));
}

INSTANTIATE_TEST_SUITE_P(Columns, ConsoleTab,
                         ::testing::Values(TabCase{0, 8, 8, 0}, TabCase{5, 3, 8, 0},
                                           TabCase{78, 2, 0, 1}, TabCase{72, 8, 0, 1}));

TEST(ConsoleControl, TabInsideTextCountsGatheredBytes) {
  Rig rig;
  rig.write("ab\tc\t\tz");
  EXPECT_EQ(rig.screen.trimmedRow(0), "ab      c               z");
  EXPECT_EQ(rig.screen.calls().writeCells, 1);
}

TEST(ConsoleControl, BackspaceMovesLeftWithoutErasingAndStopsAtEdge) {
  Rig rig;
  rig.write("ab\bX");
  EXPECT_EQ(rig.screen.trimmedRow(0), "aX");
  rig.write("cd\b");
  EXPECT_EQ(rig.screen.trimmedRow(0), "aXcd");
  EXPECT_EQ(rig.cursorX(), 3);

  rig.screen.placeCursor(0, 3);
  markRow(rig.screen, 3, '.');
  rig.write("\b\b");
  EXPECT_EQ(rig.cursorX(), 0);
  EXPECT_EQ(rig.cursorY(), 3);
  EXPECT_EQ(rig.screen.rowText(3), std::string(80, '.'));
}

TEST(ConsoleControl, BellBeepsAtOnceAndLeavesScreenAndCursor) {
  Rig rig;
  markRow(rig.screen, 0, '.');
  rig.screen.placeCursor(7, 0);
  const int cellWrites = rig.screen.calls().writeCells;
  rig.write("\a");
  ASSERT_EQ(rig.screen.beeps().size(), 1u);
  EXPECT_EQ(rig.screen.beeps()[0].frequencyHz, 1000);
  EXPECT_EQ(rig.screen.beeps()[0].durationMs, 250);
  EXPECT_EQ(rig.screen.calls().writeCells, cellWrites);
  EXPECT_EQ(rig.screen.rowText(0), std::string(80, '.'));
  EXPECT_EQ(rig.cursorX(), 7);

  // Gathered text is not flushed by the bell: it sounds before the text shows.
  rig.screen.placeCursor(0, 2);
  rig.write("ab\acd");
  ASSERT_EQ(rig.screen.beeps().size(), 2u);
  EXPECT_EQ(rig.screen.beeps()[1].cellWritesBefore, cellWrites);
  EXPECT_EQ(rig.screen.calls().writeCells, cellWrites + 1);
  EXPECT_EQ(rig.screen.trimmedRow(2), "abcd");
}

TEST(ConsoleControl, VerticalTabFormFeedAndNulAreCells) {
  Rig rig;
  const char text[] = {'a', '\v', '\f', '\0', 'b'};
  rig.write(std::string_view(text, sizeof text));
  EXPECT_EQ(rig.screen.rowText(0).substr(0, 5), std::string(text, sizeof text));
  EXPECT_EQ(rig.cursorX(), 5);
  EXPECT_EQ(rig.cursorY(), 0);
}

// --- long texts ---

std::string mixedText(size_t length) {
  std::string text;
  for (size_t i = 0; text.size() < length; ++i) {
    if (i % 97 == 96) {
      text += "\r\n";
    } else if (i % 41 == 40) {
      text += '\t';
    } else if (i % 53 == 52) {
      text += '\b';
    } else {
      text += static_cast<char>('A' + i % 26);
    }
  }
  return text;
}

void expectSameScreen(const MemoryScreen& a, const MemoryScreen& b) {
  for (int row = 0; row < a.height(); ++row) {
    EXPECT_EQ(a.rowText(row), b.rowText(row)) << row;
    for (int x = 0; x < a.width(); ++x) {
      ASSERT_EQ(a.attributeAt(x, row), b.attributeAt(x, row)) << x << "," << row;
    }
  }
  EXPECT_EQ(a.cursor().x, b.cursor().x);
  EXPECT_EQ(a.cursor().y, b.cursor().y);
}

TEST(ConsoleLongText, OverGatherBufferEqualsPiecewiseWrites) {
  for (const size_t pieceSize : {1u, 7u, 80u, 1023u, 1025u}) {
    for (const std::string& text : {std::string(3000, 'q') + "!", mixedText(5000)}) {
      Rig atOnce;
      Rig piecewise;
      atOnce.write(text);
      for (size_t at = 0; at < text.size(); at += pieceSize) {
        piecewise.write(std::string_view(text).substr(at, pieceSize));
      }
      SCOPED_TRACE(pieceSize);
      expectSameScreen(atOnce.screen, piecewise.screen);
    }
  }
}

TEST(ConsoleLongText, WritesRowSegmentsNotCharacters) {
  Rig rig(80, 100);
  rig.write(std::string(3000, 'q'));
  EXPECT_EQ(rig.screen.rowText(36), std::string(80, 'q'));
  EXPECT_EQ(rig.screen.trimmedRow(37), std::string(40, 'q'));
  // 38 rows, plus at most one extra segment where each 1024-byte gather ends.
  EXPECT_LE(rig.screen.calls().writeCells, 38 + 2);
}

// --- failures and a screen that changed under the writer ---

TEST(ConsoleFailure, FailedCellWriteDropsRestOfRun) {
  Rig rig;
  rig.screen.failCellWritesAfter(1);
  rig.write(std::string(100, 'a'));
  EXPECT_EQ(rig.screen.rowText(0), std::string(80, 'a'));
  EXPECT_EQ(rig.screen.trimmedRow(1), "");
  EXPECT_EQ(rig.cursorX(), 0);
  EXPECT_EQ(rig.cursorY(), 1);
}

TEST(ConsoleFailure, FailedQueryWritesAtViewTopLeftInAttributeSeven) {
  Rig rig;
  rig.screen.setCurrentAttribute(0x4E);
  rig.print("x", EndLine);
  rig.screen.failInfoQuery(true);
  rig.write("yz");
  EXPECT_EQ(rig.screen.trimmedRow(0), "yz");
  EXPECT_EQ(rig.screen.attributeAt(0, 0), 7);
  EXPECT_EQ(rig.cursorX(), 2);
  EXPECT_EQ(rig.cursorY(), 0);
}

TEST(ConsoleResize, WiderBufferWritesAtCursor) {
  Rig rig(40, 10);
  rig.print("a");
  rig.screen.resize(80, 10);
  rig.screen.placeCursor(60, 2);
  rig.print("bc");
  EXPECT_EQ(rig.screen.charAt(60, 2), 'b');
  EXPECT_EQ(rig.screen.charAt(61, 2), 'c');
  EXPECT_EQ(rig.cursorX(), 62);
}

TEST(ConsoleResize, ShorterBufferScrollsAtItsNewBottom) {
  Rig rig(80, 25);
  rig.print("a");
  rig.screen.resize(80, 10);
  rig.screen.placeCursor(0, 9);
  rig.print("x", EndLine);
  rig.print("y");
  EXPECT_EQ(rig.screen.trimmedRow(8), "x");
  EXPECT_EQ(rig.screen.trimmedRow(9), "y");
  EXPECT_EQ(rig.cursorY(), 9);
}

}  // namespace
}  // namespace kp
