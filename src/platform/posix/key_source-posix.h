#pragma once

#include <cstddef>

#include "console/console_device.h"
#include "console/key_event_source.h"
#include "platform/posix/signals-posix.h"
#include "platform/posix/terminal_input-posix.h"
#include "platform/posix/terminal_modes-posix.h"

namespace kp::posix {

struct KeySourceOptions {
  TerminalModes* modes = nullptr;   // switched at the first look if not yet
  TerminalInput* input = nullptr;   // shared with the device's cursor queries; else its own
  ConsoleDevice* output = nullptr;  // flushed before each look
  SignalRouter* signals = nullptr;  // delivers close and shutdown
  void (*registerExit)(void (*)(void*), void*) = nullptr;
};

// The keyboard of a POSIX process: the bytes of standard input become key
// events of a US keyboard (each key a key-down and a key-up); what the
// terminal sends on its own (reports, answers) is dropped. Never blocks:
// a look polls with timeout 0. The end of the input (a file or pipe at its
// end, a terminal hung up) is reported to the control handler as the
// console being closed.
class PosixKeySource : public KeyEventSource {
 public:
  PosixKeySource(int inFd, const KeySourceOptions& options);

  bool peekEvent(InputEvent* event) override;
  bool readEvent(InputEvent* event) override;
  void sleep(int milliseconds) override;
  void setControlHandler(ControlHandler handler, void* context, bool install) override;
  uint32_t mapVirtualKey(uint32_t code, uint32_t mapType) override;
  int16_t vkKeyScan(char character) override;
  void registerExitAction(void (*action)(void*), void* context) override;

 private:
  bool readInput();
  bool decodeNext(bool freshBytes);
  void deliverControlEvents();

  int inFd_;
  KeySourceOptions options_;
  bool terminalInput_;
  bool looked_ = false;

  TerminalInput ownInput_;
  TerminalInput* input_;
  uint64_t receivedSeen_ = 0;    // the input's byte count at the last look
  bool unfinishedSeen_ = false;  // a look ended on the start of a sequence
  bool atEnd_ = false;           // the input has ended
  bool endReported_ = false;

  InputEvent events_[2];  // the key-down and key-up of one key
  size_t eventHead_ = 0;
  size_t eventCount_ = 0;

  ControlHandler handler_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace kp::posix
