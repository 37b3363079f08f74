// The final wait on a terminal, with the test playing the terminal: its
// answer to the start-up cursor query comes late or never, and focus and
// mouse reports or terminal answers arrive at the prompt. None of that may
// end the wait; the key typed afterwards must end it at once, with status 0,
// the terminal's modes as they were and nothing left in its input. Ctrl+Q
// and Ctrl+S are keys like any other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "e2e/run_program.h"

namespace kp::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kNever = -1;
const char kPrompt[] = "Beliebige Taste";

// The program on a pseudo-terminal as its standard input and output.
class TerminalPlay {
 public:
  explicit TerminalPlay(int replyDelayMs) : replyDelayMs_(replyDelayMs) {
    char pattern[] = "/tmp/kp-wait-XXXXXX";
    dir_ = mkdtemp(pattern);
    fs::copy_file(KP_PROGRAM_PATH, dir_ / "kochbuchpruefer");
    std::ofstream(dir_ / "Rezept1.txt") << "250,g,Mehl\r\n3,EL,Zucker\r\n";
    std::ofstream(dir_ / "Rezept2.txt") << "250,kg,Mehl\r\n3,EL,Zucker\r\n";

    pid_ = startOnTerminal((dir_ / "kochbuchpruefer").string(), &master_, &slave_, &before_);
  }
  ~TerminalPlay() {
    if (!ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(master_);
    close(slave_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Shows the program's output to nobody for `ms`, answering the cursor query
  // when its time has come.
  void play(int ms) { playUntil(nullptr, ms); }

  bool playUntil(const char* text, int ms) {
    const auto end = Clock::now() + milliseconds(ms);
    while (text == nullptr || output_.find(text) == std::string::npos) {
      const auto now = Clock::now();
      if (now >= end) return text == nullptr;
      answerWhenDue(now);
      int wait = static_cast<int>(std::chrono::duration_cast<milliseconds>(end - now).count());
      if (wait > 10) wait = 10;
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, wait) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        if (text != nullptr) return false;
        usleep(static_cast<useconds_t>(wait) * 1000);  // hung up: wait out the time
        continue;
      }
      output_.append(buffer, static_cast<size_t>(n));
      if (!queried_ && output_.find("\x1b[6n") != std::string::npos) {
        queried_ = true;
        queriedAt_ = Clock::now();
      }
    }
    return true;
  }

  void type(const std::string& bytes) {
    if (write(master_, bytes.data(), bytes.size()) < 0) std::abort();
  }

  bool running() { return !ended_ && waitpid(pid_, &status_, WNOHANG) == 0; }

  // Waits up to `ms` for the end; true when the program ended by itself.
  bool ended(int ms) {
    const auto end = Clock::now() + milliseconds(ms);
    while (!ended_) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        ended_ = true;
        break;
      }
      if (Clock::now() > end) return false;
      play(5);
    }
    return true;
  }

  int status() const { return status_; }
  bool replied() const { return replied_; }

  void expectTerminalAsBefore() {
    expectModesAsBefore(slave_, before_);
    int unread = -1;
    ASSERT_EQ(ioctl(slave_, FIONREAD, &unread), 0);
    EXPECT_EQ(unread, 0) << "input left for the shell";
  }

 private:
  void answerWhenDue(Clock::time_point now) {
    if (!queried_ || replied_ || replyDelayMs_ == kNever) return;
    if (now < queriedAt_ + milliseconds(replyDelayMs_)) return;
    replied_ = true;
    type("\x1b[24;1R");
  }

  int replyDelayMs_;
  fs::path dir_;
  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  bool queried_ = false;
  bool replied_ = false;
  Clock::time_point queriedAt_;
  struct termios before_ {};
  std::string output_;
};

struct WaitCase {
  const char* name;
  int replyDelayMs;      // the cursor query's answer after this long, or kNever
  std::string atPrompt;  // what the terminal sends once the prompt shows
  bool isKey;            // atPrompt itself ends the wait
};

void PrintTo(const WaitCase& c, std::ostream* out) {
  *out << c.name;
}

class FinalWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(FinalWait, OnlyAKeyEndsItAndTheTerminalIsLeftAsItWas) {
  const WaitCase& c = GetParam();
  TerminalPlay terminal(c.replyDelayMs);
  ASSERT_TRUE(terminal.playUntil(kPrompt, 20000)) << "no prompt";
  if (c.replyDelayMs != kNever) {
    // A late answer arrives while the program waits.
    for (int i = 0; i < 400 && !terminal.replied(); ++i) terminal.play(10);
    ASSERT_TRUE(terminal.replied());
  }
  if (!c.atPrompt.empty()) terminal.type(c.atPrompt);
  auto keyAt = Clock::now();
  if (!c.isKey) {
    terminal.play(400);
    ASSERT_TRUE(terminal.running()) << "the wait ended without a key";
    keyAt = Clock::now();
    terminal.type("x");
  }
  ASSERT_TRUE(terminal.ended(5000)) << "the key did not end the wait";
  const auto took = Clock::now() - keyAt;
  EXPECT_LT(took, milliseconds(2000)) << "the key ended the wait late";
  ASSERT_TRUE(WIFEXITED(terminal.status())) << terminal.status();
  EXPECT_EQ(WEXITSTATUS(terminal.status()), 0);
  terminal.expectTerminalAsBefore();
  RecordProperty("keyToExitMs",
                 static_cast<int>(std::chrono::duration_cast<milliseconds>(took).count()));
}

INSTANTIATE_TEST_SUITE_P(
    Terminal, FinalWait,
    ::testing::Values(
        WaitCase{"CursorAnswer150msLate", 150, "", false},
        WaitCase{"CursorAnswer600msLate", 600, "", false},
        WaitCase{"CursorAnswer2sLate", 2000, "", false},
        WaitCase{"CursorNeverAnswered", kNever, "", false},
        WaitCase{"FocusReports", 0, "\x1b[I\x1b[O", false},
        WaitCase{"MouseReports", 0,
                 "\x1b[M !!\x1b[M#!!"                         // X10 press, release
                 "\x1b[M \xc3\xa9\xc3\xa9"                    // UTF-8 coordinates
                 "\x1b[<0;12;5M\x1b[<0;12;5m\x1b[<35;13;5M",  // SGR press, release, motion
                 false},
        WaitCase{"TerminalAnswers", 0, "\x1b[?64;1;2c\x1b[0n\x1b[200~\x1b[201~", false},
        WaitCase{"CtrlQ", 0, "\x11", true}, WaitCase{"CtrlS", 0, "\x13", true}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kp::test
