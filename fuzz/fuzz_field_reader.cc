// The field reader over arbitrary file bytes, through a real file and the
// file table: every field within its limit, every pass ending, and a file
// read under two numbers in turn, whole records on one side and field by
// field on the other, giving both sides the same records.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "input/field_reader.h"
#include "input/file_table.h"

namespace {

using kp::FieldReader;
using kp::FileTable;

struct Record {
  int32_t number = 0;
  std::string shortText;
  std::string longText;
  bool operator==(const Record&) const = default;
};

void checkLimits(const Record& record) {
  KP_CHECK(record.shortText.size() <= FieldReader::kTextFieldLimit);
  KP_CHECK(record.longText.size() <= FieldReader::kTextFieldLimit);
}

// The comparison's way: whole records, the usual fields straight from the
// stream buffer.
void readRecord(FieldReader& reader, kp::FileNumber number, Record& record) {
  KP_CHECK(reader.beginFileInput(number) == kp::Ok);
  KP_CHECK(reader.readRecord(record.number, record.shortText, record.longText) == kp::Ok);
  checkLimits(record);
}

// Every field byte by byte.
void readFields(FieldReader& reader, kp::FileNumber number, Record& record) {
  KP_CHECK(reader.beginFileInput(number) == kp::Ok);
  KP_CHECK(reader.readIntegerField(record.number) == kp::Ok);
  KP_CHECK(reader.readTextField(record.shortText) == kp::Ok);
  KP_CHECK(reader.readTextField(record.longText) == kp::Ok);
  checkLimits(record);
}

// The comparison's read pattern on one file opened twice: each record read
// consumes at least one byte until the end, so more records than bytes
// would mean the reader stopped making progress.
void recordsInStep(const std::string& path, size_t size) {
  FileTable files;
  FieldReader reader(files);
  KP_CHECK(files.openFile(path.c_str(), kp::Input, 0, 0, 1, 0) == kp::Ok);
  KP_CHECK(files.openFile(path.c_str(), kp::Input, 0, 0, 2, 0) == kp::Ok);
  Record left, right;
  size_t records = 0;
  while (files.atEndOfFile(1) == 0) {
    KP_CHECK(files.atEndOfFile(2) == 0);
    readRecord(reader, 1, left);
    readFields(reader, 2, right);
    KP_CHECK(left == right);
    KP_CHECK(++records <= size + 1);
  }
  KP_CHECK(files.atEndOfFile(2) != 0);
  // Past the end every read gives the empty record.
  readRecord(reader, 1, left);
  KP_CHECK(left == Record{});
  KP_CHECK(files.closeFile(1) == kp::Ok);
  KP_CHECK(files.closeFile(2) == kp::Ok);
}

// Text fields only: quotes, blanks and separators are dropped but nothing is
// added or reordered, so the fields together are a subsequence of the file.
void textsAreSubsequence(const std::string& path, const uint8_t* data, size_t size) {
  FileTable files;
  FieldReader reader(files);
  KP_CHECK(files.openFile(path.c_str(), kp::Input, 0, 0, 1, 0) == kp::Ok);
  KP_CHECK(reader.beginFileInput(1) == kp::Ok);
  std::string text;
  size_t at = 0;
  size_t fields = 0;
  while (files.atEndOfFile(1) == 0) {
    KP_CHECK(reader.readTextField(text) == kp::Ok);
    KP_CHECK(text.size() <= FieldReader::kTextFieldLimit);
    for (char c : text) {
      while (at < size && data[at] != static_cast<uint8_t>(c)) ++at;
      KP_CHECK(at < size);
      ++at;
    }
    KP_CHECK(++fields <= size + 1);
  }
}

// Raw tokens of both kinds, alternating by the file's own bytes: the length
// within the limit and the zero byte behind it.
void tokensWithinLimits(const std::string& path, size_t size) {
  FileTable files;
  FieldReader reader(files);
  KP_CHECK(files.openFile(path.c_str(), kp::Input, 0, 0, 1, 0) == kp::Ok);
  KP_CHECK(reader.beginFileInput(1) == kp::Ok);
  static char buffer[FieldReader::kTextFieldLimit + 2];
  size_t fields = 0;
  while (files.atEndOfFile(1) == 0) {
    const bool integer = (fields % 3) == 0;
    const size_t limit = integer ? FieldReader::kIntegerFieldLimit : FieldReader::kTextFieldLimit;
    buffer[limit + 1] = '\x5a';  // one past the buffer the reader may use
    bool looksFloating = false;
    const size_t length = reader.readFieldToken(
        limit, integer ? kp::FieldKind::Integer : kp::FieldKind::Text, buffer, &looksFloating);
    KP_CHECK(length <= limit);
    KP_CHECK(buffer[length] == '\0');
    KP_CHECK(buffer[limit + 1] == '\x5a');
    KP_CHECK(++fields <= size + 1);
  }
  bool looksFloating = true;
  KP_CHECK(reader.readFieldToken(FieldReader::kIntegerFieldLimit, kp::FieldKind::Integer, buffer,
                                 &looksFloating) == 0);
  KP_CHECK(reader.nextInputChar() == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kp::fuzz::ScratchDir scratch;
  const std::string path = scratch.write("Rezept1.txt", data, size);
  recordsInStep(path, size);
  textsAreSubsequence(path, data, size);
  tokensWithinLimits(path, size);
  return 0;
}
