#pragma once

#include <atomic>
#include <csignal>

namespace kp::posix {

class TerminalModes;
class TerminalDevice;

// The process's signal handling around the terminal:
// - SIGINT, SIGQUIT, and SIGHUP/SIGTERM while no control handler is routed:
//   send what the console device buffered, put back the keyboard modes and
//   colours, then die of the signal as usual;
// - SIGHUP/SIGTERM while routed: only noted, as close and shutdown events
//   for the key source to hand to the control handler on the main thread;
// - SIGTSTP: put the terminal back, stop; SIGCONT: take it again;
// - SIGWINCH: the screen size is read again; SIGPIPE: ignored, so that a
//   closed pipe is a failed write and not the end of the process.
// Signals ignored when the process started (nohup, background jobs) stay ignored.
class SignalRouter {
 public:
  SignalRouter(TerminalModes* modes, TerminalDevice* device) : modes_(modes), device_(device) {}

  // Makes this the router behind the process's handlers and installs them.
  void install();
  // Puts the dispositions found back and detaches this router.
  void uninstall();

  // Whether SIGHUP and SIGTERM are close/shutdown events (true) or fatal.
  void routeControlEvents(bool route) { routed_.store(route); }

  // The next control event that arrived (close before shutdown), or -1.
  int takeControlEvent();
  bool controlPending() const { return hangup_.load() || terminate_.load(); }

 private:
  static void onFatal(int signal);
  static void onControl(int signal);
  static void onStop(int signal);
  static void onContinue(int signal);
  static void onResize(int signal);
  void restoreTerminal(bool forStop);
  void endFromSignal();

  static constexpr int kSignals[] = {SIGINT,  SIGQUIT, SIGHUP,   SIGTERM,
                                     SIGTSTP, SIGCONT, SIGWINCH, SIGPIPE};
  static constexpr int kCount = sizeof kSignals / sizeof kSignals[0];

  TerminalModes* modes_;
  TerminalDevice* device_;
  std::atomic<bool> routed_{false};
  std::atomic<bool> hangup_{false};
  std::atomic<bool> terminate_{false};
  struct sigaction previous_[kCount] = {};
  bool installed_ = false;
};

}  // namespace kp::posix
