#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>

namespace kp::platform {

// Raw output gathered for a file or pipe and handed on in large writes.
//
// The printing thread appends and sends. Any other thread (a console control
// handler, just before the process is ended) may send what has been appended
// so far. What reaches the sink is always a byte prefix of what was appended,
// each byte once and in order: the threads take turns at the sink, the other
// thread sends only bytes whose append has finished, and the printing thread
// goes on behind the last byte the other one sent.
//
// An append takes no turn and no lock: a copy and one release store of the
// new length, a plain store on x86.
class GatheredOutput {
 public:
  // Writes bytes on; false when the write failed, *written being what got
  // through.
  using Sink = bool (*)(void* context, const char* bytes, size_t count, size_t* written);

  GatheredOutput(size_t capacity, Sink sink, void* context);

  // The printing thread. Appends the bytes, sending what is gathered first
  // when they do not fit; bytes as many as the capacity or more go to the
  // sink at once, behind what was gathered. False when a send failed.
  bool append(const char* bytes, size_t count, size_t* written);

  // The printing thread: sends everything gathered.
  bool send();

  // Any other thread: sends what has been appended so far. Waits at most
  // `patience` for a send of the printing thread to finish, and sends
  // nothing when it did not. False when nothing could be sent or the send
  // failed.
  bool sendAppended(std::chrono::milliseconds patience);

 private:
  enum Turn : int { Free, Printer, Other };

  // Writes all of bytes to the sink, as many calls as it takes; stops at the
  // first that fails or gets nothing through.
  bool writeAll(const char* bytes, size_t count, size_t* written);
  void takePrinterTurn();
  // Sends [sent_, filled_) with the printer's turn held; the buffer is empty
  // afterwards, also when the send failed (the rest is dropped, as the
  // console writer drops the rest of a failed write).
  bool sendHeld();

  const size_t capacity_;
  std::unique_ptr<char[]> storage_;
  Sink sink_;
  void* context_;

  size_t filled_ = 0;                // the printing thread's own count
  std::atomic<size_t> appended_{0};  // filled_, published for the other thread
  size_t sent_ = 0;                  // bytes at the front already sent; whoever holds the turn
  std::atomic<int> turn_{Free};
};

}  // namespace kp::platform
