#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "console/text_printer.h"

namespace kp {

// The template grammar: which bytes start a field, what a field of each
// kind is, and the literal text between fields. Read once per template, into
// its plan, by the reader below; nothing else reads template bytes.

// A numeric field as read from a template.
struct NumericField {
  bool freeForm = false;       // '&'
  bool percentAlways = false;  // the item found no field: '%' even when it fits
  bool leadingPlus = false;
  bool starFill = false;  // "**"
  bool dollar = false;    // "$$" or "**$"
  bool comma = false;
  bool point = false;
  char trailingSign = 0;       // 0, '+' or '-'
  int32_t digitPositions = 0;  // positions for integer digits, sign and fill
  int32_t decimals = 0;        // '#' after the point
  int32_t exponentDigits = 0;  // 1..3 for "^^^".."^^^^^", 0 for none
  int32_t width = 0;           // printed width of the field
  // Nothing but '#' positions (or no field at all): an integer is its
  // digits, its sign and the fill.
  bool plainDigits = false;

  // What a numeric item gets where it finds no field: one position and the '%' mark.
  static constexpr NumericField none() {
    NumericField field;
    field.percentAlways = true;
    field.digitPositions = 1;
    field.width = 1;
    field.plainDigits = true;
    return field;
  }
};

// A text field as read from a template: '!' is one column, '&' the whole
// text, a backslash, n spaces and a backslash n + 2 columns. A backslash
// field that breaks off before its closing backslash keeps what was read of
// it taken, but shows nothing.
struct TextField {
  enum class Kind : uint8_t { None, Columns, Whole };
  Kind kind = Kind::None;
  uint32_t taken = 0;  // template bytes the field takes
  uint32_t width = 0;  // for Columns; 0 for None
};

// Longest field of positions, point and decimal places.
constexpr int32_t kMaxFieldPositions = 2036;

// True when the byte at bytes[0] starts a field of either kind.
bool startsTemplateField(const char* bytes, size_t length);
// Reads a numeric field at bytes[0]; returns the bytes it takes, 0 when no
// numeric field starts there.
size_t readNumericField(const char* bytes, size_t length, NumericField& field);
// Reads the text field at bytes[0] (None, taking nothing, when there is none).
TextField readTextField(const char* bytes, size_t length);

// A template read once, as its items will meet it: its plan. Between items
// a statement stands at a position: literal text still to print, then the
// field start whose field the next item takes. At a field start an item
// takes what a numeric or a text item finds there (or nothing, consuming
// nothing), then the literal run after it, which leads to the next position:
// on the next field start, or at the template's end the position that starts
// it over. Literal text is held as it prints ('_' escapes resolved), with
// kCopySlack readable bytes after each run, so that short runs go as copies
// of fixed size.
class TemplatePlan {
 public:
  struct FieldStart;
  struct Position {
    const char* before = nullptr;  // literal text to print first
    uint32_t beforeLength = 0;
    uint32_t readPosition = 0;  // the first template byte not yet consumed
    const FieldStart* field = nullptr;
  };
  // The literal text after a field, and the position it leads to.
  struct LiteralRun {
    const char* bytes = nullptr;
    uint32_t length = 0;
    const Position* next = nullptr;
  };
  struct FieldStart {
    NumericField numeric;  // NumericField::none() where no numeric field starts
    LiteralRun afterNumber;
    TextField text;
    LiteralRun afterText;
  };

  TemplatePlan() = default;
  TemplatePlan(const TemplatePlan&) = delete;
  TemplatePlan& operator=(const TemplatePlan&) = delete;

  // Reads a template (at most INT32_MAX bytes are held). The bytes may lie
  // in this plan's own template.
  void read(const char* text, size_t length);

  std::string_view bytes() const { return {bytes_.get(), length_}; }
  bool holds(const char* text, size_t length) const;
  // Before the template's leading literal text.
  const Position* fresh() const { return &fresh_; }
  // Without a template: no field, nothing printed, and there it stays.
  static const Position kNoTemplate;

 private:
  struct Run {
    uint32_t at = 0;  // in literals_
    uint32_t length = 0;
    int32_t field = -1;  // the field start it leads to; -1 at the end
  };
  Run runFrom(size_t position);
  LiteralRun literalRun(const Run& run) const;

  std::unique_ptr<char[]> bytes_;
  size_t capacity_ = 0;
  size_t length_ = SIZE_MAX;  // nothing read yet: no template is that long
  Position fresh_;
  Position restart_;    // used up: the next item starts over, leading text and all
  FieldStart noField_;  // where a template without fields leaves its items
  std::vector<FieldStart> fields_;
  std::vector<Position> onField_;         // standing on each field start
  std::vector<uint32_t> fieldPositions_;  // each field start's template position
  std::vector<int32_t> fieldAt_;          // field start by template position, or -1
  std::vector<char> literals_;
};

// In pieces of 32 bytes, which the compiler compares without a call where
// it knows the template's length.
inline bool TemplatePlan::holds(const char* text, size_t length) const {
  if (length != length_) return false;
  const char* bytes = bytes_.get();
  for (; length > 32; length -= 32, bytes += 32, text += 32) {
    if (std::memcmp(bytes, text, 32) != 0) return false;
  }
  return std::memcmp(bytes, text, length) == 0;
}

}  // namespace kp
