#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "console/console.h"
#include "input/file_table.h"
#include "platform/posix/console_device-posix.h"
#include "platform/pty_pair.h"

namespace kp::posix {
namespace {

using kp::testing::PtyPair;

struct ColourCase {
  int index;
  int foreground;
  int background;
};

TEST(SgrColours, RedAndBlueSwapDefaultsForGreyAndBlack) {
  const ColourCase cases[] = {{0, 30, 49},   {1, 34, 44},   {2, 32, 42},   {3, 36, 46},
                              {4, 31, 41},   {5, 35, 45},   {6, 33, 43},   {7, 39, 47},
                              {8, 90, 100},  {9, 94, 104},  {10, 92, 102}, {11, 96, 106},
                              {12, 91, 101}, {13, 95, 105}, {14, 93, 103}, {15, 97, 107}};
  for (const ColourCase& c : cases) {
    EXPECT_EQ(foregroundSgr(c.index), c.foreground) << c.index;
    EXPECT_EQ(backgroundSgr(c.index), c.background) << c.index;
  }
}

// A device on a pty whose cursor report placed the cursor at row 1, column 1.
class TerminalOnPty : public ::testing::Test {
 protected:
  TerminalOnPty() : pty_(40, 10), modes_(pty_.slave()) {}

  std::unique_ptr<TerminalDevice> start(const char* reply, bool utf8 = true) {
    TerminalDeviceOptions options;
    options.term = "xterm";
    options.utf8 = utf8;
    options.modes = &modes_;
    options.input = &input_;
    auto device = std::make_unique<TerminalDevice>(pty_.slave(), pty_.slave(), options);
    std::thread answer([&] {
      query_ = pty_.readUntil("\x1b[6n", 1000);
      if (reply != nullptr) pty_.type(reply);
    });
    device->startUp();
    answer.join();
    return device;
  }

  ScreenBufferInfo info(TerminalDevice& device) {
    ScreenBufferInfo result;
    EXPECT_TRUE(device.getScreenBufferInfo(&result));
    return result;
  }

  // Answers the next cursor query with `reply` while `body` runs.
  template <typename Body>
  void answeringNextQuery(const char* reply, Body body) {
    std::thread answer([&] {
      query_ = pty_.readUntil("\x1b[6n", 3000);
      pty_.type(reply);
    });
    body();
    answer.join();
  }

  void resize(int columns, int rows) {
    struct winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    ioctl(pty_.slave(), TIOCSWINSZ, &size);
  }

  // Keys the input holds, as the key wait would take them.
  std::string typed() {
    std::string text;
    KeyEvent key;
    while (input_.nextKey(true, &key)) text += static_cast<char>(key.character);
    return text;
  }

  PtyPair pty_;
  TerminalModes modes_;
  TerminalInput input_;
  std::string query_;
};

TEST_F(TerminalOnPty, WindowIsTheScreenAndCursorComesFromTheReport) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[3;7R");
  EXPECT_EQ(query_, "\x1b[6n");
  const ScreenBufferInfo screen = info(*device);
  EXPECT_EQ(screen.size.x, 40);
  EXPECT_EQ(screen.size.y, 10);
  EXPECT_EQ(screen.window.left, 0);
  EXPECT_EQ(screen.window.top, 0);
  EXPECT_EQ(screen.window.right, 39);
  EXPECT_EQ(screen.window.bottom, 9);
  EXPECT_EQ(screen.cursor.x, 6);
  EXPECT_EQ(screen.cursor.y, 2);
  EXPECT_EQ(screen.attribute, 7);
}

TEST_F(TerminalOnPty, TypingAroundTheReportStaysKeyboardInput) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("xy\x1b[2;2Rz");
  EXPECT_EQ(info(*device).cursor.x, 1);
  EXPECT_EQ(typed(), "xyz");
}

TEST_F(TerminalOnPty, UnansweredQueryTimesOutToTheBottomRow) {
  ASSERT_TRUE(pty_.ok());
  const auto before = std::chrono::steady_clock::now();
  auto device = start(nullptr);
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  const ScreenBufferInfo screen = info(*device);
  EXPECT_EQ(screen.cursor.x, 0);
  EXPECT_EQ(screen.cursor.y, 9);
}

TEST_F(TerminalOnPty, CellsAreAddressedColouredAndColoursEndAtDefault) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[1;1R");
  ASSERT_TRUE(device->writeCells({3, 1}, "kg ", 3, 0x0C));
  ASSERT_TRUE(device->writeCells({6, 1}, "Mehl", 4, 0x07));
  ASSERT_TRUE(device->setCursorPosition({10, 1}));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[2;4H\x1b[91mkg \x1b[39mMehl");

  // Light red on blue; the cursor left elsewhere is put where the writer wants it.
  ASSERT_TRUE(device->writeCells({0, 2}, "x", 1, 0x1C));
  ASSERT_TRUE(device->setCursorPosition({5, 5}));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[3;1H\x1b[91;44mx\x1b[6;6H\x1b[0m");
}

TEST_F(TerminalOnPty, CellBytesNeverActAsControls) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[1;1R");
  const std::string recipe("\x1b]0;title\x07\x1b[2J\r\n\t\x7f\x00\xfc", 20);
  ASSERT_TRUE(device->writeCells({0, 0}, recipe.data(), static_cast<int>(recipe.size()), 7));
  device->flushOutput();
  const std::string out = pty_.drain();
  EXPECT_EQ(out.find("\x1b]"), std::string::npos);
  EXPECT_EQ(out.find("\x1b[2J"), std::string::npos);
  // A lone 0xFC is no UTF-8 either.
  EXPECT_NE(out.find("?]0;title??[2J??????"), std::string::npos) << out;
}

TEST_F(TerminalOnPty, C1ControlsAreDefusedInBothEncodings) {
  ASSERT_TRUE(pty_.ok());
  auto utf8 = start("\x1b[1;1R", true);
  // The UTF-8 form of CSI (C2 9B) would be obeyed, a lone 9B is no UTF-8; real text passes.
  ASSERT_TRUE(utf8->writeCells({0, 0},
                               "\xc2\x9b"
                               "2J\x9b\xc3\xbc",
                               7, 7));
  utf8->flushOutput();
  EXPECT_NE(pty_.drain().find("?2J?\xc3\xbc"), std::string::npos);

  auto eightBit = start("\x1b[1;1R", false);
  ASSERT_TRUE(eightBit->writeCells({0, 0},
                                   "\x9b"
                                   "2J\x84\xfc",
                                   5, 7));
  eightBit->flushOutput();
  EXPECT_NE(pty_.drain().find("?2J?\xfc"), std::string::npos);
}

TEST_F(TerminalOnPty, FillPaintsCellsAndBufferShiftIsLineFeedsOnTheBottomRow) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[1;1R");
  ASSERT_TRUE(device->fillCells({2, 4}, 3, ' ', 0x1C));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[5;3H\x1b[91;44m   \x1b[1;1H\x1b[0m");

  ASSERT_TRUE(device->scrollRect({0, 2, 39, 9}, {0, 0}, ' ', 0x07));
  ASSERT_TRUE(device->setCursorPosition({0, 9}));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[10;1H\n\n");

  // A coloured fill attribute is in force while the new rows appear.
  ASSERT_TRUE(device->scrollRect({0, 1, 39, 9}, {0, 0}, ' ', 0x47));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[41m\n\x1b[0m");
  // What a terminal cannot do with line feeds is refused.
  EXPECT_FALSE(device->scrollRect({5, 1, 39, 9}, {5, 0}, ' ', 7));
}

TEST_F(TerminalOnPty, BellIsTheTerminalsBellByte) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[1;1R");
  device->beep(1000, 250);
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\a\x1b[1;1H");  // the cursor is placed after the report
  EXPECT_TRUE(device->setWindowInfo({0, 0, 39, 9}));
  EXPECT_FALSE(device->setCursorPosition({40, 0}));
}

// A taller terminal has moved the rows down (it pulls older ones back from
// its history): the cursor is asked for again, and the window keeps its
// height at the bottom of the screen, where the writer's rows now are.
TEST_F(TerminalOnPty, ResizeAsksForTheCursorAgainAndKeepsTheWindowAtTheBottom) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[10;1R");
  device->endOfWrite();  // a write has put the terminal's cursor on the writer's
  pty_.drain();
  resize(60, 20);
  EXPECT_EQ(info(*device).size.x, 40);  // not told yet
  device->markSizeStale();
  ScreenBufferInfo taller;
  answeringNextQuery("\x1b[20;1R", [&] { taller = info(*device); });
  EXPECT_EQ(query_, "\x1b[6n");  // asked before any addressing
  EXPECT_EQ(taller.size.x, 60);
  EXPECT_EQ(taller.size.y, 20);
  EXPECT_EQ(taller.cursor.y, 19);
  EXPECT_EQ(taller.window.top, 10);
  EXPECT_EQ(taller.window.bottom, 19);
  EXPECT_EQ(taller.window.right, 59);

  device->endOfWrite();
  resize(60, 6);  // shorter than the cursor's row
  device->markSizeStale();
  ScreenBufferInfo shorter;
  answeringNextQuery("\x1b[6;3R", [&] { shorter = info(*device); });
  EXPECT_EQ(shorter.window.top, 0);
  EXPECT_EQ(shorter.window.bottom, 5);
  EXPECT_EQ(shorter.cursor.x, 2);
  EXPECT_EQ(shorter.cursor.y, 5);
}

// The answer tells where the terminal has its cursor. After a line end that
// did not scroll, only the writer's cursor has moved: the question waits
// until the end of the write has put the terminal's cursor there too.
TEST_F(TerminalOnPty, ChangeIsAskedAboutWithTheTerminalsCursorOnTheWriters) {
  ASSERT_TRUE(pty_.ok());
  auto device = start("\x1b[1;1R");
  ASSERT_TRUE(device->writeCells({0, 0}, "ab", 2, 7));
  device->markSizeStale();
  ASSERT_TRUE(device->setCursorPosition({0, 1}));
  // The writer's look at the end of its write: what was drawn goes out, the
  // terminal's cursor is put on the writer's, then the question follows.
  ScreenBufferInfo next;
  answeringNextQuery("\x1b[4;1R", [&] { next = info(*device); });
  const std::string drawnPlacedThenAsked = "ab\x1b[2;1H\x1b[6n";
  ASSERT_GE(query_.size(), drawnPlacedThenAsked.size());
  EXPECT_EQ(query_.substr(query_.size() - drawnPlacedThenAsked.size()), drawnPlacedThenAsked);
  EXPECT_EQ(next.cursor.x, 0);
  EXPECT_EQ(next.cursor.y, 3);
}

TEST_F(TerminalOnPty, LateAnswerIsDroppedWhenTheCursorIsAskedForAgain) {
  ASSERT_TRUE(pty_.ok());
  auto device = start(nullptr);  // gave up waiting
  device->endOfWrite();
  EXPECT_EQ(input_.reportsOwed(), 1);
  // The late answer comes while the table prints, with some typing.
  pty_.type("a\x1b[3;3Rb");
  struct pollfd p = {pty_.slave(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 3000), 1);
  device->markSizeStale();
  ScreenBufferInfo screen;
  answeringNextQuery("\x1b[7;5R", [&] { screen = info(*device); });
  EXPECT_EQ(screen.cursor.x, 4);
  EXPECT_EQ(screen.cursor.y, 6);
  EXPECT_EQ(input_.reportsOwed(), 0);
  EXPECT_EQ(typed(), "ab");
}

TEST_F(TerminalOnPty, TerminalThatDoesNotAnswerIsNotAskedAgain) {
  ASSERT_TRUE(pty_.ok());
  auto device = start(nullptr);
  device->endOfWrite();
  pty_.drain();
  device->markSizeStale();
  const ScreenBufferInfo screen = info(*device);
  EXPECT_EQ(screen.cursor.y, 9);  // the estimate stays
  EXPECT_EQ(pty_.drain().find("\x1b[6n"), std::string::npos);
  EXPECT_EQ(input_.reportsOwed(), 1);
}

TEST_F(TerminalOnPty, NarrowTerminalWrapsALongRow) {
  ASSERT_TRUE(pty_.ok());
  struct winsize size {};
  size.ws_col = 60;
  size.ws_row = 10;
  ioctl(pty_.slave(), TIOCSWINSZ, &size);
  auto device = start("\x1b[1;1R");
  FileTable files;
  Console console(files, *device);
  const std::string row(77, 'r');
  console.printText(0, row.data(), row.size(), 1);
  console.flush();
  const std::string out = pty_.drain();
  EXPECT_NE(out.find("\x1b[1;1H" + std::string(60, 'r') + "\x1b[2;1H" + std::string(17, 'r')),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\x1b[3;1H"), std::string::npos) << out;  // after the line end
}

// --- Raw output ------------------------------------------------------------

TerminalDeviceOptions rawOptions() {
  TerminalDeviceOptions options;
  options.term = "xterm";
  return options;
}

TEST(RawOutput, FileOrPipeGetsExactBytesInFewWrites) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) received.append(buffer, n);
  });
  auto device = std::make_unique<TerminalDevice>(-1, fds[1], rawOptions());
  ScreenBufferInfo info;
  EXPECT_FALSE(device->getScreenBufferInfo(&info));
  EXPECT_FALSE(device->setTextAttribute(12));
  EXPECT_FALSE(device->writeCells({0, 0}, "x", 1, 12));

  const std::string row = std::string(79, 'z') + "\r\n";
  for (int i = 0; i < 10000; ++i) {
    size_t written = 0;
    ASSERT_TRUE(device->writeRaw(row.data(), row.size(), &written));
    ASSERT_EQ(written, row.size());
    device->endOfWrite();  // the console's end of each write: no flush here
  }
  const size_t callsBefore = device->writeCalls();
  device->flushOutput();
  close(fds[1]);
  reader.join();
  EXPECT_EQ(received.size(), 810000u);
  EXPECT_EQ(received.find('\x1b'), std::string::npos);
  // One write a full buffer, none a row.
  const size_t blocks = 810000 / TerminalDevice::kBufferSize + 1;
  EXPECT_LE(callsBefore, blocks);
  EXPECT_LE(device->writeCalls(), blocks);
  EXPECT_EQ(device->bytesWritten(), 810000u);
  close(fds[0]);
}

TEST(RawOutput, ClosedPipeDropsTheRestSilently) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  auto device = std::make_unique<TerminalDevice>(-1, fds[1], rawOptions());
  size_t written = 0;
  EXPECT_TRUE(device->writeRaw("abc", 3, &written));
  device->flushOutput();
  EXPECT_FALSE(device->writeRaw("def", 3, &written));
  EXPECT_EQ(written, 0u);
  const size_t calls = device->writeCalls();
  device->flushOutput();
  EXPECT_EQ(device->writeCalls(), calls);  // nothing tried after the failure
  close(fds[1]);
  sigaction(SIGPIPE, &previous, nullptr);
}

TEST(RawOutput, DumbTerminalGetsNoEscapeSequencesAndNoneFromTheText) {
  PtyPair pty(40, 10);
  ASSERT_TRUE(pty.ok());
  TerminalDeviceOptions options;
  options.term = "dumb";
  TerminalDevice device(pty.slave(), pty.slave(), options);
  ScreenBufferInfo info;
  EXPECT_FALSE(device.getScreenBufferInfo(&info));
  size_t written = 0;
  ASSERT_TRUE(device.writeRaw("a\x1b[2Jb\r\n", 8, &written));
  device.flushOutput();
  EXPECT_EQ(pty.drain(), "a?[2Jb\r\n");
}

}  // namespace
}  // namespace kp::posix
