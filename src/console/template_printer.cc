#include "console/template_printer.h"

#include <cstring>
#include <limits>

namespace kp {

namespace {

// How the literal scan treats a byte: most bytes are plain text; four always
// start a field; the rest start a field or escape the next byte only
// depending on what follows them.
enum ByteClass : uint8_t { Plain, AlwaysField, DependsOnNext };

struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    for (unsigned char c : {'#', '!', '&', '\\'}) of[c] = AlwaysField;
    for (unsigned char c : {'$', '*', '.', '+', '_'}) of[c] = DependsOnNext;
  }
};
constexpr ByteClasses kByteClasses;

inline uint8_t classOf(char c) {
  return kByteClasses.of[static_cast<unsigned char>(c)];
}

// Bytes that may turn a run of '#' into more than a plain digit field:
// grouping, a point, exponent marks and trailing signs.
struct RunExtenders {
  bool of[256] = {};
  constexpr RunExtenders() {
    for (unsigned char c : {',', '.', '^', '+', '-'}) of[c] = true;
  }
};
constexpr RunExtenders kRunExtenders;

// Counts the spaces from `at` on, eight at a time while they last.
inline size_t countSpaces(const char* at, size_t limit) {
  constexpr uint64_t kEightSpaces = 0x2020202020202020ull;
  size_t count = 0;
  while (limit - count >= 8) {
    uint64_t eight;
    std::memcpy(&eight, at + count, sizeof eight);
    if (eight != kEightSpaces) break;
    count += 8;
  }
  while (count < limit && at[count] == ' ') ++count;
  return count;
}

// Writes the digits of a magnitude right to left, ending before `end`.
inline char* putDigits(char* end, uint64_t magnitude) {
  if (magnitude <= std::numeric_limits<uint32_t>::max()) {
    // Narrower division is cheaper, and row values are small.
    auto narrow = static_cast<uint32_t>(magnitude);
    do {
      *--end = static_cast<char>('0' + narrow % 10);
      narrow /= 10;
    } while (narrow != 0);
    return end;
  }
  do {
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  return end;
}

// Shows each NUL byte as a space, so that a text field keeps its width.
inline void blankNulBytes(char* bytes, size_t count) {
  char* const end = bytes + count;
  for (char* nul = bytes; (nul = static_cast<char*>(std::memchr(nul, 0, end - nul))) != nullptr;) {
    *nul = ' ';
  }
}

}  // namespace

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell)
    : out_(out), errorCell_(errorCell) {}

inline ErrorCode TemplatePrinter::done() {
  if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
  return Ok;
}

inline void TemplatePrinter::consume(size_t count) {
  state_.readPosition += count;
  state_.remaining -= static_cast<int32_t>(count);
}

inline void TemplatePrinter::release() {
  state_.templateCopy.clear();  // keeps the capacity for the next statement
  state_.active = false;
  state_.readPosition = 0;
  state_.remaining = 0;
}

ErrorCode TemplatePrinter::beginTemplate(const char* text, size_t length) {
  // The count of remaining bytes is 32-bit; a longer template is cut there.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (text == nullptr) length = 0;
  if (length > limit) length = limit;
  std::string& copy = state_.templateCopy;
  // The same template again needs no new copy, only a fresh start.
  const bool same = state_.active && copy.size() == length &&
                    (length == 0 || std::memcmp(copy.data(), text, length) == 0);
  if (!same) copy.assign(text != nullptr ? text : "", length);
  state_.active = true;
  state_.readPosition = 0;
  state_.remaining = static_cast<int32_t>(copy.size());
  return done();
}

ErrorCode TemplatePrinter::endTemplate(FileNumber number) {
  emitLiteral(number);
  release();
  return done();
}

// Literal text up to the next field start. A plain run (no escapes, no
// byte whose meaning depends on the next one, at most one working buffer)
// goes out straight from the template copy; anything else is gathered.
inline void TemplatePrinter::emitLiteral(FileNumber number) {
  if (!hasTemplate() || state_.remaining <= 0) return;
  const char* const at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  size_t run = 0;
  while (run < left && classOf(at[run]) == Plain) ++run;
  if (run <= sizeof work_ && (run == left || classOf(at[run]) == AlwaysField)) {
    if (run != 0) {
      consume(run);
      out_.printText(number, at, run, EndNothing);
    }
    return;
  }
  emitEscapedLiteral(number);
}

// The general literal scan: '_' makes the byte after it literal, and a run
// longer than the working buffer goes out in several pieces, so the field
// behind it still receives the next item.
void TemplatePrinter::emitEscapedLiteral(FileNumber number) {
  size_t gathered = 0;
  while (state_.remaining > 0) {
    const char* at = readPointer();
    const size_t left = static_cast<size_t>(state_.remaining);
    if (classOf(at[0]) == Plain) {
      work_[gathered++] = at[0];
      consume(1);
    } else if (startsTemplateField(at, left)) {
      break;
    } else if (at[0] == '_' && left >= 2) {
      work_[gathered++] = at[1];
      consume(2);
    } else {
      work_[gathered++] = at[0];
      consume(1);
    }
    if (gathered == sizeof work_) {
      out_.printText(number, work_, gathered, EndNothing);
      gathered = 0;
    }
  }
  if (gathered != 0) out_.printText(number, work_, gathered, EndNothing);
}

inline void TemplatePrinter::startItem(FileNumber number) {
  // A used-up template starts over, its leading literal text included.
  if (hasTemplate() && state_.remaining == 0) {
    state_.readPosition = 0;
    state_.remaining = static_cast<int32_t>(state_.templateCopy.size());
  }
  emitLiteral(number);
}

inline void TemplatePrinter::finishNumericItem(FileNumber number, uint32_t flags) {
  emitLiteral(number);
  if ((flags & 3u) != 0) out_.printLineEnd(number, static_cast<int>(flags & 3u));
  if ((flags & LastItem) != 0) release();
}

inline void TemplatePrinter::finishTextItem(FileNumber number, uint32_t flags) {
  emitLiteral(number);
  if ((flags & LastItem) != 0) {
    if ((flags & ItemLineEnd) != 0) out_.printLineEnd(number, EndLine);
    release();
  }
}

inline size_t TemplatePrinter::plainDigitField() const {
  if (!hasTemplate() || state_.remaining <= 0) return 0;
  const char* at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  if (at[0] != '#') return 0;
  size_t width = 1;
  while (width < left && at[width] == '#') ++width;
  // What follows may extend the field: the general reader decides then.
  if (width < left && kRunExtenders.of[static_cast<unsigned char>(at[width])]) return 0;
  return width <= static_cast<size_t>(kMaxFieldPositions) ? width : 0;
}

inline bool TemplatePrinter::printPlainInteger(FileNumber number, uint64_t magnitude,
                                               bool negative) {
  const size_t width = plainDigitField();
  if (width == 0) return false;
  char* const end = work_ + sizeof work_;
  char* start = putDigits(end, magnitude);
  if (negative) *--start = '-';
  const size_t used = static_cast<size_t>(end - start);
  if (used <= width) {
    const size_t fill = width - used;
    start -= fill;
    std::memset(start, ' ', fill);
  } else if (used <= width + 3) {
    *--start = '%';  // grows the field rather than cutting the number
  } else {
    return false;  // the exponent form
  }
  consume(width);
  out_.printText(number, start, static_cast<size_t>(end - start), EndNothing);
  return true;
}

void TemplatePrinter::printNumberField(FileNumber number, const DecimalValue& value) {
  NumericField field;
  size_t taken = 0;
  if (hasTemplate() && state_.remaining > 0) {
    taken = readNumericField(readPointer(), static_cast<size_t>(state_.remaining), field);
  }
  if (taken != 0) {
    consume(taken);
  } else {
    field = NumericField::none();
  }
  size_t length = 0;
  const char* piece = formatNumber(field, value, work_, &length);
  out_.printText(number, piece, length, EndNothing);
}

void TemplatePrinter::printNumber(FileNumber number, const DecimalValue& value, uint32_t flags) {
  startItem(number);
  printNumberField(number, value);
  finishNumericItem(number, flags);
}

ErrorCode TemplatePrinter::printTemplateInteger(FileNumber number, int64_t value, uint32_t flags) {
  startItem(number);
  // Unsigned arithmetic takes the most negative value's magnitude too.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0 - magnitude;
  if (!printPlainInteger(number, magnitude, value < 0)) {
    printNumberField(number, decimalFromSigned(value));
  }
  finishNumericItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateUnsigned(FileNumber number, uint64_t value,
                                                 uint32_t flags) {
  startItem(number);
  if (!printPlainInteger(number, value, false)) {
    printNumberField(number, decimalFromUnsigned(value));
  }
  finishNumericItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateDouble(FileNumber number, double value, uint32_t flags) {
  printNumber(number, decimalFromDouble(value), flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateSingle(FileNumber number, float value, uint32_t flags) {
  printNumber(number, decimalFromSingle(value), flags);
  return done();
}

int64_t TemplatePrinter::readTextField(size_t textLength) {
  if (!hasTemplate() || state_.remaining <= 0) return -1;
  const char* at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  if (at[0] == '!') {
    consume(1);
    return 1;
  }
  if (at[0] == '&') {
    consume(1);
    return static_cast<int64_t>(textLength);
  }
  if (at[0] != '\\' || left < 2 || (at[1] != ' ' && at[1] != '\\')) return -1;
  // A backslash field: what is read of it stays read even when it turns out
  // malformed.
  const size_t spaces = countSpaces(at + 1, left - 1);
  consume(1 + spaces);
  if (spaces + 1 < left && at[spaces + 1] == '\\') {
    consume(1);
    return static_cast<int64_t>(spaces) + 2;
  }
  return -1;
}

template <typename CopyText>
void TemplatePrinter::printTextColumns(FileNumber number, size_t length, size_t width,
                                       CopyText copyText) {
  for (size_t column = 0; column < width;) {
    const size_t piece = width - column < sizeof work_ ? width - column : sizeof work_;
    const size_t fromText =
        column < length ? (length - column < piece ? length - column : piece) : 0;
    copyText(work_, column, fromText);
    std::memset(work_ + fromText, ' ', piece - fromText);
    out_.printText(number, work_, piece, EndNothing);
    column += piece;
  }
}

inline bool TemplatePrinter::printBackslashField(FileNumber number, const char* text,
                                                 size_t length) {
  if (!hasTemplate() || state_.remaining < 2) return false;
  const char* at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  if (at[0] != '\\' || (at[1] != ' ' && at[1] != '\\')) return false;
  const size_t spaces = countSpaces(at + 1, left - 1);
  if (spaces + 1 >= left || at[spaces + 1] != '\\') return false;  // malformed
  const size_t width = spaces + 2;
  if (width > sizeof work_) return false;
  consume(width);
  if (length >= width && std::memchr(text, 0, width) == nullptr) {
    // Cut: the text's own bytes are the field.
    out_.printText(number, text, width, EndNothing);
    return true;
  }
  const size_t shown = length < width ? length : width;
  if (shown != 0) std::memcpy(work_, text, shown);
  blankNulBytes(work_, shown);
  std::memset(work_ + shown, ' ', width - shown);
  out_.printText(number, work_, width, EndNothing);
  return true;
}

ErrorCode TemplatePrinter::printTemplateText(FileNumber number, const char* text, size_t length,
                                             uint32_t flags) {
  if (text == nullptr) length = 0;
  startItem(number);
  if (!printBackslashField(number, text, length)) {
    const int64_t width = readTextField(length);
    if (width > 0) {
      printTextColumns(number, length, static_cast<size_t>(width),
                       [text](char* destination, size_t from, size_t count) {
                         if (count == 0) return;  // a null text has nothing to copy
                         std::memcpy(destination, text + from, count);
                         blankNulBytes(destination, count);
                       });
    }
  }
  finishTextItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateWideText(FileNumber number, const char16_t* text,
                                                 uint32_t flags) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  startItem(number);
  const int64_t width = readTextField(length);
  if (width > 0) {
    // One byte a character: the console's 8-bit code page holds the first
    // 256 characters; anything beyond shows as '?'.
    printTextColumns(number, length, static_cast<size_t>(width),
                     [text](char* destination, size_t from, size_t count) {
                       for (size_t i = 0; i < count; ++i) {
                         const char16_t c = text[from + i];
                         destination[i] = c < 256 ? static_cast<char>(c) : '?';
                       }
                     });
  }
  finishTextItem(number, flags);
  return done();
}

}  // namespace kp
