#pragma once

#include <cstddef>
#include <cstring>

#include "console/text_printer.h"
#include "input/file_table.h"

namespace kp {

// One byte a character: the console's 8-bit code page holds the first 256
// characters; anything beyond shows as '?'.
inline void showWide(char* at, const char16_t* from, size_t count) {
  for (size_t i = 0; i < count; ++i) at[i] = from[i] < 256 ? static_cast<char>(from[i]) : '?';
}

// Where a template item's bytes go: straight into the buffer the output
// lends (the console's, on redirected output), or else into a staging buffer
// that is handed to printText as one piece when the item is done. An item
// asks for room for the most it can print and writes there without further
// checks (Writer); one that may be larger than the staging buffer writes
// piece by piece, each as far as it fits (ChunkedWriter). Either way
// kCopySlack bytes more may be written, so that short pieces go as copies of
// fixed size.
class OutputCursor {
 public:
  // Room for the most a text field of the longest laid-out text shows.
  static constexpr size_t kStagingSize = 16384;

  explicit OutputCursor(TextPrinter& out) : out_(out) {}
  OutputCursor(const OutputCursor&) = delete;
  OutputCursor& operator=(const OutputCursor&) = delete;

  // Room for `most` bytes, or null when that is more than the staging
  // buffer holds.
  char* open(FileNumber number, size_t most) {
    lent_ = out_.lentBuffer(number);
    if (lent_ != nullptr) {
      char* const at = lent_->room(most);
      if (at != nullptr) return at;
      lent_ = nullptr;
    }
    number_ = number;
    return most <= kStagingSize ? staging_ : nullptr;
  }
  // The item's bytes end at `end`: committed to the lent buffer, or the
  // staging buffer handed to printText.
  void close(char* end) {
    if (lent_ != nullptr) {
      lent_->used->store(static_cast<size_t>(end - lent_->data), std::memory_order_release);
    } else if (end != staging_) {
      out_.printText(number_, staging_, static_cast<size_t>(end - staging_), EndNothing);
    }
  }

  // Writes into room reserved for all of an item's bytes.
  class Writer {
   public:
    explicit Writer(char* at) : at_(at) {}
    char* at() const { return at_; }
    // Bytes followed by kCopySlack more that may be read, such as a plan's literal text.
    void put(const char* bytes, size_t length) {
      if (length <= kCopySlack) {
        std::memcpy(at_, bytes, kCopySlack);
      } else {
        std::memcpy(at_, bytes, length);
      }
      at_ += length;
    }
    // Bytes of which no more may be read.
    void putExactly(const char* bytes, size_t length) {
      copyExactly(at_, bytes, length);
      at_ += length;
    }
    // Characters of 16 bits, one byte each.
    void putWide(const char16_t* text, size_t count) {
      showWide(at_, text, count);
      at_ += count;
    }
    // `count` spaces.
    void fill(size_t count) {
      if (count <= kCopySlack) {
        std::memset(at_, ' ', kCopySlack);
      } else {
        std::memset(at_, ' ', count);
      }
      at_ += count;
    }
    // A piece of at most `length` bytes is written at the pointer returned,
    // then taken by advance().
    char* reserve(size_t) { return at_; }
    void advance(size_t length) { at_ += length; }

   private:
    char* at_;
  };

  // Writes piece by piece, the lent buffer as far as it goes, then the
  // staging buffer, handed to printText whenever it is full.
  class ChunkedWriter {
   public:
    ChunkedWriter(OutputCursor& cursor, FileNumber number);
    void put(const char* bytes, size_t length);
    void putExactly(const char* bytes, size_t length) { put(bytes, length); }
    void putWide(const char16_t* text, size_t count);
    void fill(size_t count);
    char* reserve(size_t length);  // at most kStagingSize
    void advance(size_t length) { at_ += length; }
    void close() { cursor_.close(at_); }

   private:
    void spill();
    size_t room() const { return static_cast<size_t>(end_ - at_); }

    OutputCursor& cursor_;
    char* at_;
    char* end_;
  };

 private:
  // Up to kCopySlack bytes as two moves of fixed size that may overlap,
  // reading nothing beyond the bytes: no call into the library for a short text.
  static void copyExactly(char* to, const char* from, size_t length) {
    if (length > kCopySlack) {
      std::memcpy(to, from, length);
    } else if (length >= 16) {
      std::memcpy(to, from, 16);
      std::memcpy(to + length - 16, from + length - 16, 16);
    } else if (length >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + length - 8, from + length - 8, 8);
    } else if (length >= 4) {
      std::memcpy(to, from, 4);
      std::memcpy(to + length - 4, from + length - 4, 4);
    } else if (length != 0) {
      to[0] = from[0];
      to[length / 2] = from[length / 2];
      to[length - 1] = from[length - 1];
    }
  }

  TextPrinter& out_;
  FileNumber number_ = 0;
  const LentBuffer* lent_ = nullptr;  // null: the staging buffer
  char staging_[kStagingSize + kCopySlack];
};

}  // namespace kp
