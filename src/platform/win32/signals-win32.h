#pragma once

#include <cstdint>

#include "console/key_event_source.h"

namespace kp::platform {

// The console's control events (Ctrl+C, Ctrl+Break, closing the console,
// logoff, shutdown), which the system delivers on a thread of its own while
// the main thread may be printing or waiting. Two handlers take part:
// - one that sends the redirected output gathered so far, put in before the
//   first byte is gathered; it passes every event on unchanged, so the
//   system's default still ends the process;
// - the key wait's, put in at its first look and taken out at exit; the
//   system asks it first, as the later one.
class ControlEvents {
 public:
  // `send` runs on the event's thread before the event is passed on.
  static void sendBeforeEnd(void (*send)(void*), void* context);

  // Puts in (install true) or takes out the key wait's handler.
  static void route(ControlHandler handler, void* context, bool install);

  // Delivers `type` to the key wait's handler on a thread of its own, as the
  // system delivers its events; false when no handler is in.
  static bool raise(uint32_t type);
};

}  // namespace kp::platform
