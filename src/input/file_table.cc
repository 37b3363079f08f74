#include "input/file_table.h"

#include <cstring>
#include <string>

namespace kp {

namespace {

int32_t diskEndOfFile(FileSlot& slot) {
  if (slot.stream == nullptr) return -1;
  if (slot.mode == PositionedBytes || slot.mode == RandomRecords) {
    return slot.stream->tell() >= slot.size ? -1 : 0;
  }
  if (slot.stream->endFlag()) return -1;
  if (slot.mode == Output || slot.mode == Append) return 0;
  if (slot.hooks == nullptr || slot.hooks->seek == nullptr || slot.hooks->tell == nullptr) {
    return 0;
  }
  // Every byte the file had at the open has been consumed, whether or not a
  // read has yet tried to go past it.
  return FileTable::inputAtEnd(slot);
}

ErrorCode diskClose(FileSlot& slot) {
  FileStream::close(slot.stream);
  slot.stream = nullptr;
  return Ok;
}

ErrorCode diskSeek(FileSlot& slot, int64_t position) {
  if (slot.stream == nullptr) return IllegalCall;
  return slot.stream->seek(position) ? Ok : FileIO;
}

int64_t diskTell(FileSlot& slot) {
  return slot.stream == nullptr ? -1 : slot.stream->tell();
}

size_t diskReadBytes(FileSlot& slot, unsigned char* destination, size_t count) {
  const size_t delivered = slot.stream == nullptr ? 0 : slot.stream->read(destination, count);
  if (delivered < count) std::memset(destination + delivered, 0, count - delivered);
  return delivered;
}

// Zero-fills the slot; only `hooks` being null marks it free.
void clearSlot(FileSlot& slot) {
  slot = FileSlot{};
}

}  // namespace

// A file opened for input has nothing to write, lock or flush.
const DeviceHooks diskFileHooks = {
    .endOfFile = diskEndOfFile,
    .close = diskClose,
    .seek = diskSeek,
    .tell = diskTell,
    .readBytes = diskReadBytes,
    .readWide = nullptr,
    .writeBytes = nullptr,
    .writeWide = nullptr,
    .lockRegion = nullptr,
    .unlockRegion = nullptr,
    .readLine = nullptr,
    .readLineWide = nullptr,
    .reserved = nullptr,
    .flush = nullptr,
    .context = nullptr,
};

FileTable::~FileTable() {
  for (FileNumber number = kFirstFile; number <= kLastFile; ++number) {
    FileSlot& slot = slots_[number];
    if (slot.hooks != nullptr && slot.hooks->close != nullptr) slot.hooks->close(slot);
  }
}

FileNumber FileTable::findFreeFileNumber() const {
  for (FileNumber number = kFirstFile; number <= kLastFile; ++number) {
    if (slots_[number].hooks == nullptr) return number;
  }
  return 0;
}

ErrorCode FileTable::openFile(const char* path, int32_t mode, int32_t access, int32_t lock,
                              FileNumber number, int32_t recordLength) {
  if (number < kFirstFile || number > kLastFile) return setLastError(IllegalCall);
  std::string localPath = path != nullptr ? path : "";
  FileSlot& slot = slots_[number];
  if (slot.hooks != nullptr) return setLastError(IllegalCall);

  openedSinceCloseAll_ = true;
  clearSlot(slot);
  slot.mode = mode;
  slot.encoding = 0;
  slot.kind = 4;
  slot.access = access;
  slot.lock = lock;
  if (mode >= RandomRecords && mode <= Output) {
    slot.recordLength = recordLength <= 0 ? 128 : recordLength;
  }
  slot.size = -1;

  const char separator = FileStream::directorySeparator();
  for (char& c : localPath) {
    if (c == '/') c = separator;
  }

  slot.hooks = &diskFileHooks;
  auto fail = [&](ErrorCode code) {
    clearSlot(slot);
    return setLastError(code);
  };
  // This program reads recipe files only; the other modes are not served.
  if (mode < PositionedBytes || mode > Append || mode != Input) return fail(IllegalCall);

  FileStream* stream = nullptr;
  int64_t size = -1;
  const ErrorCode opened = FileStream::open(localPath.c_str(), &stream, &size);
  if (opened != Ok) return fail(opened);
  if (size < 0) {
    FileStream::close(stream);
    return fail(IllegalCall);
  }
  slot.size = size;
  slot.stream = stream;
  if (slot.access == 0) slot.access = 3;
  if (localPath.size() == 3 && (localPath[0] | 0x20) == 'c' && (localPath[1] | 0x20) == 'o' &&
      (localPath[2] | 0x20) == 'n') {
    slot.kind = 1;
  }
  return setLastError(Ok);
}

int32_t FileTable::atEndOfFileOtherwise(FileNumber number) const {
  const FileSlot* slot = slotForNumber(number);
  if (slot == nullptr || slot->hooks == nullptr || slot->hooks->endOfFile == nullptr) return -1;
  if (slot->putBackCount > 0) return 0;
  // The device's test takes a mutable slot but only looks at it.
  return slot->hooks->endOfFile(const_cast<FileSlot&>(*slot));
}

ErrorCode FileTable::closeFile(FileNumber number) {
  if (number == 0) return setLastError(IllegalCall);
  FileSlot* slot = slotForNumber(number);
  if (slot == nullptr || slot->hooks == nullptr) return setLastError(IllegalCall);
  if (slot->hooks->close != nullptr) {
    const ErrorCode closed = slot->hooks->close(*slot);
    if (closed != Ok) return setLastError(closed);
  }
  clearSlot(*slot);
  return setLastError(Ok);
}

void FileTable::closeAllFiles() {
  if (!openedSinceCloseAll_) return;
  openedSinceCloseAll_ = false;
  for (FileNumber number = kFirstFile; number <= kLastFile; ++number) {
    FileSlot& slot = slots_[number];
    if (slot.hooks != nullptr && slot.hooks->close != nullptr) slot.hooks->close(slot);
  }
  for (FileNumber number = kFirstFile; number <= kLastFile; ++number) clearSlot(slots_[number]);
}

ErrorCode FileTable::readBytes(FileSlot* slot, unsigned char* destination, size_t count,
                               size_t* delivered) {
  if (delivered != nullptr) *delivered = 0;
  if (slot == nullptr || slot->hooks == nullptr) return setLastError(IllegalCall);

  size_t total = 0;
  if (slot->putBackCount > 0 && count > 0) {
    const size_t pending = static_cast<size_t>(slot->putBackCount);
    const size_t taken = count < pending ? count : pending;
    std::memcpy(destination, slot->putBack, taken);
    std::memmove(slot->putBack, slot->putBack + taken, pending - taken);
    slot->putBackCount = static_cast<int32_t>(pending - taken);
    total = taken;
  }
  ErrorCode result = Ok;
  if (total < count) {
    if (slot->hooks->readBytes != nullptr) {
      total += slot->hooks->readBytes(*slot, destination + total, count - total);
    } else {
      // A device without input delivers nothing.
      std::memset(destination + total, 0, count - total);
      result = IllegalCall;
    }
  }
  if (delivered != nullptr) *delivered = total;
  return setLastError(result);
}

ErrorCode FileTable::putBackBytes(FileSlot* slot, const unsigned char* bytes, size_t count) {
  if (slot == nullptr || slot->hooks == nullptr) return setLastError(IllegalCall);
  if (count == 0) return setLastError(Ok);
  const size_t pending = static_cast<size_t>(slot->putBackCount);
  if (count > sizeof slot->putBack - pending) return setLastError(FileIO);
  std::memmove(slot->putBack + count, slot->putBack, pending);
  std::memcpy(slot->putBack, bytes, count);
  slot->putBackCount = static_cast<int32_t>(pending + count);
  return setLastError(Ok);
}

}  // namespace kp
