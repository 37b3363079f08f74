#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

  FileStream* opened = new (std::nothrow) FileStream(fd);
  if (opened == nullptr) {
    ::close(fd);
    return FileNotFound;
  }
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

size_t FileStream::readBlock(unsigned char* destination, size_t count) {
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle_), destination, count);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

bool FileStream::seekHandle(int64_t position) {
  return ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) ==
         static_cast<off_t>(position);
}

char FileStream::directorySeparator() {
  return '/';
}

}  // namespace kp
