#include "console/output_cursor.h"

#include <algorithm>

namespace kp {

OutputCursor::ChunkedWriter::ChunkedWriter(OutputCursor& cursor, FileNumber number)
    : cursor_(cursor) {
  at_ = cursor_.open(number, 0);
  const LentBuffer* const lent = cursor_.lent_;
  end_ = lent != nullptr ? lent->data + lent->capacity : cursor_.staging_ + kStagingSize;
}

void OutputCursor::ChunkedWriter::spill() {
  cursor_.close(at_);
  cursor_.lent_ = nullptr;
  at_ = cursor_.staging_;
  end_ = cursor_.staging_ + kStagingSize;
}

void OutputCursor::ChunkedWriter::put(const char* bytes, size_t length) {
  while (length > 0) {
    if (at_ == end_) spill();
    const size_t chunk = std::min(length, room());
    std::memcpy(at_, bytes, chunk);
    at_ += chunk;
    bytes += chunk;
    length -= chunk;
  }
}

void OutputCursor::ChunkedWriter::putWide(const char16_t* text, size_t count) {
  while (count > 0) {
    if (at_ == end_) spill();
    const size_t chunk = std::min(count, room());
    showWide(at_, text, chunk);
    at_ += chunk;
    text += chunk;
    count -= chunk;
  }
}

void OutputCursor::ChunkedWriter::fill(size_t count) {
  while (count > 0) {
    if (at_ == end_) spill();
    const size_t chunk = std::min(count, room());
    std::memset(at_, ' ', chunk);
    at_ += chunk;
    count -= chunk;
  }
}

char* OutputCursor::ChunkedWriter::reserve(size_t length) {
  if (length > room()) spill();
  return at_;
}

}  // namespace kp
