#include "input/file_stream.h"

#include <cstring>

namespace kp {

int FileStream::fill() {
  // The end is sticky: once met, reading past it costs no system call, and a
  // file that shrank under us stays at its end. A read error counts as the
  // end too; otherwise the position would never reach the size and the
  // reader would go on for ever.
  if (ended_) return -1;
  const size_t got = readBlock(buffer_, kBufferSize);
  setBuffered(got);
  if (got == 0) {
    ended_ = true;
    return -1;
  }
  limitPosition_ += static_cast<int64_t>(got);
  return *next_++;
}

size_t FileStream::read(unsigned char* destination, size_t count) {
  size_t delivered = 0;
  while (delivered < count) {
    if (next_ == limit_) {
      const int byte = fill();
      if (byte < 0) break;
      destination[delivered++] = static_cast<unsigned char>(byte);
      continue;
    }
    size_t chunk = static_cast<size_t>(limit_ - next_);
    if (chunk > count - delivered) chunk = count - delivered;
    std::memcpy(destination + delivered, next_, chunk);
    next_ += chunk;
    delivered += chunk;
  }
  return delivered;
}

bool FileStream::seek(int64_t position) {
  if (position < 0 || !seekHandle(position)) return false;
  setBuffered(0);
  limitPosition_ = position;
  ended_ = false;
  return true;
}

}  // namespace kp
