// The C runtime's buffered stream behind an open disk file. Every byte goes
// through the stream's own 8192-byte buffer (one fread per byte, no buffer of
// ours), so next_ and limit_ stay null and getByte always lands in fill().
// limitPosition_ counts the bytes delivered: in binary mode that is the
// stream's position, which the end test asks for before every record, and
// asking the runtime (ftell) would cost a system call each time.

#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <new>

#include "input/file_stream.h"

namespace kp {

namespace {

// Binary, not text mode. Text mode ends the data at the first Ctrl-Z byte, so
// a stray 0x1A inside a record silently drops every record behind it; and the
// end test compares the stream position with the byte length measured at
// open, which in text mode rests on the runtime's ftell undoing its CR LF
// translation, something it does not promise for files whose lines end in LF
// alone. The field reader takes CR LF, LF and CR alike as line ends, so binary
// reads give the same fields as text mode on every other file.
constexpr const char* kReopenMode = "rb";

FILE* fileOf(intptr_t handle) {
  return reinterpret_cast<FILE*>(handle);
}

// Only a regular file is a recipe file: a directory, NUL, CON or a pipe would
// be no data or would block the first read.
bool isRegularFile(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // let the open decide
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool isRegularStream(FILE* file) {
  struct _stati64 status;
  if (_fstati64(_fileno(file), &status) != 0) return false;
  return (status.st_mode & _S_IFMT) == _S_IFREG;
}

}  // namespace

ErrorCode FileStream::open(const char* path, FileStream** stream, int64_t* size) {
  *stream = nullptr;
  *size = -1;
  if (!isRegularFile(path)) return FileNotFound;

  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return FileNotFound;
  if (!isRegularStream(file)) {
    std::fclose(file);
    return FileNotFound;
  }

  // Length in bytes: the descriptor's length, confirmed by moving there.
  std::fflush(file);
  fpos_t position = _filelengthi64(_fileno(file));
  if (position < 0 || std::fsetpos(file, &position) != 0 || std::fgetpos(file, &position) != 0) {
    std::fclose(file);
    return IllegalCall;
  }

  // Reopening starts again at the first byte.
  file = std::freopen(path, kReopenMode, file);
  if (file == nullptr) return FileNotFound;  // freopen has closed the stream
  std::setvbuf(file, nullptr, _IOFBF, kBufferSize);

  FileStream* opened = new (std::nothrow) FileStream();
  if (opened == nullptr) {
    std::fclose(file);
    return FileIO;
  }
  opened->handle_ = reinterpret_cast<intptr_t>(file);
  opened->limitPosition_ = 0;
  *stream = opened;
  *size = position;
  return Ok;
}

void FileStream::close(FileStream* stream) {
  if (stream == nullptr) return;
  if (stream->handle_ != -1) std::fclose(fileOf(stream->handle_));
  delete stream;
}

int FileStream::fill() {
  unsigned char byte = 0;
  if (std::fread(&byte, 1, 1, fileOf(handle_)) == 1) {
    ++limitPosition_;
    return byte;
  }
  ended_ = true;
  return -1;
}

size_t FileStream::read(unsigned char* destination, size_t count) {
  if (count == 0) return 0;
  size_t delivered = std::fread(destination, 1, count, fileOf(handle_));
  limitPosition_ += static_cast<int64_t>(delivered);
  if (delivered < count) ended_ = true;
  return delivered;
}

int64_t FileStream::tell() const {
  return limitPosition_;
}

bool FileStream::seek(int64_t position) {
  fpos_t target = position;
  if (position < 0 || std::fsetpos(fileOf(handle_), &target) != 0) return false;
  limitPosition_ = position;
  ended_ = false;
  return true;
}

char FileStream::directorySeparator() {
  return '\\';
}

}  // namespace kp
