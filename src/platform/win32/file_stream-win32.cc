// The C runtime's buffered stream behind an open disk file, read in blocks
// into the stream's own buffer (file_stream.cc). The position of the next
// byte is counted from the bytes delivered: in binary mode that is the
// runtime's position, which the end test asks for before every record, and
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

  FileStream* opened = new (std::nothrow) FileStream(reinterpret_cast<intptr_t>(file));
  if (opened == nullptr) {
    std::fclose(file);
    return FileIO;
  }
  *stream = opened;
  *size = position;
  return Ok;
}

void FileStream::close(FileStream* stream) {
  if (stream == nullptr) return;
  if (stream->handle_ != -1) std::fclose(fileOf(stream->handle_));
  delete stream;
}

size_t FileStream::readBlock(unsigned char* destination, size_t count) {
  return std::fread(destination, 1, count, fileOf(handle_));
}

bool FileStream::seekHandle(int64_t position) {
  fpos_t target = position;
  return std::fsetpos(fileOf(handle_), &target) == 0;
}

char FileStream::directorySeparator() {
  return '\\';
}

}  // namespace kp
