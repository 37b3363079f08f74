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

// The statement's own copy of its template: a view of one of the templates
// the printer keeps. Its bytes stay put after the statement ends, so that a
// program printing the same few templates row after row copies them once.
class TemplateCopy {
 public:
  const char* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string() const { return std::string(data_, size_); }

  friend bool operator==(const TemplateCopy& copy, std::string_view text) {
    return copy.view() == text;
  }

 private:
  friend class TemplatePrinter;
  const char* data_ = "";
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
  // The state's template copy points into the printer itself.
  TemplatePrinter(const TemplatePrinter&) = delete;
  TemplatePrinter& operator=(const TemplatePrinter&) = delete;

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
  // What a kept template's fields look like to the fast paths. A template is
  // looked at once, when it is first begun; later statements with the same
  // bytes reuse what was found. Anything the fast paths do not take goes the
  // general way, byte by byte.
  enum class FieldKind : uint8_t {
    Digits,       // a plain run of '#'
    TextColumns,  // a well-formed backslash field
    Other,        // anything else: the general way
  };
  struct Step {  // one field and the literal text after it
    uint32_t fieldStart = 0;
    uint32_t fieldLength = 0;  // also the width of Digits and TextColumns
    uint32_t literalLength = 0;
    uint32_t end = 0;            // where the literal ends
    int32_t remainingAfter = 0;  // bytes left after the literal
    const Step* next = nullptr;  // the step ready after this one, if any
    FieldKind kind = FieldKind::Other;
  };
  static constexpr size_t kMaxSteps = 8;
  struct KeptTemplate {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t length = SIZE_MAX;           // none kept yet: no template is that long
    KeptTemplate* following = nullptr;  // the next in turn
    bool leadingPlain = false;
    uint32_t leadingLength = 0;
    uint32_t stepCount = 0;
    const Step* firstReady = nullptr;  // the first step, when no literal comes before it
    Step steps[kMaxSteps];
  };
  static constexpr size_t kKeptTemplates = 4;

  bool hasTemplate() const { return state_.active; }
  const char* readPointer() const { return state_.templateCopy.data() + state_.readPosition; }
  void consume(size_t count);
  void release();
  ErrorCode done();

  // The kept template with these bytes, kept now when none is.
  KeptTemplate* findKept(const char* text, size_t length);
  KeptTemplate* findOrKeep(const char* text, size_t length);
  KeptTemplate* keep(const char* text, size_t length);
  static void plan(KeptTemplate& kept);

  void emitLiteral(FileNumber number);
  void emitEscapedLiteral(FileNumber number);
  // Starts an item that found no step ready: the template starts over when
  // used up, and the literal text at its start goes out. Returns the step of
  // the field at readPosition when the fast paths may take it, else nullptr.
  const Step* startItem(FileNumber number);
  // A field taken the fast way: takeStep consumes it and its literal text;
  // finishStep prints that literal text after the field.
  void takeStep(const Step& step);
  void finishStep(FileNumber number, const Step& step);
  // After an item taken the general way: the literal text after its field,
  // and the step that stands at readPosition, if any.
  void finishGeneralItem(FileNumber number);
  void findReadyStep();
  void endNumericItem(FileNumber number, uint32_t flags);
  void endTextItem(FileNumber number, uint32_t flags);

  // An integer in a plain '#' field: filled, marked with '%' or, far too
  // wide, in the exponent form that exponentForm builds from its digits.
  void printDigits(FileNumber number, const Step& step, uint64_t magnitude, bool negative);
  char* exponentForm(const char* digits, bool negative, size_t width);
  // Reads the numeric field (or finds none) and prints the value into it.
  void printNumberField(FileNumber number, const DecimalValue& value);
  // A floating item, always the general way.
  void printNumber(FileNumber number, const DecimalValue& value, uint32_t flags);
  // A text in a backslash field of `width` columns, cut or filled.
  void printColumns(FileNumber number, const char* text, size_t length, size_t width);
  // Reads the text field at readPosition (or finds none) and prints the text
  // into it.
  void printTextField(FileNumber number, const char* text, size_t length);
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
  KeptTemplate kept_[kKeptTemplates];
  KeptTemplate* held_ = nullptr;      // the kept template of the statement, when active
  KeptTemplate* nextKept_ = nullptr;  // the one tried first; also the next to be replaced
  // The step whose field stands at readPosition with no literal text pending
  // before it, when the statement is active and its template not used up.
  const Step* ready_ = nullptr;
  char work_[kFieldBufferSize];  // numeric fields, text fields and literal runs
};

}  // namespace kp
