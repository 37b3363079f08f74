// A long run redirected to a file or a pipe, ended by a signal while it
// prints: what reached the file is a byte prefix of the full output and holds
// every row whose printing had finished when the signal came.
//
// How the test knows which rows had finished: it stops the program
// (SIGSTOP), reads how far the kernel has read each recipe file
// (/proc/PID/fdinfo), sends the signal and lets the program go on; the signal
// is delivered before the program runs on. The reader takes its files in
// blocks of FileStream::kBufferSize, so it has read every record that begins
// before (position - block). Rows are printed in turn, each one before the
// next record of either file is read: a record j begun means row j printed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>

#include "input/file_stream.h"

namespace kp::test {
namespace {
namespace fs = std::filesystem;

constexpr int kRecords = 1000000;
constexpr int64_t kRecordBytes = 23;  // every line of both files is this long
constexpr int kHeadingLines = 5;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The recipe pair: fixed-width lines, so that record j begins at j * 23.
void writeRecipes(const fs::path& dir) {
  for (int file = 1; file <= 2; ++file) {
    std::ofstream out(dir / ("Rezept" + std::to_string(file) + ".txt"), std::ios::binary);
    char line[32];
    for (int j = 0; j < kRecords; ++j) {
      const char* shortText = file == 2 && j % 7 == 3 ? "kg" : "g ";
      std::snprintf(line, sizeof line, "%04d,%s,Zeile %07d\r\n", j % 10000, shortText, j);
      out.write(line, kRecordBytes);
    }
  }
}

struct Child {
  pid_t pid = -1;
  int pipeRead = -1;  // when printing into a pipe
};

Child startProgram(const fs::path& program, const fs::path& output, bool toPipe) {
  int fds[2] = {-1, -1};
  if (toPipe && pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    // The default dispositions and no blocked signals, whatever the runner had.
    for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT ends it without a core file
    const int in = open("/dev/null", O_RDONLY);
    const int out = toPipe ? fds[1] : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (toPipe) close(fds[0]);
    setsid();
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (toPipe) close(fds[1]);
  return {pid, toPipe ? fds[0] : -1};
}

// The read position of the child's descriptor open on `name`, or -1.
int64_t readPosition(pid_t pid, const std::string& name) {
  const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fds, error)) {
    const fs::path target = fs::read_symlink(entry.path(), error);
    if (error || target.filename() != name) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" +
                       entry.path().filename().string());
    std::string key;
    int64_t position = -1;
    while (info >> key) {
      if (key == "pos:" && info >> position) return position;
    }
  }
  return -1;
}

// Rows surely printed, from how far the two files have been read.
int64_t rowsPrinted(int64_t position1, int64_t position2) {
  auto recordsBegun = [](int64_t position) {
    const int64_t surelyRead = position - static_cast<int64_t>(FileStream::kBufferSize);
    return surelyRead <= 0 ? int64_t{0} : (surelyRead - 1) / kRecordBytes + 1;
  };
  return std::max(recordsBegun(position1), recordsBegun(position2)) - 1;
}

// Where the given number of rows ends in the full output.
size_t endOfRows(const std::string& full, int64_t rows) {
  size_t at = 0;
  for (int64_t line = 0; line < kHeadingLines + rows; ++line) {
    at = full.find("\r\n", at);
    if (at == std::string::npos) return full.size() + 1;
    at += 2;
  }
  return at;
}

class Interrupted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/kp-interrupt-XXXXXX";
    dir_ = new fs::path(mkdtemp(pattern));
    fs::copy_file(KP_PROGRAM_PATH, *dir_ / "kochbuchpruefer");
    writeRecipes(*dir_);
    const Child child = startProgram(*dir_ / "kochbuchpruefer", *dir_ / "full.out", false);
    int status = 0;
    waitpid(child.pid, &status, 0);
    full_ = new std::string(readFile(*dir_ / "full.out"));
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*dir_, ignored);
    delete dir_;
    delete full_;
  }

  static fs::path* dir_;
  static std::string* full_;
};

fs::path* Interrupted::dir_ = nullptr;
std::string* Interrupted::full_ = nullptr;

TEST_F(Interrupted, OutputIsAPrefixHoldingEveryFinishedRow) {
  ASSERT_GT(full_->size(), 70u * kRecords) << "the uninterrupted run printed too little";
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  int round = 0;
  for (const int signal : signals) {
    for (const bool toPipe : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (toPipe ? ", pipe" : ", file"));
      // Stopped somewhere between 3% and 24% of the way, well before its end
      // even on a busy machine.
      const size_t stopAfter = full_->size() / 100 * static_cast<size_t>(3 + 3 * round++);
      const fs::path outPath = *dir_ / "interrupted.out";
      const Child child = startProgram(*dir_ / "kochbuchpruefer", outPath, toPipe);
      ASSERT_GT(child.pid, 0);

      std::string piped;
      std::atomic<size_t> pipedBytes{0};
      std::thread reader;
      if (toPipe) {
        reader = std::thread([&] {
          char buffer[65536];
          ssize_t n;
          while ((n = read(child.pipeRead, buffer, sizeof buffer)) > 0) {
            piped.append(buffer, static_cast<size_t>(n));
            pipedBytes.store(piped.size());
          }
        });
      }
      auto printed = [&]() -> size_t {
        if (toPipe) return pipedBytes.load();
        struct stat info {};
        return stat(outPath.c_str(), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
      };
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (printed() < stopAfter && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }

      kill(child.pid, SIGSTOP);
      int status = 0;
      ASSERT_EQ(waitpid(child.pid, &status, WUNTRACED), child.pid);
      ASSERT_TRUE(WIFSTOPPED(status)) << "the program ended before it could be stopped";
      const int64_t rows = rowsPrinted(readPosition(child.pid, "Rezept1.txt"),
                                       readPosition(child.pid, "Rezept2.txt"));
      kill(child.pid, signal);
      kill(child.pid, SIGCONT);
      ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
      if (toPipe) {
        reader.join();
        close(child.pipeRead);
      }
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
          << "status " << std::hex << status;

      const std::string output = toPipe ? piped : readFile(outPath);
      const size_t needed = endOfRows(*full_, rows);
      std::cout << "[ info     ] " << strsignal(signal)
                << (toPipe ? " into a pipe" : " into a file") << ": " << output.size()
                << " bytes, at least " << rows << " rows finished when stopped, "
                << (output.size() - std::min(output.size(), needed)) << " bytes more\n";
      EXPECT_GT(rows, 0);
      EXPECT_LT(output.size(), full_->size()) << "not interrupted";
      EXPECT_TRUE(full_->compare(0, output.size(), output) == 0)
          << "not a prefix of the full output (" << output.size() << " bytes)";
      EXPECT_GE(output.size(), needed) << "rows printed before the signal are missing";
    }
  }
}

}  // namespace
}  // namespace kp::test
