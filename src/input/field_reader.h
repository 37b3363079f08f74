#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "input/file_table.h"

namespace kp {

// Where fields are read from. Bytes pushed back stay in their file's slot, so
// the cursor can move between files without losing them.
struct InputCursor {
  FileSlot* source = nullptr;
  std::string sourceText;  // read when there is no open source; never filled by the program
  size_t textPosition = 0;
};

enum class FieldKind { Integer, Text };

// A text field held in place, as long as the longest a field can be: a
// record's texts are assigned once a record, with no allocation and no
// bookkeeping of a growing string.
class FieldText {
 public:
  static constexpr size_t kCapacity = 4096;

  const char* data() const { return bytes_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {bytes_, size_}; }
  // Bytes beyond the capacity are left out; a field never has them.
  void assign(const char* bytes, size_t length) {
    size_ = length < kCapacity ? length : kCapacity;
    std::memcpy(bytes_, bytes, size_);
  }
  // The same from bytes followed by at least kShort more that may be read:
  // a text of up to kShort bytes goes as one copy of fixed size, which the
  // compiler makes plain moves instead of a call that chooses its way by
  // the length.
  static constexpr size_t kShort = 32;
  void assignPlainFromRoomy(const char* bytes, size_t length) {
    if (length <= kShort) {
      std::memcpy(bytes_, bytes, kShort);
      size_ = length;
    } else {
      assign(bytes, length);
    }
  }

 private:
  size_t size_ = 0;
  char bytes_[kCapacity];
};

// Splits the bytes of an open input file into comma- and line-separated
// fields and converts them. One instance serves the program; tests create
// their own.
//
// Fields are read from the source's stream buffer. readRecord takes the usual
// record, whose three fields lie whole in the buffer with nothing special in
// them, straight from there: its number converted where it lies, its texts
// assigned once. Every other record (quotes, a field or its line end split by
// a refill, a pushed-back byte, a field over its length limit, a zero byte)
// is read field by field, byte by byte, as readIntegerField and readTextField
// read every field. Both ways end a field with the same code.
class FieldReader {
 public:
  static constexpr size_t kIntegerFieldLimit = 67;
  static constexpr size_t kTextFieldLimit = 4096;
  static_assert(FieldText::kCapacity == kTextFieldLimit);

  explicit FieldReader(FileTable& files) : files_(files) {}

  // Makes an open file the source of the following field reads. Inline: the
  // comparison begins every record with it.
  ErrorCode beginFileInput(FileNumber number) {
    FileSlot* slot = files_.slotForNumber(number);
    if (slot == nullptr || slot->hooks == nullptr) return files_.setLastError(IllegalCall);
    cursor_.source = slot;
    if (!cursor_.sourceText.empty() || cursor_.textPosition != 0 ||
        cursor_.sourceText.capacity() > std::string().capacity()) {
      releaseSourceText();
    }
    return files_.setLastError(Ok);
  }

  // Reads the next field as a 32-bit integer (0 at the end of the data).
  ErrorCode readIntegerField(int32_t& value);

  // Reads the next field as a text (empty at the end of the data). The text's
  // storage is reused, so a caller that keeps its strings allocates nothing
  // per record once they have grown.
  ErrorCode readTextField(std::string& text);
  ErrorCode readTextField(FieldText& text);

  // Reads a record's three fields, as readIntegerField followed by
  // readTextField twice would, taking the stream buffer once for all three.
  ErrorCode readRecord(int32_t& number, std::string& shortText, std::string& longText);
  ErrorCode readRecord(int32_t& number, FieldText& shortText, FieldText& longText);

  // Splits off the next field byte by byte into buffer (capacity
  // maxLength + 1, ends with a zero byte); returns its length and whether it
  // looks like a fraction.
  size_t readFieldToken(size_t maxLength, FieldKind kind, char* buffer, bool* looksFloating);

  // The next byte of the source 0..255 (pushed-back bytes first), or -1 at
  // the end of the data.
  int nextInputChar();
  // Returns one byte that was read to the source.
  void putBackInputChar(int byte);

  const InputCursor& cursor() const { return cursor_; }
  InputCursor& cursor() { return cursor_; }

 private:
  // Empties the source text, releasing its storage.
  void releaseSourceText();
  template <typename Text>
  ErrorCode readText(Text& text);
  template <typename Text>
  ErrorCode readRecordInto(int32_t& number, Text& shortText, Text& longText);

  FileTable& files_;
  InputCursor cursor_;
};

}  // namespace kp
