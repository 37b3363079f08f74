// The built program against hostile input and a hostile environment: huge
// and binary recipe files, a reader that hangs up, recipe texts full of
// terminal controls shown on a terminal, signals during the final wait, and
// the worked run under valgrind. Every run must end by itself and leave the
// terminal as it found it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "e2e/run_program.h"

namespace kp::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kPromptText[] = " -> Beliebige Taste zum Beenden druecken.";
const char kEndReached[] = " Ende der Rezeptdateien erreicht.";

// A directory holding a copy of the program and the two recipe files;
// removed with everything in it.
class ProgramDir {
 public:
  ProgramDir(const std::string& recipe1, const std::string& recipe2) {
    char pattern[] = "/tmp/kp-hostile-XXXXXX";
    dir_ = mkdtemp(pattern);
    fs::copy_file(KP_PROGRAM_PATH, program());
    write("Rezept1.txt", recipe1);
    write("Rezept2.txt", recipe2);
  }
  ~ProgramDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path program() const { return dir_ / "kochbuchpruefer"; }
  fs::path path(const char* name) const { return dir_ / name; }

 private:
  void write(const char* name, const std::string& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  fs::path dir_;
};

struct Ending {
  bool exited = false;
  int status = -1;
  int signal = 0;
  bool timedOut = false;
};

Ending waitFor(pid_t pid, Clock::time_point deadline) {
  Ending ending;
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ending.timedOut = true;
      return ending;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    ending.exited = true;
    ending.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    ending.signal = WTERMSIG(status);
  }
  return ending;
}

void expectStatusZero(const Ending& ending) {
  EXPECT_FALSE(ending.timedOut) << "the program did not end by itself";
  EXPECT_TRUE(ending.exited) << "ended by signal " << ending.signal;
  EXPECT_EQ(ending.status, 0);
}

std::string repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// ---- Hostile recipe contents, output to a file --------------------------

// The contents are made when a case runs, not when the cases are listed: a
// 50 MB string built at start-up slows every listing of the tests.
struct ContentCase {
  const char* name;
  std::string (*recipe)();
};

class HostileContent : public ::testing::TestWithParam<ContentCase> {};

// The same bytes on both sides: whatever the reader makes of them, the rows
// match and both files end together.
TEST_P(HostileContent, EndsWithTheClosingNoteAndStatusZero) {
  const std::string recipe = GetParam().recipe();
  RunResult result =
      runProgram(RecipeFile::of(recipe), RecipeFile::of(recipe), OutputTo::File, 120);
  EXPECT_FALSE(result.timedOut);
  EXPECT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.output.find(std::string(kEndReached) + "\r\n"), std::string::npos);
  const std::string tail = std::string(kPromptText) + "\r\n";
  ASSERT_GE(result.output.size(), tail.size());
  EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileContent,
    ::testing::Values(
        ContentCase{"FiftyMegabyteLineWithoutSeparator",
                    [] { return std::string(50u << 20, 'x'); }},
        ContentCase{"LinesOfHundredThousandCommas",
                    [] { return repeat(std::string(100000, ',') + "\r\n", 5); }},
        ContentCase{"OnlyLineEnds", [] { return repeat("\r\n", 100000); }},
        ContentCase{"OnlyLoneCarriageReturns", [] { return std::string(100000, '\r'); }},
        ContentCase{"NulBytesInsideFields",
                    [] { return repeat(std::string("1,a\0b,c\0\0d\r\n", 12), 1000); }},
        ContentCase{"UnclosedQuotesAndOverlongNumbers",
                    [] {
                      return repeat("\"" + std::string(5000, '9') + ",\"" + std::string(9000, 'q'),
                                    20);
                    }}),
    [](const ::testing::TestParamInfo<ContentCase>& info) { return info.param.name; });

// ---- A reader that hangs up: `| head -c 100` ------------------------------

TEST(HostileOutput, ReaderThatHangsUpAfterHundredBytes) {
  ProgramDir dir(repeat("1,EL,Zucker\r\n", 20000), repeat("1,EL,Zucker\r\n", 20000));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(fds[1], 1);
    dup2(open("/dev/null", O_WRONLY), 2);
    close(fds[0]);
    setsid();
    execl(dir.program().c_str(), dir.program().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string got;
  char buffer[100];
  while (got.size() < 100) {
    const ssize_t n = read(fds[0], buffer, 100 - got.size());
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  expectStatusZero(waitFor(pid, Clock::now() + std::chrono::seconds(30)));
  EXPECT_EQ(got.substr(0, 28), "\r\n --> KOCHBUCHPRUEFER <--\r\n");
}

// ---- On a terminal ---------------------------------------------------------

// The program on a pseudo-terminal as its standard input and output,
// answering its cursor-position queries as a terminal would.
class TerminalRun {
 public:
  explicit TerminalRun(const ProgramDir& dir, const char* term = "xterm",
                       const char* lang = nullptr) {
    int slave = -1;
    pid_ = startOnTerminal(dir.program().string(), &master_, &slave, &before_, term, lang);
    close(slave);
  }
  ~TerminalRun() {
    if (!ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(master_);
  }

  // Reads what the program shows until `text` has appeared; false on timeout.
  bool readUntil(const std::string& text, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (output_.find(text) == std::string::npos) {
      if (Clock::now() > deadline || !pump(50)) return false;
    }
    return true;
  }

  void type(const std::string& keys) {
    if (write(master_, keys.data(), keys.size()) < 0) std::abort();
  }

  Ending end(int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    Ending ending;
    int status = 0;
    for (;;) {
      pump(10);
      if (waitpid(pid_, &status, WNOHANG) == pid_) break;
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        ending.timedOut = true;
        break;
      }
    }
    ended_ = true;
    while (pump(0)) {
    }
    if (!ending.timedOut && WIFEXITED(status)) {
      ending.exited = true;
      ending.status = WEXITSTATUS(status);
    } else if (!ending.timedOut && WIFSIGNALED(status)) {
      ending.signal = WTERMSIG(status);
    }
    return ending;
  }

  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

  // The terminal's modes now against those before the program started.
  void expectModesRestored() const { expectModesAsBefore(master_, before_); }

 private:
  // Takes what is there within `ms`; false once the terminal has nothing more.
  bool pump(int ms) {
    struct pollfd p {
      master_, POLLIN, 0
    };
    if (poll(&p, 1, ms) <= 0) return ms > 0;
    char buffer[65536];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    // Answer each cursor-position query: top-left.
    for (size_t at = output_.find("\x1b[6n", answered_); at != std::string::npos;
         at = output_.find("\x1b[6n", answered_)) {
      type("\x1b[1;1R");
      answered_ = at + 4;
    }
    return true;
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool ended_ = false;
  struct termios before_ {};
  std::string output_;
  size_t answered_ = 0;
};

// Whether `bytes` are well-formed UTF-8 holding no C1 control (U+0080 to
// U+009F) and no bidirectional override or isolate; with utf8 false, whether
// they hold no byte from 0x80 to 0x9F.
bool safeForTheTerminal(const std::string& bytes, bool utf8) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    const unsigned b = p[i];
    if (b < 0x80) {
      ++i;
    } else if (!utf8) {
      if (b <= 0x9F) return false;
      ++i;
    } else {
      const size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
      if (n == 0 || i + n > bytes.size()) return false;
      char32_t c = b & (0x7F >> n);
      for (size_t k = 1; k < n; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return false;
        c = (c << 6) | (p[i + k] & 0x3F);
      }
      const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
      if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
      if (c <= 0x9F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
        return false;
      }
      i += n;
    }
  }
  return true;
}

struct TerminalMode {
  const char* term;  // "dumb": no cursor addressing, the bytes as they come
  const char* lang;
  bool utf8;
};

class HostileTerminal : public ::testing::TestWithParam<TerminalMode> {};

TEST_P(HostileTerminal, NothingInARecipeReachesTheTerminalAsAControl) {
  // Clear screen, home, set title, full reset, alternate screen, cursor
  // moves, an 8-bit CSI and a DCS, C1 controls as bytes and as UTF-8, an
  // overlong CSI, a string terminator, bidirectional overrides and
  // isolates, and malformed UTF-8, spread over both texts.
  const std::string hostile =
      "1,\x1b[2J\x1b[H,\x1b]0;PWNED\x07 title\r\n"
      "2,\x1b"
      "c,\x1b[?1049h\x1b[5;5H moved\r\n"
      "3,\x9b"
      "2J,\x1bP+q\x1b\\ dcs \x1b[3J\r\n"
      "4,\xc2\x9b"
      "2J,x\x9d"
      "0;PWN\x9cy\r\n"
      "5,\xc0\x9b,\xe2\x80\xae"
      "desrever \xe2\x81\xa6iso\xe2\x81\xa9\r\n"
      "6,\xed\xa0\x80,\xf8\x88\x80\x80\x80 \xc3\r\n";
  ProgramDir dir(hostile, hostile);
  TerminalRun run(dir, GetParam().term, GetParam().lang);
  ASSERT_TRUE(run.readUntil("Beliebige Taste", 20)) << run.output();
  run.type("x");
  expectStatusZero(run.end(10));
  const std::string& shown = run.output();
  EXPECT_NE(shown.find("KOCHBUCHPRUEFER"), std::string::npos) << "nothing was drawn";
  EXPECT_NE(shown.find("moved"), std::string::npos) << "the printable rest of a text is lost";
  for (const char* sequence : {"\x1b[2J", "\x1b[3J", "\x1b]",
                               "\x1b"
                               "c",
                               "\x1b[?1049h", "\x1b[5;5H",
                               "\x1b"
                               "P",
                               "\x1b[H", "\x1b\\", "2J,"}) {
    EXPECT_EQ(shown.find(sequence), std::string::npos)
        << "the recipe's control sequence reached the terminal: "
        << testing::PrintToString(std::string(sequence));
  }
  EXPECT_TRUE(safeForTheTerminal(shown, GetParam().utf8)) << testing::PrintToString(shown);
  run.expectModesRestored();
}

INSTANTIATE_TEST_SUITE_P(CellsAndDumbInEitherLocale, HostileTerminal,
                         ::testing::Values(TerminalMode{"xterm", "C.UTF-8", true},
                                           TerminalMode{"xterm", "C", false},
                                           TerminalMode{"dumb", "C.UTF-8", true},
                                           TerminalMode{"dumb", "C", false}),
                         [](const ::testing::TestParamInfo<TerminalMode>& info) {
                           return std::string(info.param.term) + (info.param.utf8 ? "Utf8" : "C");
                         });

struct SignalCase {
  const char* name;
  int signal;
  bool endsWithStatusZero;  // else: ended by the signal itself
};

class SignalDuringWait : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalDuringWait, EndsAsExpectedAndRestoresTheTerminal) {
  const SignalCase& c = GetParam();
  ProgramDir dir("250,g,Mehl\r\n", "250,kg,Mehl\r\n");
  TerminalRun run(dir);
  ASSERT_TRUE(run.readUntil("Beliebige Taste", 20)) << run.output();
  // Give the wait time to begin its looks at the keyboard.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(run.pid(), c.signal);
  const Ending ending = run.end(10);
  EXPECT_FALSE(ending.timedOut) << "the signal did not end the wait";
  if (c.endsWithStatusZero) {
    EXPECT_TRUE(ending.exited) << "ended by signal " << ending.signal;
    EXPECT_EQ(ending.status, 0);
  } else {
    EXPECT_FALSE(ending.exited) << "exited with status " << ending.status;
    EXPECT_EQ(ending.signal, c.signal);
  }
  run.expectModesRestored();
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringWait,
                         ::testing::Values(SignalCase{"Hangup", SIGHUP, true},
                                           SignalCase{"Terminate", SIGTERM, true},
                                           SignalCase{"Interrupt", SIGINT, false}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) {
                           return info.param.name;
                         });

// ---- Memory checking -------------------------------------------------------

TEST(HostileMemory, WorkedRunIsCleanUnderValgrind) {
  if (system("valgrind --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "valgrind not installed";
  ProgramDir dir("250,g,Mehl\r\n3,EL,Zucker\r\n1,Pr,Salz\r\n",
                 "250,kg,Mehl\r\n3,EL,Rohrzucker\r\n1,Pr,Salz\r\n2,St,Eier\r\n");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(dir.path("output.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open("/dev/null", O_WRONLY), 2);
    setsid();
    const std::string log = "--log-file=" + dir.path("valgrind.log").string();
    execlp("valgrind", "valgrind", "--error-exitcode=1", "--leak-check=full",
           "--errors-for-leak-kinds=definite,indirect", log.c_str(), dir.program().c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  const Ending ending = waitFor(pid, Clock::now() + std::chrono::seconds(120));
  std::ifstream logFile(dir.path("valgrind.log"));
  const std::string log((std::istreambuf_iterator<char>(logFile)),
                        std::istreambuf_iterator<char>());
  EXPECT_FALSE(ending.timedOut);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.status, 0) << log;
  std::ifstream outFile(dir.path("output.bin"), std::ios::binary);
  const std::string output((std::istreambuf_iterator<char>(outFile)),
                           std::istreambuf_iterator<char>());
  EXPECT_NE(output.find("   3      1 Pr Salz"), std::string::npos);
}

}  // namespace
}  // namespace kp::test
