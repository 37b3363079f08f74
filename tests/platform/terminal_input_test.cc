// The terminal's input as the key source and the cursor queries share it:
// reports owed to queries that gave up are dropped wherever they turn up,
// and a query takes out only its own answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/terminal_input-posix.h"

namespace kp::posix {
namespace {

class InputPipe : public ::testing::Test {
 protected:
  InputPipe() { EXPECT_EQ(pipe(fds_), 0); }
  ~InputPipe() override {
    close(fds_[0]);
    close(fds_[1]);
  }
  void send(const std::string& bytes) {
    ssize_t n = write(fds_[1], bytes.data(), bytes.size());
    (void)n;
  }
  int in() const { return fds_[0]; }

  // The characters of the keys left, as the wait would take them.
  std::string keys(bool final = true) {
    std::string text;
    KeyEvent key;
    while (input_.nextKey(final, &key)) text += static_cast<char>(key.character);
    return text;
  }

  // A query that gives up at once: its report is owed.
  void oweOne() {
    int row = 0;
    int column = 0;
    EXPECT_FALSE(input_.awaitCursorReport(in(), 0, &row, &column));
  }

  TerminalInput input_;
  int fds_[2] = {-1, -1};
};

TEST_F(InputPipe, QueryTakesItsReportAndLeavesTheTypingInOrder) {
  send("ab\x1b[3;4R\x1b[Icd");
  int row = 0;
  int column = 0;
  ASSERT_TRUE(input_.awaitCursorReport(in(), 1000, &row, &column));
  EXPECT_EQ(row, 3);
  EXPECT_EQ(column, 4);
  EXPECT_EQ(input_.reportsOwed(), 0);
  EXPECT_EQ(keys(), "abcd");  // the focus report between gives no key
}

TEST_F(InputPipe, LateReportIsDroppedAndTheNextQueryGetsItsOwn) {
  oweOne();
  EXPECT_EQ(input_.reportsOwed(), 1);
  EXPECT_FALSE(input_.terminalAnswers());
  send("x\x1b[9;9Ry\x1b[5;6R");
  int row = 0;
  int column = 0;
  ASSERT_TRUE(input_.awaitCursorReport(in(), 1000, &row, &column));
  EXPECT_EQ(row, 5);
  EXPECT_EQ(column, 6);
  EXPECT_EQ(input_.reportsOwed(), 0);
  EXPECT_TRUE(input_.terminalAnswers());
  EXPECT_EQ(keys(), "xy");
}

// The user's Esc, then the answer in two reads: the query waits for the
// rest and leaves the Esc key.
TEST_F(InputPipe, ReportSplitOverTwoReadsIsWaitedForBehindAnEsc) {
  send("\x1b\x1b[12");
  std::thread rest([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    send(";40R");
  });
  int row = 0;
  int column = 0;
  EXPECT_TRUE(input_.awaitCursorReport(in(), 2000, &row, &column));
  rest.join();
  EXPECT_EQ(row, 12);
  EXPECT_EQ(column, 40);
  EXPECT_EQ(keys(false), "");  // a lone ESC waits for the next look
  EXPECT_EQ(keys(true), "\x1b");
}

TEST_F(InputPipe, ReportsDuringTheWaitAreNeverKeys) {
  oweOne();
  // The owed one, then one nobody asked for.
  send("\x1b[3;4R\x1b[7;2R");
  size_t available = 0;
  unsigned char* to = input_.room(&available);
  const ssize_t n = read(in(), to, available);
  ASSERT_GT(n, 0);
  input_.added(static_cast<size_t>(n));
  EXPECT_EQ(keys(), "");
  EXPECT_EQ(input_.reportsOwed(), 0);
  EXPECT_EQ(input_.size(), 0u);
}

TEST_F(InputPipe, FullQueueGivesUpWithoutWaitingOutTheTime) {
  const std::string typing(TerminalInput::kCapacity, 'x');
  input_.append(reinterpret_cast<const unsigned char*>(typing.data()), typing.size());
  send("\x1b[3;4R");
  const auto before = std::chrono::steady_clock::now();
  int row = 0;
  int column = 0;
  EXPECT_FALSE(input_.awaitCursorReport(in(), 5000, &row, &column));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(input_.reportsOwed(), 1);
  EXPECT_EQ(keys(), typing);
}

TEST_F(InputPipe, CollectingOwedReportsKeepsTheKeysAndStopsWhenNoneIsOwed) {
  oweOne();
  oweOne();
  send("a\x1b[1;1Rb\x1b[2;2R");
  input_.collectOwedReports(in(), 1000);
  EXPECT_EQ(input_.reportsOwed(), 0);
  EXPECT_EQ(keys(), "ab");

  // Nothing owed: returns at once, reading nothing.
  send("c");
  const auto before = std::chrono::steady_clock::now();
  input_.collectOwedReports(in(), 5000);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(input_.size(), 0u);
}

}  // namespace
}  // namespace kp::posix
