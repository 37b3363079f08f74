#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/key_wait.h"
#include "platform/posix/console_device-posix.h"
#include "platform/posix/key_source-posix.h"
#include "platform/pty_pair.h"

namespace kp::posix {
namespace {

using kp::testing::PtyPair;

struct ControlLog {
  std::vector<uint32_t> types;
  static bool handler(void* self, uint32_t type) {
    static_cast<ControlLog*>(self)->types.push_back(type);
    return true;
  }
};

// The events one look yields, as the key wait takes them.
std::vector<InputEvent> look(PosixKeySource& source) {
  std::vector<InputEvent> events;
  InputEvent event;
  while (source.peekEvent(&event)) {
    EXPECT_TRUE(source.readEvent(&event));
    events.push_back(event);
  }
  return events;
}

std::string characters(const std::vector<InputEvent>& events) {
  std::string text;
  for (const InputEvent& e : events) {
    if (e.key.keyDown) text += static_cast<char>(e.key.character);
  }
  return text;
}

class PipeInput : public ::testing::Test {
 protected:
  PipeInput() { EXPECT_EQ(pipe(fds_), 0); }
  ~PipeInput() override {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  void send(const std::string& bytes) {
    ssize_t n = write(fds_[1], bytes.data(), bytes.size());
    (void)n;
  }
  void endInput() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  int fds_[2] = {-1, -1};
};

TEST_F(PipeInput, EachKeyIsAKeyDownAndAKeyUp) {
  PosixKeySource source(fds_[0], {});
  send("a");
  const std::vector<InputEvent> events = look(source);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].eventType, KeyEventType);
  EXPECT_EQ(events[0].key.keyDown, 1);
  EXPECT_EQ(events[0].key.repeatCount, 1);
  EXPECT_EQ(events[0].key.virtualKeyCode, 0x41);
  EXPECT_EQ(events[0].key.virtualScanCode, 0x1E);
  EXPECT_EQ(events[0].key.character, 'a');
  EXPECT_EQ(events[1].key.keyDown, 0);
  EXPECT_EQ(events[1].key.virtualKeyCode, 0x41);
  EXPECT_TRUE(look(source).empty());
}

TEST_F(PipeInput, EndOfInputIsTheConsoleClosingOnce) {
  ControlLog log;
  PosixKeySource source(fds_[0], {});
  source.setControlHandler(&ControlLog::handler, &log, true);
  send("q");
  endInput();
  EXPECT_EQ(characters(look(source)), "q");
  EXPECT_TRUE(look(source).empty());
  EXPECT_EQ(log.types, std::vector<uint32_t>({CtrlCloseEvent}));
  EXPECT_TRUE(look(source).empty());
  EXPECT_EQ(log.types.size(), 1u);
}

TEST(NullInput, DevNullEndsTheWaitAtTheFirstLook) {
  const int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  PosixKeySource source(fd, {});
  KeyWait wait(source);
  wait.waitForKey(-1);
  EXPECT_EQ(wait.readKey(true, false), kAltF4Code);
  close(fd);
}

TEST_F(PipeInput, OutputIsFlushedBeforeALook) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  TerminalDeviceOptions options;
  TerminalDevice device(-1, out[1], options);
  size_t written = 0;
  device.writeRaw("prompt", 6, &written);
  KeySourceOptions keyOptions;
  keyOptions.output = &device;
  PosixKeySource source(fds_[0], keyOptions);
  InputEvent event;
  EXPECT_FALSE(source.peekEvent(&event));
  char buffer[16] = {};
  EXPECT_EQ(read(out[0], buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "prompt");
  close(out[0]);
  close(out[1]);
}

TEST_F(PipeInput, InputLeftByACursorQueryComesBeforeNewInput) {
  TerminalInput input;
  input.append(reinterpret_cast<const unsigned char*>("xy"), 2);
  KeySourceOptions options;
  options.input = &input;
  PosixKeySource source(fds_[0], options);
  send("z");
  EXPECT_EQ(characters(look(source)), "xyz");
}

TEST_F(PipeInput, LoneEscIsDecidedAtTheNextLook) {
  PosixKeySource source(fds_[0], {});
  send("\x1b");
  EXPECT_TRUE(look(source).empty());
  const std::vector<InputEvent> esc = look(source);
  ASSERT_EQ(esc.size(), 2u);
  EXPECT_EQ(esc[0].key.virtualKeyCode, 0x1B);

  // A sequence split between two looks still names its key.
  send("\x1b[");
  EXPECT_TRUE(look(source).empty());
  send("A");
  const std::vector<InputEvent> up = look(source);
  ASSERT_EQ(up.size(), 2u);
  EXPECT_EQ(up[0].key.virtualKeyCode, 0x26);
  EXPECT_EQ(up[0].key.controlKeyState, static_cast<uint32_t>(EnhancedKey));
}

// What a terminal sends on its own at the prompt ends no wait, over as many
// looks as it takes; the key typed after it does.
TEST_F(PipeInput, ReportsAndUnknownSequencesEndNoWait) {
  const std::string noKeys[] = {
      "\x1b[I\x1b[O",                      // focus
      "\x1b[M #!\x1b[M\xc3\xa9\xc3\xa9 ",  // mouse, X10 and UTF-8
      "\x1b[<0;12;5M\x1b[<0;12;5m",        // mouse, SGR
      "\x1b[24;1R",                        // a cursor report nobody waits for
      "\x1b[?64;1;2c\x1b[0n",              // device attributes, status
      "\x1b[200~\x1b[201~",                // paste markers
      "\x1b[99~\x1b[1;5",                  // unknown, and cut off
  };
  PosixKeySource source(fds_[0], {});
  for (const std::string& bytes : noKeys) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    send(bytes);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(look(source).empty());
  }
  send("x");
  EXPECT_EQ(characters(look(source)), "x");
}

TEST(TerminalInput, FirstLookSwitchesModesKeepingSignals) {
  PtyPair pty(40, 10);
  ASSERT_TRUE(pty.ok());
  struct termios before {};
  tcgetattr(pty.slave(), &before);
  ASSERT_NE(before.c_iflag & IXON, 0u);  // a fresh terminal has flow control on
  TerminalModes modes(pty.slave());
  KeySourceOptions options;
  options.modes = &modes;
  PosixKeySource source(pty.slave(), options);
  InputEvent event;
  EXPECT_FALSE(source.peekEvent(&event));
  struct termios during {};
  tcgetattr(pty.slave(), &during);
  EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_NE(during.c_lflag & ISIG, 0u);
  EXPECT_EQ(during.c_iflag & ICRNL, 0u);
  EXPECT_EQ(during.c_iflag & IXON, 0u);  // Ctrl+S and Ctrl+Q come as keys

  pty.type("\x1bOP\r\x13\x11");
  const std::vector<InputEvent> keys = look(source);
  ASSERT_EQ(keys.size(), 8u);  // F1, Enter, Ctrl+S and Ctrl+Q, each down and up
  EXPECT_EQ(keys[0].key.virtualKeyCode, 0x70);
  EXPECT_EQ(keys[2].key.character, 0x0D);
  EXPECT_EQ(keys[4].key.character, 0x13);
  EXPECT_EQ(keys[6].key.character, 0x11);
  EXPECT_TRUE(pty.drain(20).empty());  // nothing echoed

  modes.restore();
  struct termios after {};
  tcgetattr(pty.slave(), &after);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST(ControlSignals, HangupAndTerminateReachTheHandlerOnTheMainThread) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  SignalRouter signals(nullptr, nullptr);
  signals.install();
  KeySourceOptions options;
  options.signals = &signals;
  PosixKeySource source(fds[0], options);
  ControlLog log;
  source.setControlHandler(&ControlLog::handler, &log, true);
  raise(SIGTERM);
  raise(SIGHUP);
  EXPECT_TRUE(log.types.empty());  // the signal handler only notes them
  EXPECT_TRUE(look(source).empty());
  EXPECT_EQ(log.types, std::vector<uint32_t>({CtrlCloseEvent, CtrlShutdownEvent}));
  source.setControlHandler(&ControlLog::handler, &log, false);
  signals.uninstall();
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace kp::posix
