#pragma once

#include <cstddef>
#include <cstdint>

#include "input/error_code.h"

namespace kp {

// The buffered input stream behind an open disk file. The buffer and its
// bookkeeping are the same on every platform (file_stream.cc); each platform
// layer opens, closes, seeks and reads raw blocks of the file
// (file_stream-posix.cc, file_stream-win32.cc). The one-byte path is inline so
// that the field reader costs no call into the platform, no lock and no
// system call per byte.
class FileStream {
 public:
  // Blocks of 64 KiB: an eighth of the read system calls that 8 KiB took,
  // 129 ms of processor time instead of 134 for 10^6 rows to a file (first
  // quartile of 31 runs each, side by side), for 112 KiB more memory.
  static constexpr size_t kBufferSize = 65536;
  // Bytes past the line feed behind the buffered bytes that a reader may
  // read (and must not use): room for copies of fixed size.
  static constexpr size_t kReadSlack = 32;

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
  // at once; consumeBufferedTo(p) takes every byte before p, which lies
  // between bufferedBegin() and bufferedEnd(). The byte at bufferedEnd() is
  // no data but always a line feed, so a scan for the end of a field or line
  // stops there without testing its bounds at every byte (the field reader's
  // record path: 46 instructions less a record, a tenth of it, by callgrind
  // on a generated pair of 10^5 records).
  const unsigned char* bufferedBegin() const { return next_; }
  const unsigned char* bufferedEnd() const { return limit_; }
  void consumeBufferedTo(const unsigned char* position) { next_ = position; }

  // Reads up to count bytes; returns how many were delivered (0 at the end).
  size_t read(unsigned char* destination, size_t count);

  // The stream's own end/error state: set once a read has met the end of the
  // data or failed.
  bool endFlag() const { return ended_; }

  // Byte position of the next byte to be read, counted from the file's start.
  int64_t tell() const { return limitPosition_ - (limit_ - next_); }

  // Moves the read position; false on failure.
  bool seek(int64_t position);

  // The platform's directory separator ('/' on POSIX, '\\' on Windows).
  static char directorySeparator();

 private:
  explicit FileStream(intptr_t handle) : handle_(handle) {}
  ~FileStream() = default;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Refills the buffer and returns its first byte, or -1 at the end.
  int fill();

  // The platform's part. readBlock delivers up to count bytes from the file's
  // position, 0 at the end of the data or after an error; seekHandle moves
  // the file's position.
  size_t readBlock(unsigned char* destination, size_t count);
  bool seekHandle(int64_t position);

  // Points limit_ just behind the `count` bytes at the buffer's start and
  // puts the line feed there.
  void setBuffered(size_t count) {
    next_ = buffer_;
    limit_ = buffer_ + count;
    buffer_[count] = '\n';
  }

  const unsigned char* next_ = buffer_;
  const unsigned char* limit_ = buffer_;
  bool ended_ = false;
  intptr_t handle_;            // file descriptor, or the platform's FILE*
  int64_t limitPosition_ = 0;  // file position of limit_
  unsigned char buffer_[kBufferSize + 1 + kReadSlack] = {'\n'};
};

}  // namespace kp
