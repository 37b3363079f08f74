#include "platform/gathered_output.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace kp::platform {

namespace {

// A send of the other side is one write of at most the capacity; waiting for
// it in steps of a millisecond costs nothing worth measuring.
constexpr std::chrono::milliseconds kWaitStep{1};

// The sink takes a count a system call can carry in one go.
constexpr size_t kLargestWrite = size_t{1} << 30;

}  // namespace

GatheredOutput::GatheredOutput(size_t capacity, Sink sink, void* context)
    : capacity_(capacity), storage_(new char[capacity]), sink_(sink), context_(context) {}

bool GatheredOutput::append(const char* bytes, size_t count, size_t* written) {
  *written = 0;
  if (count > capacity_ - filled_) {
    takePrinterTurn();
    bool ok = sendHeld();
    const bool direct = count >= capacity_;
    // Too big to gather: goes out at once, behind what was gathered before.
    if (ok && direct) ok = writeAll(bytes, count, written);
    turn_.store(Free, std::memory_order_release);
    if (!ok || direct) return ok;
  }
  std::memcpy(storage_.get() + filled_, bytes, count);
  filled_ += count;
  appended_.store(filled_, std::memory_order_release);
  *written = count;
  return true;
}

bool GatheredOutput::send() {
  if (filled_ == 0) return true;
  takePrinterTurn();
  const bool ok = sendHeld();
  turn_.store(Free, std::memory_order_release);
  return ok;
}

bool GatheredOutput::sendAppended(std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    int expected = Free;
    if (turn_.compare_exchange_strong(expected, Other, std::memory_order_acquire)) break;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kWaitStep);
  }
  const size_t end = appended_.load(std::memory_order_acquire);
  bool ok = true;
  if (end > sent_) {
    size_t written = 0;
    ok = writeAll(storage_.get() + sent_, end - sent_, &written);
  }
  sent_ = end;  // a failed rest is dropped, as the printing thread drops it
  turn_.store(Free, std::memory_order_release);
  return ok;
}

void GatheredOutput::takePrinterTurn() {
  // The other side holds the turn only for one write; the printing thread
  // waits for it as it would wait for a write of its own.
  for (;;) {
    int expected = Free;
    if (turn_.compare_exchange_strong(expected, Printer, std::memory_order_acquire)) return;
    std::this_thread::sleep_for(kWaitStep);
  }
}

bool GatheredOutput::sendHeld() {
  bool ok = true;
  if (filled_ > sent_) {
    size_t written = 0;
    ok = writeAll(storage_.get() + sent_, filled_ - sent_, &written);
  }
  filled_ = 0;
  sent_ = 0;
  appended_.store(0, std::memory_order_relaxed);
  return ok;
}

bool GatheredOutput::writeAll(const char* bytes, size_t count, size_t* written) {
  *written = 0;
  while (*written < count) {
    const size_t chunk = std::min(count - *written, kLargestWrite);
    size_t done = 0;
    if (!sink_(context_, bytes + *written, chunk, &done) || done == 0) return false;
    *written += std::min(done, chunk);
  }
  return true;
}

}  // namespace kp::platform
