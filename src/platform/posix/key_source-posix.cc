#include "platform/posix/key_source-posix.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/key_decoder-posix.h"

namespace kp::posix {

PosixKeySource::PosixKeySource(int inFd, const KeySourceOptions& options)
    : inFd_(inFd),
      options_(options),
      terminalInput_(isatty(inFd) == 1),
      input_(options.input != nullptr ? options.input : &ownInput_) {}

// Reads once what is pending; true when bytes came since the last look
// (a cursor query may have read some meanwhile).
bool PosixKeySource::readInput() {
  while (!atEnd_) {
    size_t available = 0;
    unsigned char* to = input_->room(&available);
    if (available == 0) break;
    struct pollfd p = {inFd_, POLLIN, 0};
    const int ready = poll(&p, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    if (p.revents & POLLNVAL) {
      atEnd_ = true;  // no standard input at all
      break;
    }
    const ssize_t n = read(inFd_, to, available);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      atEnd_ = true;  // end of file, or a terminal that has gone
      break;
    }
    input_->added(static_cast<size_t>(n));
    break;  // one read a look; more stays queued for the next
  }
  const bool fresh = input_->received() != receivedSeen_;
  receivedSeen_ = input_->received();
  return fresh;
}

bool PosixKeySource::decodeNext(bool freshBytes) {
  if (input_->size() == 0) {
    unfinishedSeen_ = false;
    return false;
  }
  // An unfinished sequence that got nothing more since the last look is taken
  // as typed: a lone ESC is the Esc key.
  const bool final = atEnd_ || (unfinishedSeen_ && !freshBytes);
  KeyEvent key;
  if (!input_->nextKey(final, &key)) {
    unfinishedSeen_ = input_->size() > 0;
    return false;
  }
  unfinishedSeen_ = false;
  events_[0].eventType = KeyEventType;
  events_[0].key = key;
  events_[1] = events_[0];
  events_[1].key.keyDown = 0;
  eventHead_ = 0;
  eventCount_ = 2;
  return true;
}

void PosixKeySource::deliverControlEvents() {
  if (handler_ == nullptr || options_.signals == nullptr) return;
  for (int type = options_.signals->takeControlEvent(); type >= 0;
       type = options_.signals->takeControlEvent()) {
    handler_(context_, static_cast<uint32_t>(type));
  }
}

bool PosixKeySource::peekEvent(InputEvent* event) {
  if (!looked_ || (terminalInput_ && options_.modes != nullptr && !options_.modes->applied())) {
    // Normally done at the console's first use; a job put in the foreground
    // since then gets its modes here.
    looked_ = true;
    if (options_.modes != nullptr) options_.modes->apply();
  } else if (options_.modes != nullptr) {
    options_.modes->retake();
  }
  // What was printed must be out before the program waits on the user.
  if (options_.output != nullptr) options_.output->flushOutput();
  deliverControlEvents();

  if (eventCount_ == 0) decodeNext(readInput());
  if (eventCount_ > 0) {
    *event = events_[eventHead_];
    return true;
  }
  if (atEnd_ && input_->size() == 0 && !endReported_ && handler_ != nullptr) {
    endReported_ = true;
    handler_(context_, CtrlCloseEvent);
  }
  return false;
}

bool PosixKeySource::readEvent(InputEvent* event) {
  if (eventCount_ == 0 && !peekEvent(event)) return false;
  *event = events_[eventHead_];
  eventHead_ = (eventHead_ + 1) % 2;
  --eventCount_;
  return true;
}

void PosixKeySource::sleep(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    // A close or shutdown cuts the sleep short so the next look sees it.
    if (options_.signals != nullptr && options_.signals->controlPending()) return;
  }
}

void PosixKeySource::setControlHandler(ControlHandler handler, void* context, bool install) {
  if (install) {
    handler_ = handler;
    context_ = context;
  } else if (handler_ == handler) {
    handler_ = nullptr;
    context_ = nullptr;
  }
  if (options_.signals != nullptr) options_.signals->routeControlEvents(handler_ != nullptr);
}

uint32_t PosixKeySource::mapVirtualKey(uint32_t code, uint32_t mapType) {
  return usMapVirtualKey(code, mapType);
}

int16_t PosixKeySource::vkKeyScan(char character) {
  return usVkKeyScan(character);
}

void PosixKeySource::registerExitAction(void (*action)(void*), void* context) {
  if (options_.registerExit != nullptr) options_.registerExit(action, context);
}

}  // namespace kp::posix
