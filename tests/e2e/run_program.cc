#include "e2e/run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace kp::test {
namespace fs = std::filesystem;

namespace {

void placeRecipe(const fs::path& path, const RecipeFile& recipe) {
  switch (recipe.kind) {
    case RecipeFile::Kind::Bytes: {
      std::ofstream out(path, std::ios::binary);
      out.write(recipe.bytes.data(), static_cast<std::streamsize>(recipe.bytes.size()));
      break;
    }
    case RecipeFile::Kind::Missing:
      break;
    case RecipeFile::Kind::Directory:
      fs::create_directory(path);
      break;
    case RecipeFile::Kind::Fifo:
      mkfifo(path.c_str(), 0600);
      break;
    case RecipeFile::Kind::DeviceLink:
      fs::create_symlink("/dev/zero", path);
      break;
  }
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

RunResult runProgram(const RecipeFile& recipe1, const RecipeFile& recipe2, OutputTo output,
                     int timeoutSeconds) {
  char pattern[] = "/tmp/kp-e2e-XXXXXX";
  fs::path dir = mkdtemp(pattern);
  fs::path program = dir / "kochbuchpruefer";
  fs::copy_file(KP_PROGRAM_PATH, program);
  placeRecipe(dir / "Rezept1.txt", recipe1);
  placeRecipe(dir / "Rezept2.txt", recipe2);
  fs::path outPath = dir / "output.bin";

  int pipeFds[2] = {-1, -1};
  if (output == OutputTo::ClosedPipe) {
    if (pipe(pipeFds) != 0) std::abort();
    close(pipeFds[0]);  // nobody reads: every write fails with EPIPE
  }

  pid_t pid = fork();
  if (pid == 0) {
    // The child must not inherit a test runner's ignored SIGPIPE or blocked signals.
    signal(SIGPIPE, SIG_DFL);
    int in = open("/dev/null", O_RDONLY);
    int out = -1;
    if (output == OutputTo::File) out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (output == OutputTo::DevFull) out = open("/dev/full", O_WRONLY);
    if (output == OutputTo::ClosedPipe) out = pipeFds[1];
    int err = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setsid();  // no controlling terminal: the program must not reach the test's terminal
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pipeFds[1] >= 0) close(pipeFds[1]);

  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!result.timedOut && WIFEXITED(status)) {
    result.exited = true;
    result.exitStatus = WEXITSTATUS(status);
  } else if (!result.timedOut && WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  if (output == OutputTo::File) result.output = readAll(outPath);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return result;
}

pid_t startOnTerminal(const std::string& path, int* master, int* slave, struct termios* modes,
                      const char* term, const char* lang) {
  struct winsize size {};
  size.ws_row = 25;
  size.ws_col = 80;
  if (openpty(master, slave, nullptr, nullptr, &size) != 0) std::abort();
  // Read before the program runs: it changes them as soon as it starts.
  if (tcgetattr(*slave, modes) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(*slave, TIOCSCTTY, 0);
    dup2(*slave, 0);
    dup2(*slave, 1);
    dup2(open("/dev/null", O_WRONLY), 2);
    close(*master);
    close(*slave);
    // As a shell would start it, whatever the test runner does with these.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    setenv("TERM", term, 1);
    if (lang != nullptr) {
      unsetenv("LC_ALL");
      unsetenv("LC_CTYPE");
      setenv("LANG", lang, 1);
    }
    execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

void expectModesAsBefore(int fd, const struct termios& before) {
  struct termios after {};
  ASSERT_EQ(tcgetattr(fd, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag) << "local modes (echo, canonical input) changed";
  EXPECT_EQ(after.c_iflag, before.c_iflag) << "input modes (flow control) changed";
  EXPECT_EQ(after.c_oflag, before.c_oflag) << "output modes changed";
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

}  // namespace kp::test
