// Whole-process behaviour of the terminal layer: signals, exit actions, a
// closed output pipe and the executable's own path. Each case that ends or
// stops a process runs in a forked child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "console/key_wait.h"
#include "platform/platform.h"
#include "platform/exit_actions.h"
#include "platform/posix/key_source-posix.h"
#include "platform/posix/signals-posix.h"
#include "platform/posix/console_device-posix.h"
#include "platform/posix/terminal_modes-posix.h"
#include "platform/pty_pair.h"

namespace kp::posix {
namespace {

using kp::testing::PtyPair;

// Runs body in a child process; returns its wait status.
template <typename Body>
int inChild(Body body, void (*whileRunning)(pid_t) = nullptr) {
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  if (whileRunning != nullptr) whileRunning(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

bool sameModes(int fd, const struct termios& expected) {
  struct termios now {};
  tcgetattr(fd, &now);
  return now.c_lflag == expected.c_lflag && now.c_iflag == expected.c_iflag;
}

class FatalSignal : public ::testing::TestWithParam<int> {};

TEST_P(FatalSignal, RestoresTheTerminalThenDiesOfTheSignal) {
  PtyPair pty(40, 10);
  ASSERT_TRUE(pty.ok());
  struct termios before {};
  tcgetattr(pty.slave(), &before);
  const int signal = GetParam();
  const int status = inChild([&] {
    TerminalModes modes(pty.slave());
    TerminalDeviceOptions options;
    options.term = "xterm";
    TerminalDevice device(pty.slave(), pty.slave(), options);
    SignalRouter router(&modes, &device);
    router.install();
    if (!modes.apply()) _exit(3);
    // Gathered, not yet sent: it goes first, in its colour, then the reset.
    if (!device.writeCells({0, 2}, "kg", 2, 0x0C)) _exit(5);
    raise(signal);
    _exit(4);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), signal);
  EXPECT_TRUE(sameModes(pty.slave(), before));
  EXPECT_EQ(pty.drain(), "\x1b[3;1H\x1b[91mkg\x1b[0m");
}

// SIGHUP and SIGTERM are fatal while no control handler is installed.
INSTANTIATE_TEST_SUITE_P(Signals, FatalSignal, ::testing::Values(SIGINT, SIGQUIT, SIGHUP, SIGTERM));

TEST(ControlSignal, TerminateDuringTheWaitEndsItNormally) {
  const int status = inChild(
      [] {
        int fds[2];
        if (pipe(fds) != 0) _exit(3);
        SignalRouter router(nullptr, nullptr);
        router.install();
        KeySourceOptions options;
        options.signals = &router;
        PosixKeySource source(fds[0], options);
        KeyWait wait(source);
        wait.waitForKey(-1);
        _exit(wait.readKey(true, false) == kAltF4Code ? 0 : 5);
      },
      [](pid_t pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        kill(pid, SIGTERM);
      });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(StopSignal, PutsTheTerminalBackWhileStoppedAndTakesItAgain) {
  PtyPair pty(40, 10);
  ASSERT_TRUE(pty.ok());
  struct termios before {};
  tcgetattr(pty.slave(), &before);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // a group of its own, which a stop signal may stop
    TerminalModes modes(pty.slave());
    SignalRouter router(&modes, nullptr);
    router.install();
    if (!modes.apply()) _exit(3);
    raise(SIGTSTP);
    _exit(modes.applied() ? 0 : 6);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << status;
  EXPECT_TRUE(sameModes(pty.slave(), before));
  kill(pid, SIGCONT);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(sameModes(pty.slave(), before));  // the child's modes again
}

TEST(ClosedOutput, ProgramStartUpSurvivesAClosedPipe) {
  const int status = inChild([] {
    int fds[2];
    if (pipe(fds) != 0) _exit(3);
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    ConsoleDevice& device = platform::consoleDevice();
    const std::string row(100, 'x');
    size_t written = 0;
    for (int i = 0; i < 10000; ++i) device.writeRaw(row.data(), row.size(), &written);
    device.flushOutput();
    platform::processExitActions().runAll();
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ExitActionStack, RunsLatestFirstAndEachOnce) {
  platform::ExitActions actions;
  std::string order;
  struct Named {
    std::string* order;
    char name;
  };
  Named a{&order, 'a'}, b{&order, 'b'}, c{&order, 'c'};
  auto named = [](void* p) {
    auto* n = static_cast<Named*>(p);
    *n->order += n->name;
  };
  EXPECT_TRUE(actions.push(named, &a));
  EXPECT_TRUE(actions.push(named, &b));
  EXPECT_TRUE(actions.push(named, &c));
  actions.runAll();
  EXPECT_EQ(order, "cba");
  actions.runAll();
  EXPECT_EQ(order, "cba");
  for (size_t i = 0; i < platform::ExitActions::kCapacity; ++i) EXPECT_TRUE(actions.push(named, &a));
  EXPECT_FALSE(actions.push(named, &a));
}

TEST(ExecutablePath, ALongPathStillFindsTheRecipesBesideTheProgram) {
  char base[] = "/tmp/kp-long-path-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  std::string directory = base;
  for (int i = 0; i < 4; ++i) {
    directory += "/" + std::string(120, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  }
  ASSERT_GT(directory.size(), 260u);
  const std::string copy = "cp '" KP_PROGRAM_PATH "' '" KP_SOURCE_DIR
                           "/examples/Rezept1.txt' '" KP_SOURCE_DIR "/examples/Rezept2.txt' '" +
                           directory + "/'";
  ASSERT_EQ(std::system(copy.c_str()), 0);
  const std::string run =
      "'" + directory + "/kochbuchpruefer' < /dev/null > '" + directory + "/out.txt'";
  EXPECT_EQ(std::system(run.c_str()), 0);
  std::ifstream in(directory + "/out.txt");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Rohrzucker"), std::string::npos) << text.str();
  std::system(("rm -rf '" + std::string(base) + "'").c_str());
}

}  // namespace
}  // namespace kp::posix
