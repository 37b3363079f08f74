// What the terminal device sends, and when: cells kept across console writes
// until some time has passed or output is flushed, and the part a fatal
// signal may send.
#include <gtest/gtest.h>

#include <atomic>
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

int64_t fakeNow = 0;
int64_t fakeClock() {
  return fakeNow;
}

class TerminalOutput : public ::testing::Test {
 protected:
  TerminalOutput() : pty_(40, 10), modes_(pty_.slave()) { fakeNow = 1000; }

  // A device on the pty whose cursor report put the cursor at the top left.
  std::unique_ptr<TerminalDevice> start(int columns = 40, int rows = 10) {
    struct winsize size {};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    ioctl(pty_.slave(), TIOCSWINSZ, &size);
    TerminalDeviceOptions options;
    options.term = "xterm";
    options.modes = &modes_;
    options.input = &input_;
    options.clockMs = &fakeClock;
    auto device = std::make_unique<TerminalDevice>(pty_.slave(), pty_.slave(), options);
    std::thread answer([&] {
      pty_.readUntil("\x1b[6n", 1000);
      pty_.type("\x1b[1;1R");
    });
    device->startUp();
    answer.join();
    return device;
  }

  PtyPair pty_;
  TerminalModes modes_;
  TerminalInput input_;
};

TEST_F(TerminalOutput, CellsWaitForTheIntervalOrAFlush) {
  ASSERT_TRUE(pty_.ok());
  auto device = start();
  ASSERT_TRUE(device->writeCells({0, 0}, "ab", 2, 7));
  ASSERT_TRUE(device->setCursorPosition({2, 0}));
  device->endOfWrite();  // the first write goes out at once
  EXPECT_EQ(pty_.drain(), "\x1b[1;1Hab");
  const size_t calls = device->writeCalls();

  fakeNow += 10;
  ASSERT_TRUE(device->writeCells({2, 0}, "cd", 2, 0x0C));
  ASSERT_TRUE(device->setCursorPosition({4, 0}));
  device->endOfWrite();
  fakeNow += 10;
  ASSERT_TRUE(device->writeCells({4, 0}, "ef", 2, 0x0C));
  ASSERT_TRUE(device->setCursorPosition({6, 0}));
  device->endOfWrite();
  EXPECT_EQ(pty_.drain(), "");
  EXPECT_EQ(device->writeCalls(), calls);

  fakeNow += 10;  // 30 ms since the last send
  ASSERT_TRUE(device->writeCells({6, 0}, "g", 1, 7));
  ASSERT_TRUE(device->setCursorPosition({7, 0}));
  device->endOfWrite();
  EXPECT_EQ(pty_.drain(), "\x1b[91mcdef\x1b[39mg");
  EXPECT_EQ(device->writeCalls(), calls + 1);

  // A move of the cursor alone is sent too, with the colours at their defaults.
  ASSERT_TRUE(device->writeCells({0, 1}, "h", 1, 0x0C));
  ASSERT_TRUE(device->setCursorPosition({1, 1}));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[2;1H\x1b[91mh\x1b[0m");
  ASSERT_TRUE(device->setCursorPosition({5, 5}));
  device->flushOutput();
  EXPECT_EQ(pty_.drain(), "\x1b[6;6H");
  device->flushOutput();
  EXPECT_EQ(device->writeCalls(), calls + 3);  // nothing left to send
}

// Within the interval, cells go once enough of them is gathered, so that a
// long table keeps the terminal drawing while the program goes on.
TEST_F(TerminalOutput, GatheredCellsGoWithinTheIntervalOnceEnoughAreThere) {
  ASSERT_TRUE(pty_.ok());
  auto device = start();
  ASSERT_TRUE(device->writeCells({0, 0}, "a", 1, 7));
  device->endOfWrite();
  pty_.drain();
  const size_t calls = device->writeCalls();
  // The terminal's side reads meanwhile, as a terminal would: a send of this
  // size may not fit what the pty holds.
  std::atomic<bool> stop{false};
  std::string received;
  std::thread terminal([&] {
    while (!stop) received += pty_.drain(10);
  });
  const std::string rows[] = {std::string(40, 'x'), std::string(40, 'y')};
  size_t writes = 0;
  while (device->writeCalls() == calls && writes < 10000) {
    if (!device->writeCells({0, static_cast<int16_t>(writes % 10)}, rows[writes % 2].data(), 40,
                            7)) {
      break;
    }
    device->endOfWrite();
    ++writes;
  }
  stop = true;
  terminal.join();
  received += pty_.drain(50);
  EXPECT_EQ(device->writeCalls(), calls + 1);
  EXPECT_GE(received.size(), TerminalDevice::kTerminalSendSize);
  EXPECT_LE(writes * 40, TerminalDevice::kTerminalSendSize) << "sent later than at the size";
}

TEST_F(TerminalOutput, ASignalSendsTheWholeCallsOnceThenColoursReset) {
  ASSERT_TRUE(pty_.ok());
  auto device = start();
  ASSERT_TRUE(device->writeCells({0, 2}, "kg", 2, 0x0C));
  device->sendFromSignal();
  device->resetColoursFromSignal();
  EXPECT_EQ(pty_.drain(), "\x1b[3;1H\x1b[91mkg\x1b[0m");
  device->sendFromSignal();  // a second ending signal sends nothing again
  EXPECT_EQ(pty_.drain(), "");
}

TEST(TerminalDumbOutput, ALongTableStillGoesByOnADumbTerminal) {
  PtyPair pty(40, 10);
  ASSERT_TRUE(pty.ok());
  TerminalDeviceOptions options;
  options.term = "dumb";
  options.clockMs = &fakeClock;
  fakeNow = 1000;
  TerminalDevice device(pty.slave(), pty.slave(), options);
  size_t written = 0;
  ASSERT_TRUE(device.writeRaw("row 1\r\n", 7, &written));
  device.endOfWrite();
  EXPECT_EQ(pty.drain(), "row 1\r\n");
  fakeNow += 10;
  ASSERT_TRUE(device.writeRaw("row 2\r\n", 7, &written));
  device.endOfWrite();
  EXPECT_EQ(pty.drain(), "");
  fakeNow += 20;
  ASSERT_TRUE(device.writeRaw("row 3\r\n", 7, &written));
  device.endOfWrite();
  EXPECT_EQ(pty.drain(), "row 2\r\nrow 3\r\n");
}

// A window of one row writes raw; the recipe's bytes must still not drive the terminal.
TEST_F(TerminalOutput, RawTextOntoAOneRowTerminalIsDefused) {
  ASSERT_TRUE(pty_.ok());
  auto device = start(40, 1);
  FileTable files;
  Console console(files, *device);
  const std::string text("a\x1b[2Jb\x9b", 7);
  console.printText(0, text.data(), text.size(), EndLine);
  console.flush();
  const std::string out = pty_.drain();
  EXPECT_EQ(out.find("\x1b[2J"), std::string::npos) << out;
  EXPECT_NE(out.find("a?[2Jb"), std::string::npos) << out;
}

// One cluster of emoji joined by ZWJ is wider than the whole row: it goes
// character by character over the rows instead of waiting for a row it fits.
TEST_F(TerminalOutput, AClusterWiderThanTheRowStillGoesOut) {
  ASSERT_TRUE(pty_.ok());
  auto device = start(6, 10);
  FileTable files;
  Console console(files, *device);
  std::string cluster = "\xf0\x9f\x98\x80";
  for (int i = 0; i < 4; ++i) cluster += "\xe2\x80\x8d\xf0\x9f\x98\x80";  // 10 cells
  console.printText(0, cluster.data(), cluster.size(), EndLine);
  console.flush();
  std::string out = pty_.drain();
  size_t emoji = 0;
  for (size_t at = 0; (at = out.find("\xf0\x9f\x98\x80", at)) != std::string::npos; ++at) ++emoji;
  EXPECT_EQ(emoji, 5u) << out;
}

}  // namespace
}  // namespace kp::posix
