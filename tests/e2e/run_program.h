#pragma once

#include <sys/types.h>
#include <termios.h>

#include <optional>
#include <string>

namespace kp::test {

// A recipe file beside the program: its bytes, or something else in its place.
struct RecipeFile {
  enum class Kind { Bytes, Missing, Directory, Fifo, DeviceLink };
  Kind kind = Kind::Bytes;
  std::string bytes;

  static RecipeFile of(std::string content) { return {Kind::Bytes, std::move(content)}; }
  static RecipeFile missing() { return {Kind::Missing, {}}; }
  static RecipeFile directory() { return {Kind::Directory, {}}; }
  static RecipeFile fifo() { return {Kind::Fifo, {}}; }
  static RecipeFile deviceLink() { return {Kind::DeviceLink, {}}; }
};

enum class OutputTo { File, DevFull, ClosedPipe };

struct RunResult {
  bool exited = false;    // ended by itself
  int exitStatus = -1;    // when exited
  int signal = 0;         // when killed by a signal
  bool timedOut = false;  // had to be killed
  std::string output;     // what reached standard output
};

// Copies the built program into a fresh directory with the two recipe files
// and runs it with standard input at its end (/dev/null), so the final wait
// ends by itself. Kills it after timeoutSeconds.
RunResult runProgram(const RecipeFile& recipe1, const RecipeFile& recipe2,
                     OutputTo output = OutputTo::File, int timeoutSeconds = 20);

// Starts the program at `path` on a pseudo-terminal of 80 x 25 (its
// controlling terminal, standard input and output; TERM=term, and LANG=lang
// where one is given) and returns its pid. *master is the terminal's side
// for the test to play; the slave side stays open in the test too, for
// looking at its modes; *modes are those the terminal had before the
// program started.
pid_t startOnTerminal(const std::string& path, int* master, int* slave, struct termios* modes,
                      const char* term = "xterm", const char* lang = nullptr);

// The modes of the terminal at `fd` now against `before`: those a program
// that changes them must put back (echo, canonical input, flow control,
// output processing, the read minimum and timeout).
void expectModesAsBefore(int fd, const struct termios& before);

// CR LF line ends for readable expectations.
std::string crlf(const std::string& text);

}  // namespace kp::test
