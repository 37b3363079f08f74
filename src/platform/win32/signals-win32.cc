#include "platform/win32/signals-win32.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>

namespace kp::platform {

namespace {

// The system calls a control handler without a context: what each handler
// works on is kept here.
std::atomic<void (*)(void*)> sendAction{nullptr};
std::atomic<void*> sendContext{nullptr};
std::atomic<ControlHandler> keyHandler{nullptr};
std::atomic<void*> keyContext{nullptr};

BOOL WINAPI sendThenPassOn(DWORD) {
  void (*send)(void*) = sendAction.load();
  if (send != nullptr) send(sendContext.load());
  return FALSE;
}

BOOL WINAPI toKeyWait(DWORD type) {
  ControlHandler handler = keyHandler.load();
  if (handler == nullptr) return FALSE;
  return handler(keyContext.load(), type) ? TRUE : FALSE;
}

DWORD WINAPI raisedOnOwnThread(LPVOID type) {
  toKeyWait(static_cast<DWORD>(reinterpret_cast<uintptr_t>(type)));
  return 0;
}

}  // namespace

void ControlEvents::sendBeforeEnd(void (*send)(void*), void* context) {
  sendContext.store(context);
  sendAction.store(send);
  SetConsoleCtrlHandler(&sendThenPassOn, TRUE);
}

void ControlEvents::route(ControlHandler handler, void* context, bool install) {
  if (install) {
    keyContext.store(context);
    keyHandler.store(handler);
    SetConsoleCtrlHandler(&toKeyWait, TRUE);
  } else {
    SetConsoleCtrlHandler(&toKeyWait, FALSE);
    keyHandler.store(nullptr);
  }
}

bool ControlEvents::raise(uint32_t type) {
  if (keyHandler.load() == nullptr) return false;
  // Like the system's own events it comes on a thread of its own, so the
  // handler never runs inside the key wait's look.
  HANDLE thread = CreateThread(nullptr, 0, &raisedOnOwnThread,
                               reinterpret_cast<LPVOID>(static_cast<uintptr_t>(type)), 0, nullptr);
  if (thread != nullptr) {
    CloseHandle(thread);
  } else {
    toKeyWait(type);
  }
  return true;
}

}  // namespace kp::platform
