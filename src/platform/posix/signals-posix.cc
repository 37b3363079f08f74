#include "platform/posix/signals-posix.h"

#include <cerrno>

#include "console/key_event_source.h"
#include "platform/posix/console_device-posix.h"
#include "platform/posix/terminal_modes-posix.h"

namespace kp::posix {

namespace {

// The handlers are process-wide; they reach the router through this.
std::atomic<SignalRouter*> activeRouter{nullptr};

void dieOf(int signal) {
  // Blocked while its handler runs: raised again, it takes its default
  // action as soon as the handler returns.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void handle(int signal, void (*handler)(int), const sigset_t* alsoHeld = nullptr) {
  struct sigaction action {};
  action.sa_handler = handler;
  if (alsoHeld != nullptr) {
    action.sa_mask = *alsoHeld;
  } else {
    sigemptyset(&action.sa_mask);
  }
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

// The signals whose handlers write to the output: those that may end the
// process and send the output buffer, and the stop, which resets the
// colours. Held while the buffer is being sent, and while one of them is
// being handled, so that the buffer goes out once and nothing cuts into it.
sigset_t signalsThatWrite() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

void SignalRouter::install() {
  activeRouter.store(this);
  const sigset_t writing = signalsThatWrite();
  if (device_ != nullptr) device_->holdWhileSending(writing);
  for (int i = 0; i < kCount; ++i) {
    const int signal = kSignals[i];
    sigaction(signal, nullptr, &previous_[i]);
    if (previous_[i].sa_handler == SIG_IGN) continue;
    switch (signal) {
      case SIGHUP:
      case SIGTERM:
        handle(signal, &SignalRouter::onControl, &writing);
        break;
      case SIGTSTP:
        handle(signal, &SignalRouter::onStop);
        break;
      case SIGCONT:
        handle(signal, &SignalRouter::onContinue);
        break;
      case SIGWINCH:
        handle(signal, &SignalRouter::onResize);
        break;
      case SIGPIPE:
        std::signal(SIGPIPE, SIG_IGN);
        break;
      default:
        handle(signal, &SignalRouter::onFatal, &writing);
        break;
    }
  }
  installed_ = true;
}

void SignalRouter::uninstall() {
  if (!installed_) return;
  for (int i = 0; i < kCount; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  SignalRouter* self = this;
  activeRouter.compare_exchange_strong(self, nullptr);
  installed_ = false;
}

int SignalRouter::takeControlEvent() {
  if (hangup_.exchange(false)) return static_cast<int>(CtrlCloseEvent);
  if (terminate_.exchange(false)) return static_cast<int>(CtrlShutdownEvent);
  return -1;
}

void SignalRouter::restoreTerminal(bool forStop) {
  // Our last bytes before the shell's modes: the terminal is the shell's after them.
  if (device_ != nullptr) device_->resetColoursFromSignal();
  if (modes_ != nullptr) modes_->restore(forStop);
}

void SignalRouter::endFromSignal() {
  // What was printed goes out first, in the colours it was printed in.
  if (device_ != nullptr) device_->sendFromSignal();
  restoreTerminal(false);
}

void SignalRouter::onFatal(int signal) {
  const int saved = errno;
  SignalRouter* router = activeRouter.load();
  if (router != nullptr) router->endFromSignal();
  dieOf(signal);
  errno = saved;
}

void SignalRouter::onControl(int signal) {
  const int saved = errno;
  SignalRouter* router = activeRouter.load();
  if (router != nullptr && router->routed_.load()) {
    (signal == SIGHUP ? router->hangup_ : router->terminate_).store(true);
  } else {
    if (router != nullptr) router->endFromSignal();
    dieOf(signal);
  }
  errno = saved;
}

void SignalRouter::onStop(int signal) {
  const int saved = errno;
  SignalRouter* router = activeRouter.load();
  if (router != nullptr) router->restoreTerminal(true);
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  std::raise(signal);
  // The stop happens here, once the signal is unblocked; we go on after SIGCONT.
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  handle(signal, &SignalRouter::onStop);
  if (router != nullptr && router->modes_ != nullptr) router->modes_->reapply();
  errno = saved;
}

void SignalRouter::onContinue(int) {
  const int saved = errno;
  SignalRouter* router = activeRouter.load();
  if (router != nullptr) {
    if (router->modes_ != nullptr) router->modes_->reapply();
    // The shell wrote to the screen meanwhile: address the next write afresh.
    if (router->device_ != nullptr) router->device_->markSizeStale();
  }
  errno = saved;
}

void SignalRouter::onResize(int) {
  SignalRouter* router = activeRouter.load();
  if (router != nullptr && router->device_ != nullptr) router->device_->markSizeStale();
}

}  // namespace kp::posix
