#pragma once

#include <cstddef>
#include <cstdint>

#include "input/error_code.h"
#include "input/file_stream.h"

namespace kp {

// 1..255 name files, 0 the console, -1 a reserved slot this program never opens.
using FileNumber = int32_t;

enum FileMode : int32_t {
  PositionedBytes = 0,
  RandomRecords = 1,
  Input = 2,
  Output = 3,
  Append = 4,
};

struct FileSlot;

// Operations of the device behind a slot. Entries a device lacks are null.
// `context` lets a device instance (the console) find itself from its hooks.
struct DeviceHooks {
  int32_t (*endOfFile)(FileSlot& slot);  // -1 at the end, 0 otherwise
  ErrorCode (*close)(FileSlot& slot);
  ErrorCode (*seek)(FileSlot& slot, int64_t position);
  int64_t (*tell)(FileSlot& slot);
  // Delivers up to count bytes; returns how many (0 at the end of the data).
  size_t (*readBytes)(FileSlot& slot, unsigned char* destination, size_t count);
  size_t (*readWide)(FileSlot& slot, uint16_t* destination, size_t count);
  ErrorCode (*writeBytes)(FileSlot& slot, const char* bytes, size_t count);
  ErrorCode (*writeWide)(FileSlot& slot, const uint16_t* chars, size_t count);
  ErrorCode (*lockRegion)(FileSlot& slot, int64_t start, int64_t end);
  ErrorCode (*unlockRegion)(FileSlot& slot, int64_t start, int64_t end);
  ErrorCode (*readLine)(FileSlot& slot, char* destination, size_t capacity, size_t* length);
  ErrorCode (*readLineWide)(FileSlot& slot, uint16_t* destination, size_t capacity, size_t* length);
  void* reserved;
  ErrorCode (*flush)(FileSlot& slot);
  void* context;
};

// The disk-file operations every opened file uses.
extern const DeviceHooks diskFileHooks;

// One open file or device. All zero is a free slot; a slot is free exactly
// when `hooks` is null.
struct FileSlot {
  int32_t mode = 0;
  int32_t recordLength = 0;
  int32_t encoding = 0;
  int64_t size = 0;    // byte length measured at open; -1 = not measured
  int32_t kind = 0;    // 4 disk file, 1 the console device "CON"
  int32_t access = 0;  // 0 none given, 1 read, 2 write, 3 both
  int32_t lock = 0;
  // Output column kept by printing; the console counts the pieces in its
  // lent buffer into its own slot's column when asked (Console::column).
  int32_t column = 0;
  int32_t lineWidth = 0;                    // output line width used by zone padding
  unsigned char putBack[4] = {0, 0, 0, 0};  // first byte to be read again at the front
  int32_t putBackCount = 0;
  const DeviceHooks* hooks = nullptr;
  FileStream* stream = nullptr;
  FileSlot* redirect = nullptr;
};

// The process's table of 257 slots behind the file numbers, with the error
// cell every file, field and print operation stores its result in. One
// instance serves the program; tests create their own.
class FileTable {
 public:
  static constexpr FileNumber kFirstFile = 1;
  static constexpr FileNumber kLastFile = 255;

  FileTable() = default;
  ~FileTable();  // closes what is still open
  FileTable(const FileTable&) = delete;
  FileTable& operator=(const FileTable&) = delete;

  // The lowest free number 1..255, or 0 when all are in use. Reserves nothing.
  FileNumber findFreeFileNumber() const;

  // Opens path under number. The program passes Input, access 0, lock 0 and
  // record length 0. Only Input opens are served; the other modes are refused
  // with IllegalCall.
  ErrorCode openFile(const char* path, int32_t mode, int32_t access, int32_t lock,
                     FileNumber number, int32_t recordLength);

  // -1 when the file is at its end (also for a number that is not open), else 0.
  // Inline for a file opened for input with nothing pushed back, tested
  // twice a table row: its device's own test, without the hook's indirection.
  int32_t atEndOfFile(FileNumber number) const {
    const FileSlot* slot = slotForNumber(number);
    if (slot != nullptr && slot->hooks == &diskFileHooks && slot->mode == Input &&
        slot->putBackCount == 0 && slot->stream != nullptr) {
      return inputAtEnd(*slot);
    }
    return atEndOfFileOtherwise(number);
  }

  // A disk file open for input is at its end once every byte it had at the
  // open has been consumed, or a read has met the end of its data.
  static int32_t inputAtEnd(const FileSlot& slot) {
    return slot.stream->endFlag() || slot.stream->tell() >= slot.size ? -1 : 0;
  }

  ErrorCode closeFile(FileNumber number);

  // Closes every file 1..255 still open; does nothing when no file has been
  // opened since it last ran.
  void closeAllFiles();

  // The slot of a number: 0 the console, -1 the reserved slot, 1..255 files;
  // null for every other number.
  // Inline: every print and every end test resolves a number.
  FileSlot* slotForNumber(FileNumber number) {
    if (number == -1) return &slots_[256];
    if (number < 0 || number > kLastFile) return nullptr;
    return &slots_[number];
  }
  const FileSlot* slotForNumber(FileNumber number) const {
    return const_cast<FileTable*>(this)->slotForNumber(number);
  }

  // Byte services of the field reader. Pushed-back bytes come first.
  ErrorCode readBytes(FileSlot* slot, unsigned char* destination, size_t count, size_t* delivered);
  ErrorCode putBackBytes(FileSlot* slot, const unsigned char* bytes, size_t count);

  ErrorCode lastError() const { return lastError_; }
  ErrorCode setLastError(ErrorCode code) {
    lastError_ = code;
    return code;
  }

 private:
  int32_t atEndOfFileOtherwise(FileNumber number) const;

  // Index 0 is the console, 1..255 the files, 256 the reserved slot of -1.
  FileSlot slots_[257];
  ErrorCode lastError_ = Ok;
  bool openedSinceCloseAll_ = false;
};

}  // namespace kp
