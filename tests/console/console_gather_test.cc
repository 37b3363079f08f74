// Cells gathered into runs, and redirected pieces copied into a lent buffer,
// must print exactly what the same pieces print one at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "console/console.h"
#include "support/memory_screen.h"

namespace kp {
namespace {

using test::MemoryScreen;

struct Rig {
  Rig(int width, int height, int windowRows) : screen(width, height, windowRows) {}
  void print(std::string_view text, int endFlags = EndNothing) {
    console.printText(0, text.data(), text.size(), endFlags);
  }
  int32_t column() { return console.column(); }

  FileTable files;
  MemoryScreen screen;
  Console console{files, screen};
};

void expectSameScreen(const MemoryScreen& a, const MemoryScreen& b) {
  for (int row = 0; row < a.height(); ++row) {
    ASSERT_EQ(a.rowText(row), b.rowText(row)) << "row " << row;
    for (int x = 0; x < a.width(); ++x) {
      ASSERT_EQ(a.attributeAt(x, row), b.attributeAt(x, row)) << x << "," << row;
    }
  }
  EXPECT_EQ(a.cursor().x, b.cursor().x);
  EXPECT_EQ(a.cursor().y, b.cursor().y);
  EXPECT_EQ(a.window().top, b.window().top);
  EXPECT_EQ(a.currentAttribute(), b.currentAttribute());
  EXPECT_EQ(a.beeps().size(), b.beeps().size());
}

// A table-like piece now and then, else short texts, rarely with a control byte.
std::string randomPiece(std::mt19937& random, int width) {
  std::uniform_int_distribution<int> kind(0, 19);
  const int k = kind(random);
  size_t length = k < 12 ? random() % 5 : k < 18 ? random() % 30 : random() % (2 * width + 2);
  std::string text;
  for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + random() % 26);
  if (k == 19 && !text.empty()) {
    static const char kControls[] = {'\a', '\b', '\t', '\n', '\r', '\v', '\0'};
    text[random() % text.size()] = kControls[random() % sizeof kControls];
  }
  return text;
}

// One step of a random print sequence, the same on both rigs.
void randomStep(std::mt19937& random, int width, Rig& a, Rig& b) {
  switch (random() % 10) {
    case 0: {
      const int colour = random() % 2 == 0 ? kLightGrey : kLightRed;
      a.console.setColour(colour, 0, kBackgroundOmitted);
      b.console.setColour(colour, 0, kBackgroundOmitted);
      break;
    }
    case 1: {
      const int flags = random() % 3 == 0 ? EndZone : EndLine;
      a.console.printLineEnd(0, flags);
      b.console.printLineEnd(0, flags);
      break;
    }
    default: {
      const std::string piece = randomPiece(random, width);
      a.print(piece);
      b.print(piece);
      break;
    }
  }
}

TEST(ConsoleGather, RunsPrintWhatPiecesPrintOneAtATime) {
  std::mt19937 random(20240611);
  int fewerWrites = 0;
  for (int round = 0; round < 300; ++round) {
    const int width = 8 + static_cast<int>(random() % 60);
    const int height = 2 + static_cast<int>(random() % 12);
    const int windowRows = static_cast<int>(random() % (height + 1));
    Rig gathered(width, height, windowRows);
    Rig placed(width, height, windowRows);
    const int startColumn = static_cast<int>(random() % width);
    for (Rig* rig : {&gathered, &placed}) {
      rig->screen.placeCursor(startColumn, 0);
      rig->screen.setCurrentAttribute(0x1F);
    }
    const int steps = 1 + static_cast<int>(random() % 120);
    for (int step = 0; step < steps; ++step) {
      randomStep(random, width, gathered, placed);
      placed.console.flush();
      ASSERT_EQ(gathered.column(), placed.column()) << "round " << round << " step " << step;
    }
    gathered.console.flush();
    SCOPED_TRACE("round " + std::to_string(round));
    expectSameScreen(gathered.screen, placed.screen);
    if (gathered.screen.calls().writeCells < placed.screen.calls().writeCells) ++fewerWrites;
  }
  EXPECT_GT(fewerWrites, 100);  // the runs did gather
}

TEST(ConsoleGather, RedirectedPiecesInTheLentBufferAreThePiecesWritten) {
  std::mt19937 random(7);
  for (int round = 0; round < 100; ++round) {
    Rig lent(80, 25, 0);
    Rig plain(80, 25, 0);
    lent.screen.setRedirected(true);
    plain.screen.setRedirected(true);
    lent.screen.lendOutputBuffer(1 + random() % 200);  // small, so that it fills often
    const int steps = 1 + static_cast<int>(random() % 200);
    for (int step = 0; step < steps; ++step) {
      randomStep(random, 80, lent, plain);
      ASSERT_EQ(lent.column(), plain.column()) << "round " << round << " step " << step;
      ASSERT_EQ(lent.files.lastError(), Ok);
    }
    lent.console.flush();
    ASSERT_EQ(lent.screen.rawOutput(), plain.screen.rawOutput()) << "round " << round;
  }
}

// The console lends its buffer only for number 0, only once output is found
// redirected into a device buffer, and only while its slot is its own.
// Redirected output lends the device's buffer where there is one; the
// screen lends the run.
TEST(ConsoleLending, TheDevicesBufferOrTheRunIsLent) {
  struct Case {
    bool redirected;
    size_t deviceBuffer;  // 0: the device keeps none
    bool lent;
  };
  for (const Case& c : {Case{false, 64, true}, Case{true, 0, false}, Case{true, 64, true}}) {
    Rig rig(80, 25, 0);
    rig.screen.setRedirected(c.redirected);
    if (c.deviceBuffer != 0) rig.screen.lendOutputBuffer(c.deviceBuffer);
    EXPECT_EQ(rig.console.lentBuffer(0), nullptr) << "nothing before the first print";
    rig.print("x");
    EXPECT_EQ(rig.console.lentBuffer(0) != nullptr, c.lent) << c.redirected << c.deviceBuffer;
    EXPECT_EQ(rig.console.lentBuffer(1), nullptr);
    EXPECT_EQ(rig.console.lentBuffer(-1), nullptr);
  }
}

// Bytes written with writeConsole itself move no column; pieces printed to
// number 0 do, also those waiting in the lent buffer to be counted.
TEST(ConsoleLending, TheColumnCountsPrintedPiecesOnly) {
  Rig lent(80, 25, 0);
  Rig plain(80, 25, 0);
  for (Rig* rig : {&lent, &plain}) rig->screen.setRedirected(true);
  lent.screen.lendOutputBuffer(50);
  const struct {
    bool print;  // else writeConsole
    const char* text;
  } steps[] = {{true, "abc"},   {false, "\r\n12345"},
               {true, "de"},    {false, "xyz"},
               {true, "fg\rh"}, {true, "0123456789012345678901234567890123456789"},
               {false, "\n"},   {true, "i"}};
  for (const auto& step : steps) {
    for (Rig* rig : {&lent, &plain}) {
      if (step.print) {
        rig->print(step.text);
      } else {
        rig->console.writeConsole(step.text, std::strlen(step.text));
      }
    }
    ASSERT_EQ(lent.column(), plain.column()) << step.text;
  }
  EXPECT_EQ(plain.column(), 42) << "h, 40 digits and i since the last printed CR";
  lent.console.flush();
  plain.console.flush();
  EXPECT_EQ(lent.screen.rawOutput(), plain.screen.rawOutput());
}

// A row in the shape of the table: fields in two colours, then a line end.
TEST(ConsoleGather, OneCellWritePerColourOfARow) {
  Rig rig(80, 25, 0);
  rig.console.setColour(kLightGrey, 0, kBackgroundOmitted);
  rig.print("", EndLine);  // the first write tells where the cursor is
  const int before = rig.screen.calls().writeCells;
  rig.print("   1");
  rig.print("    250 ");
  rig.print("g ");
  rig.console.setColour(kLightGrey, 0, kBackgroundOmitted);  // no change: the run goes on
  rig.print("Mehl");
  rig.console.setColour(kLightRed, 0, kBackgroundOmitted);
  rig.print("kg ");
  EXPECT_EQ(rig.screen.calls().writeCells, before + 1);  // the grey run, placed at the change
  rig.console.printLineEnd(0, EndLine);
  EXPECT_EQ(rig.screen.calls().writeCells, before + 2);  // the red run, placed before the line end
  EXPECT_EQ(rig.screen.trimmedRow(1), "   1    250 g Mehlkg");
  EXPECT_EQ(rig.screen.attributeAt(17, 1), kLightGrey);
  EXPECT_EQ(rig.screen.attributeAt(18, 1), kLightRed);
  EXPECT_EQ(rig.screen.cursor().y, 2);
}

TEST(ConsoleGather, ARunGoesOnAcrossTheRowsEndAndZonesReadEachPiece) {
  Rig rig(40, 5, 0);
  rig.print("", EndLine);
  rig.print("0123456789");
  rig.print("abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(rig.column(), 36);
  EXPECT_EQ(rig.screen.trimmedRow(1), "");  // still gathered
  rig.print("XYZWV");  // crosses the row's end: gathered all the same
  EXPECT_EQ(rig.screen.trimmedRow(1), "");
  EXPECT_EQ(rig.column(), 1);
  const int writes = rig.screen.calls().writeCells;
  rig.console.printLineEnd(0, EndZone);  // pads from the column of the last piece
  EXPECT_EQ(rig.screen.calls().writeCells, writes + 2);  // the run's two rows
  EXPECT_EQ(rig.screen.rowText(1), "0123456789abcdefghijklmnopqrstuvwxyzXYZW");
  rig.print("!");
  rig.console.flush();
  EXPECT_EQ(rig.screen.trimmedRow(2), "V             !");
}

}  // namespace
}  // namespace kp
