#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "input/file_stream.h"

namespace kp {

ErrorCode FileStream::open(const char* path, FileStream** stream, int64_t* size) {
  *stream = nullptr;
  *size = -1;
  if (path == nullptr || path[0] == '\0') return FileNotFound;

  // Non-blocking so that a FIFO without a writer cannot hang the open; the
  // type check below turns it away anyway.
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return FileNotFound;

  struct stat info;
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return IllegalCall;
  }
  // Only a regular file has a length the end-of-file test can count down to;
  // a directory, FIFO, device or socket would never reach it.
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return FileNotFound;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  FileStream* opened = new (std::nothrow) FileStream;
  if (opened == nullptr) {
    ::close(fd);
    return FileNotFound;
  }
  opened->handle_ = fd;
  opened->next_ = opened->buffer_;
  opened->limit_ = opened->buffer_;
  opened->limitPosition_ = 0;
  *stream = opened;
  *size = static_cast<int64_t>(info.st_size);
  return Ok;
}

void FileStream::close(FileStream* stream) {
  if (stream == nullptr) return;
  // No retry on EINTR: the descriptor is gone either way on this platform.
  if (stream->handle_ >= 0) ::close(static_cast<int>(stream->handle_));
  delete stream;
}

int FileStream::fill() {
  // The end is sticky: once met, reading past it costs no system call, and a
  // file that shrank under us stays at its end.
  if (ended_) return -1;
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle_), buffer_, kBufferSize);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    // A read error counts as the end of the data; otherwise the position
    // would never reach the size and the reader would go on for ever.
    ended_ = true;
    next_ = buffer_;
    limit_ = buffer_;
    return -1;
  }
  limitPosition_ += got;
  next_ = buffer_;
  limit_ = buffer_ + got;
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

int64_t FileStream::tell() const {
  return limitPosition_ - (limit_ - next_);
}

bool FileStream::seek(int64_t position) {
  if (position < 0) return false;
  if (::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) !=
      static_cast<off_t>(position)) {
    return false;
  }
  next_ = buffer_;
  limit_ = buffer_;
  limitPosition_ = position;
  ended_ = false;
  return true;
}

char FileStream::directorySeparator() {
  return '/';
}

}  // namespace kp
