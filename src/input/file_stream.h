#pragma once

#include <cstddef>
#include <cstdint>

#include "input/error_code.h"

namespace kp {

// The platform's buffered input stream behind an open disk file. Each platform
// layer implements the out-of-line members (file_stream-posix.cc,
// file_stream-win32.cc); the one-byte fast path is inline so that the field
// reader costs no call into the platform, no lock and no system call per byte.
class FileStream {
 public:
  static constexpr size_t kBufferSize = 8192;

  // Opens an existing, readable regular file for reading from its first byte.
  // On success *stream is the new stream and *size the file's length in bytes
  // at the time of the open. Anything that is not a readable regular file
  // (a directory, a FIFO, a device) fails with FileNotFound without blocking;
  // a length that cannot be measured fails with IllegalCall.
  static ErrorCode open(const char* path, FileStream** stream, int64_t* size);

  // Closes the stream and frees it.
  static void close(FileStream* stream);

  // The next byte 0..255, or -1 at the end of the data (or after a read
  // error, which counts as the end of the data and sets the end flag).
  int getByte() {
    if (next_ != limit_) return *next_++;
    return fill();
  }

  // The bytes already in the buffer, for a reader that takes a run of them
  // at once; skipBuffered(n) consumes the first n. Empty where the platform
  // stream keeps no buffer of ours.
  const unsigned char* bufferedBegin() const { return next_; }
  const unsigned char* bufferedEnd() const { return limit_; }
  void skipBuffered(size_t count) { next_ += count; }

  // Reads up to count bytes; returns how many were delivered (0 at the end).
  size_t read(unsigned char* destination, size_t count);

  // The stream's own end/error state: set once a read has met the end of the
  // data or failed.
  bool endFlag() const { return ended_; }

  // Byte position of the next byte to be read, counted from the file's start;
  // -1 when it cannot be told.
  int64_t tell() const;

  // Moves the read position; false on failure.
  bool seek(int64_t position);

  // The platform's directory separator ('/' on POSIX, '\\' on Windows).
  static char directorySeparator();

 private:
  FileStream() = default;
  ~FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Refills the buffer (or reads one byte directly) and returns the next byte
  // or -1.
  int fill();

  const unsigned char* next_ = nullptr;
  const unsigned char* limit_ = nullptr;
  bool ended_ = false;
  intptr_t handle_ = -1;       // file descriptor, or the platform's FILE*
  int64_t limitPosition_ = 0;  // file position of limit_
  unsigned char buffer_[kBufferSize];
};

}  // namespace kp
