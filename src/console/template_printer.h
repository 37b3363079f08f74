#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "console/template_number.h"
#include "console/text_printer.h"
#include "input/file_table.h"

namespace kp {

// What an item does after its field.
enum ItemFlags : uint32_t {
  ItemLineEnd = 1u,        // numeric items; text items only together with LastItem
  ItemZone = 2u,           // numeric items only
  LastItem = 0x80000000u,  // the statement's last item: release the template
};

// The statement's own copy of its template. The storage only grows, so that
// a program printing the same few templates row after row allocates once.
class TemplateCopy {
 public:
  TemplateCopy() = default;
  TemplateCopy(const TemplateCopy& other) { assign(other.data(), other.size()); }
  TemplateCopy& operator=(const TemplateCopy& other) {
    if (this != &other) assign(other.data(), other.size());
    return *this;
  }

  const char* data() const { return storage_ != nullptr ? storage_.get() : ""; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data(), size_}; }
  operator std::string() const { return std::string(data(), size_); }

  // text may point into this copy's own bytes.
  void assign(const char* text, size_t length);
  void clear() { size_ = 0; }  // keeps the storage

  friend bool operator==(const TemplateCopy& copy, std::string_view text) {
    return copy.view() == text;
  }

 private:
  std::unique_ptr<char[]> storage_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

// The statement in progress.
struct TemplateState {
  TemplateCopy templateCopy;
  bool active = false;      // a template is held
  size_t readPosition = 0;  // first byte not yet consumed
  int32_t remaining = 0;    // bytes from readPosition to the end; 0 = used up
};

// Template-formatted printing: numbers and texts laid out into the fields of
// a template ('#' runs, backslash text fields, '!', '&', ...), with the
// literal text around the fields printed unchanged. Everything goes out
// through a TextPrinter. One instance serves the program; tests create their
// own.
class TemplatePrinter {
 public:
  // lastError, when given, is left at Ok by every operation.
  TemplatePrinter(TextPrinter& out, FileTable* errorCell);

  ErrorCode beginTemplate(const char* text, size_t length);
  // NUL-terminated. Inline, so that the length of a constant template is
  // known when compiling the caller.
  ErrorCode beginTemplate(const char* text) {
    return beginTemplate(text, text != nullptr ? std::strlen(text) : 0);
  }
  ErrorCode endTemplate(FileNumber number);

  ErrorCode printTemplateInteger(FileNumber number, int64_t value, uint32_t flags);
  ErrorCode printTemplateUnsigned(FileNumber number, uint64_t value, uint32_t flags);
  ErrorCode printTemplateDouble(FileNumber number, double value, uint32_t flags);
  ErrorCode printTemplateSingle(FileNumber number, float value, uint32_t flags);
  ErrorCode printTemplateText(FileNumber number, const char* text, size_t length, uint32_t flags);
  ErrorCode printTemplateWideText(FileNumber number, const char16_t* text, uint32_t flags);

  const TemplateState& state() const { return state_; }

 private:
  bool hasTemplate() const { return state_.active; }
  const char* readPointer() const { return state_.templateCopy.data() + state_.readPosition; }
  void consume(size_t count);
  void release();
  ErrorCode done();

  void emitLiteral(FileNumber number);
  void emitEscapedLiteral(FileNumber number);
  void startItem(FileNumber number);
  void finishNumericItem(FileNumber number, uint32_t flags);
  void finishTextItem(FileNumber number, uint32_t flags);
  // The field at readPosition when it is a plain run of '#': its width, else 0.
  size_t plainDigitField() const;
  // An integer in a plain '#' field, when it needs no exponent form; false
  // (nothing printed, nothing consumed) otherwise.
  bool printPlainInteger(FileNumber number, uint64_t magnitude, bool negative);
  // Reads the numeric field (or finds none) and prints the value into it.
  void printNumberField(FileNumber number, const DecimalValue& value);
  void printNumber(FileNumber number, const DecimalValue& value, uint32_t flags);
  // A text in a well-formed backslash field at most one working buffer wide;
  // false (nothing printed, nothing consumed) for any other field.
  bool printBackslashField(FileNumber number, const char* text, size_t length);
  // Reads the text field at readPosition; returns its width in columns, or
  // -1 when the item prints nothing. '&' gives the text's own length.
  int64_t readTextField(size_t textLength);
  // Prints `width` columns of a text of `length` characters, cut or filled
  // with spaces, in pieces of the working buffer's size. copyText(destination,
  // from, count) puts the text's characters from..from+count as bytes.
  template <typename CopyText>
  void printTextColumns(FileNumber number, size_t length, size_t width, CopyText copyText);

  TextPrinter& out_;
  FileTable* errorCell_;
  TemplateState state_;
  char work_[kFieldBufferSize];  // numeric fields, text fields and literal runs
};

}  // namespace kp
