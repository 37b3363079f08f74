// Runs one command with its standard input and output redirected and prints
// "WALL_SECONDS PEAK_RSS_KIB EXIT WRITE_CALLS" for it: wall time from a
// monotonic clock, peak resident memory of that child alone (wait4), how it
// ended, and how many write system calls it made (/proc/PID/io, read while
// the ended child is not yet reaped; -1 where that cannot be read).
//
// usage: kp_measure STDIN STDOUT COMMAND [ARG...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s STDIN STDOUT COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return 1;
  }
  if (pid == 0) {
    const int in = open(argv[1], O_RDONLY);
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    close(in);
    close(out);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  long writeCalls = -1;
  siginfo_t ended {};
  const bool waited = waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) == 0;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (waited) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
    if (FILE* io = std::fopen(path, "r")) {
      char line[128];
      while (std::fgets(line, sizeof line, io) != nullptr) {
        if (std::strncmp(line, "syscw:", 6) == 0) writeCalls = std::atol(line + 6);
      }
      std::fclose(io);
    }
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 1;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d %ld\n", seconds, usage.ru_maxrss, code, writeCalls);
  return 0;
}
