#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "console/output_cursor.h"
#include "console/template_number.h"
#include "console/template_plan.h"
#include "console/text_cells.h"
#include "console/text_printer.h"
#include "input/file_table.h"

namespace kp {

// What an item does after its field.
enum ItemFlags : uint32_t {
  ItemLineEnd = 1u,        // numeric items; text items only together with LastItem
  ItemZone = 2u,           // numeric items only
  LastItem = 0x80000000u,  // the statement's last item: release the template
};

// The statement's own copy of its template: the bytes of the plan it holds.
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

// The statement in progress, as seen from outside.
struct TemplateState {
  TemplateCopy templateCopy;
  bool active = false;      // a template is held
  size_t readPosition = 0;  // first byte not yet consumed
  int32_t remaining = 0;    // bytes from readPosition to the end; 0 = used up
};

// Template-formatted printing: numbers and texts laid out into the fields of
// a template ('#' runs, backslash text fields, '!', '&', ...), with the
// literal text around the fields printed unchanged. A template is read once
// into its plan when first begun; every item then takes the plan's next
// field, lays its value out at the output cursor, adds the literal text
// after the field and prints the lot as one piece. One instance serves the
// program; tests create their own.
class TemplatePrinter {
 public:
  // lastError, when given, is left at Ok by every operation.
  TemplatePrinter(TextPrinter& out, FileTable* errorCell);
  // The state's template copy points into the printer itself.
  TemplatePrinter(const TemplatePrinter&) = delete;
  TemplatePrinter& operator=(const TemplatePrinter&) = delete;

  // A program prints its rows with a few templates in turn: the plan after
  // the one begun last is tried first.
  ErrorCode beginTemplate(const char* text, size_t length) {
    if (text == nullptr) length = 0;
    HeldPlan* held = nextPlan_;
    if (held->plan.holds(text, length)) {
      nextPlan_ = held->following;
    } else {
      held = findPlan(text, length);
    }
    plan_ = &held->plan;
    at_ = held->plan.fresh();
    return done();
  }
  // NUL-terminated.
  ErrorCode beginTemplate(const char* text) {
    return beginTemplate(text, text != nullptr ? std::strlen(text) : 0);
  }
  ErrorCode endTemplate(FileNumber number) {
    // Every item prints the literal text after its field, so only a
    // template no item has touched has literal text left: what stands
    // before its first field.
    if (at_->beforeLength != 0 && at_ == plan_->fresh()) {
      printLeadingText(number);
    }
    release();
    return done();
  }

  ErrorCode printTemplateInteger(FileNumber number, int64_t value, uint32_t flags) {
    // Unsigned arithmetic takes the most negative value's magnitude too.
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) magnitude = 0 - magnitude;
    printInteger(number, magnitude, value < 0, flags);
    return done();
  }
  ErrorCode printTemplateUnsigned(FileNumber number, uint64_t value, uint32_t flags);
  ErrorCode printTemplateDouble(FileNumber number, double value, uint32_t flags);
  ErrorCode printTemplateSingle(FileNumber number, float value, uint32_t flags);
  ErrorCode printTemplateText(FileNumber number, const char* text, size_t length, uint32_t flags) {
    if (text == nullptr) length = 0;
    printText(number, text, length, flags);
    return done();
  }
  ErrorCode printTemplateWideText(FileNumber number, const char16_t* text, uint32_t flags);

  TemplateState state() const;

 private:
  static_assert(TextCells::mostBytes(TextCells::kMostLaidOut) <= OutputCursor::kStagingSize);
  using Position = TemplatePlan::Position;
  using FieldStart = TemplatePlan::FieldStart;
  static constexpr size_t kHeldPlans = 4;

  // The items: each takes the field it stands on, lays its value out there
  // with the literal text before it (at a statement's start) and after it,
  // and goes on to the next position. An item's bytes go into room reserved
  // for the most it can print, or piece by piece (...InChunks) where that
  // may be more than the staging buffer holds. Inline, with the rare ways
  // out of line: the table's seven items a row then cost no call.
  void printInteger(FileNumber number, uint64_t magnitude, bool negative, uint32_t flags) {
    const Position& at = *at_;
    const FieldStart& field = *at.field;
    if (!field.numeric.plainDigits)
      return printNumber(number, integerValue(magnitude, negative), flags);
    const size_t most = at.beforeLength + static_cast<size_t>(field.numeric.width) +
                        kIntegerGrowth + field.afterNumber.length;
    if (char* const room = cursor_.open(number, most); room != nullptr) [[likely]] {
      OutputCursor::Writer out(room);
      integerItem(out, at, field, magnitude, negative);
      cursor_.close(out.at());
    } else {
      integerItemInChunks(number, at, field, magnitude, negative);
    }
    at_ = field.afterNumber.next;
    if ((flags & (LastItem | 3u)) != 0) endItem(number, flags & 3u, flags);
  }
  template <typename Writer>
  static void integerItem(Writer& out, const Position& at, const FieldStart& field,
                          uint64_t magnitude, bool negative) {
    if (at.beforeLength != 0) out.put(at.before, at.beforeLength);
    char* const piece = out.reserve(static_cast<size_t>(field.numeric.width) + kIntegerGrowth);
    out.advance(formatInteger(field.numeric, magnitude, negative, piece));
    out.put(field.afterNumber.bytes, field.afterNumber.length);
  }
  void integerItemInChunks(FileNumber number, const Position& at, const FieldStart& field,
                           uint64_t magnitude, bool negative);
  static DecimalValue integerValue(uint64_t magnitude, bool negative) {
    DecimalValue value = decimalFromUnsigned(magnitude);
    value.negative = negative;
    return value;
  }
  void printNumber(FileNumber number, const DecimalValue& value, uint32_t flags);

  template <typename Char>
  void printText(FileNumber number, const Char* text, size_t length, uint32_t flags) {
    const Position& at = *at_;
    const FieldStart& field = *at.field;
    // Where the output counts its own cells (a terminal) the text item
    // reserves room for what the text shows as, out of line; printable
    // ASCII shows as it is everywhere.
    const TextCells* cells = nullptr;
    if constexpr (sizeof(Char) == 1) {
      cells = out_.textCells(number);
      if (cells != nullptr && printableAscii(text, length)) cells = nullptr;
    }
    const size_t most = at.beforeLength + textWidth(field.text, length) + field.afterText.length;
    char* const room = cells == nullptr ? cursor_.open(number, most) : nullptr;
    if (room != nullptr) [[likely]] {
      OutputCursor::Writer out(room);
      textItem(out, at, field, text, length, nullptr);
      cursor_.close(out.at());
    } else {
      textItemInCells(number, at, field, text, length, cells, most);
    }
    at_ = field.afterText.next;
    // A text item ends the line only as the statement's last item.
    if ((flags & LastItem) != 0) endStatement(number, flags & ItemLineEnd);
  }
  template <typename Writer, typename Char>
  static void textItem(Writer& out, const Position& at, const FieldStart& field,
                       const Char* text, size_t length, const TextCells* cells) {
    if (at.beforeLength != 0) out.put(at.before, at.beforeLength);
    layoutText(out, field.text, text, length, cells);
    out.put(field.afterText.bytes, field.afterText.length);
  }
  template <typename Char>
  [[gnu::noinline]] void textItemInCells(FileNumber number, const Position& at,
                                         const FieldStart& field, const Char* text,
                                         size_t length, const TextCells* cells, size_t most) {
    if (cells != nullptr) most += TextCells::mostBytes(length);
    if (char* const room = cursor_.open(number, most); room != nullptr) {
      OutputCursor::Writer out(room);
      textItem(out, at, field, text, length, cells);
      cursor_.close(out.at());
      return;
    }
    OutputCursor::ChunkedWriter out(cursor_, number);
    textItem(out, at, field, text, length, cells);
    out.close();
  }
  // The columns a text item's field takes.
  static size_t textWidth(const TextField& field, size_t length) {
    return field.kind == TextField::Kind::Whole ? length : field.width;  // None: width 0
  }
  // The one text layout: a field of columns shows the text's first columns,
  // or the whole text and spaces after it; '&' shows the whole text. Where
  // the output counts cells otherwise than a cell a byte, it says how the
  // text shows and where it is cut.
  template <typename Writer, typename Char>
  static void layoutText(Writer& out, const TextField& field, const Char* text, size_t length,
                         const TextCells* cells) {
    const size_t width = textWidth(field, length);
    if constexpr (sizeof(Char) == 1) {
      if (cells != nullptr) return layoutInCells(out, field, width, text, length, *cells);
    }
    const size_t shown = length < width ? length : width;
    if constexpr (sizeof(Char) == 1) {
      out.putExactly(text, shown);
    } else {
      out.putWide(text, shown);
    }
    out.fill(width - shown);
  }
  template <typename Writer>
  [[gnu::noinline]] static void layoutInCells(Writer& out, const TextField& field, size_t width,
                                              const char* text, size_t length,
                                              const TextCells& cells) {
    if (field.kind == TextField::Kind::None) return;
    const bool whole = field.kind == TextField::Kind::Whole;
    size_t shownCells = 0;
    char* const at = out.reserve(TextCells::mostBytes(length));
    out.advance(cells.layoutText(text, length, whole ? SIZE_MAX : width, at, &shownCells));
    if (!whole) out.fill(width - shownCells);
  }

  // After the item: the line end or zone advance it asks for, and the
  // template released after the statement's last item.
  void endItem(FileNumber number, uint32_t lineEnd, uint32_t flags) {
    if (lineEnd != 0) out_.printLineEnd(number, static_cast<int>(lineEnd));
    if ((flags & LastItem) != 0) release();
  }
  void endStatement(FileNumber number, uint32_t lineEnd);
  void printLeadingText(FileNumber number);
  // The plans held, in turn.
  struct HeldPlan {
    TemplatePlan plan;
    HeldPlan* following = nullptr;
  };
  HeldPlan* findPlan(const char* text, size_t length);
  void release() {
    plan_ = nullptr;
    at_ = &TemplatePlan::kNoTemplate;
  }
  ErrorCode done() {
    if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
    return Ok;
  }

  TextPrinter& out_;
  FileTable* errorCell_;
  OutputCursor cursor_;
  HeldPlan plans_[kHeldPlans];
  HeldPlan* nextPlan_ = &plans_[0];  // tried first; also the next to be replaced
  const TemplatePlan* plan_ = nullptr;               // the statement's
  const Position* at_ = &TemplatePlan::kNoTemplate;  // where the statement stands
  // Numeric fields of more than digits, and floating values, are laid out
  // here; kCopySlack bytes more for a copy of fixed size.
  char work_[kFieldBufferSize + kCopySlack];
};

}  // namespace kp
