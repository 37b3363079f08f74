#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Splits the bytes of an open input file into comma- and line-separated
// fields and converts them. One instance serves the program; tests create
// their own.
class FieldReader {
 public:
  static constexpr size_t kIntegerFieldLimit = 67;
  static constexpr size_t kTextFieldLimit = 4096;

  explicit FieldReader(FileTable& files) : files_(files) {}

  // Makes an open file the source of the following field reads.
  ErrorCode beginFileInput(FileNumber number);

  // Reads the next field as a 32-bit integer (0 at the end of the data).
  ErrorCode readIntegerField(int32_t& value);

  // Reads the next field as a text (empty at the end of the data). The text's
  // storage is reused, so a caller that keeps its strings allocates nothing
  // per record once they have grown.
  ErrorCode readTextField(std::string& text);

  // Splits off the next field into buffer (capacity maxLength + 1, ends with
  // a zero byte); returns its length and whether it looks like a fraction.
  size_t readFieldToken(size_t maxLength, FieldKind kind, char* buffer, bool* looksFloating);

  // The next byte of the source 0..255, or -1 at the end of the data. A disk
  // file with nothing pushed back is read straight from its stream buffer;
  // readBytes would deliver the same byte, only slower.
  int nextInputChar() {
    FileSlot* source = cursor_.source;
    if (source != nullptr && source->hooks == &diskFileHooks && source->putBackCount == 0 &&
        source->stream != nullptr) {
      return source->stream->getByte();
    }
    return nextInputCharSlow();
  }
  // Returns one byte that was read to the source.
  void putBackInputChar(int byte);

  const InputCursor& cursor() const { return cursor_; }
  InputCursor& cursor() { return cursor_; }

 private:
  int nextInputCharSlow();
  class ByteWindow;

  FileTable& files_;
  InputCursor cursor_;
};

}  // namespace kp
