#include "console/template_printer.h"

#include <cstring>
#include <limits>

// The per-item path is a few dozen instructions; a call and its register
// saves would be a good part of it. Rare paths stay out of line.
#if defined(__GNUC__)
#define KP_HOT inline __attribute__((always_inline))
#define KP_COLD __attribute__((noinline, cold))
#else
#define KP_HOT inline
#define KP_COLD
#endif

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

KP_HOT uint8_t classOf(char c) {
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

// "00" to "99", so that digits go out two at a time.
struct DigitPairs {
  char of[200] = {};
  constexpr DigitPairs() {
    for (int i = 0; i < 100; ++i) {
      of[2 * i] = static_cast<char>('0' + i / 10);
      of[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kDigitPairs;

// Writes the digits of a magnitude right to left, ending before `end`.
KP_HOT char* putDigits(char* end, uint64_t magnitude) {
  while (magnitude > std::numeric_limits<uint32_t>::max()) {
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  // Narrower division is cheaper, and row values are small.
  auto narrow = static_cast<uint32_t>(magnitude);
  while (narrow >= 100) {
    end -= 2;
    std::memcpy(end, kDigitPairs.of + 2 * (narrow % 100), 2);
    narrow /= 100;
  }
  if (narrow >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs.of + 2 * narrow, 2);
  } else {
    *--end = static_cast<char>('0' + narrow);
  }
  return end;
}

constexpr uint64_t kEightSpaces = 0x2020202020202020ull;
constexpr uint64_t kLowBits = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Nonzero when one of the eight bytes is zero.
KP_HOT uint64_t zeroByteIn(uint64_t eight) {
  return (eight - kLowBits) & ~eight & kHighBits;
}

KP_HOT uint64_t load8(const char* from) {
  uint64_t eight;
  std::memcpy(&eight, from, sizeof eight);
  return eight;
}

KP_HOT void store8(char* to, uint64_t eight) {
  std::memcpy(to, &eight, sizeof eight);
}

// True when bytes[0..count) holds a NUL byte; reads nothing outside them.
KP_HOT bool holdsNul(const char* bytes, size_t count) {
  if (count < 8) {
    for (size_t i = 0; i < count; ++i) {
      if (bytes[i] == 0) return true;
    }
    return false;
  }
  uint64_t zero = zeroByteIn(load8(bytes + count - 8));
  for (size_t i = 0; i + 8 < count; i += 8) zero |= zeroByteIn(load8(bytes + i));
  return zero != 0;
}

// Copies count bytes and says whether they held a NUL byte.
KP_HOT bool copyNoting(char* to, const char* from, size_t count) {
  uint64_t zero = 0;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const uint64_t eight = load8(from + i);
    zero |= zeroByteIn(eight);
    store8(to + i, eight);
  }
  if (i != count && count >= 8) {
    // The tail as one word ending at the last byte.
    const uint64_t eight = load8(from + count - 8);
    zero |= zeroByteIn(eight);
    store8(to + count - 8, eight);
    return zero != 0;
  }
  for (; i < count; ++i) {
    to[i] = from[i];
    if (from[i] == 0) zero = 1;
  }
  return zero != 0;
}

// Counts the spaces from `at` on, eight at a time while they last.
KP_HOT size_t countSpaces(const char* at, size_t limit) {
  size_t count = 0;
  while (limit - count >= 8 && load8(at + count) == kEightSpaces) count += 8;
  while (count < limit && at[count] == ' ') ++count;
  return count;
}

// Spaces over [to, to + count), and up to 7 bytes beyond, which the caller
// has room for.
KP_HOT void fillSpacesOver(char* to, size_t count) {
  for (size_t i = 0; i < count; i += 8) store8(to + i, kEightSpaces);
}

// Shows each NUL byte as a space, so that a text field keeps its width.
KP_COLD void blankNulBytes(char* bytes, size_t count) {
  char* const end = bytes + count;
  for (char* nul = bytes; (nul = static_cast<char*>(std::memchr(nul, 0, end - nul))) != nullptr;) {
    *nul = ' ';
  }
}

}  // namespace

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell)
    : out_(out), errorCell_(errorCell) {}

KP_HOT ErrorCode TemplatePrinter::done() {
  if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
  return Ok;
}

KP_HOT void TemplatePrinter::consume(size_t count) {
  state_.readPosition += count;
  state_.remaining -= static_cast<int32_t>(count);
}

KP_HOT void TemplatePrinter::release() {
  state_.templateCopy.clear();  // keeps the capacity for the next statement
  state_.active = false;
  state_.readPosition = 0;
  state_.remaining = 0;
}

void TemplateCopy::assign(const char* text, size_t length) {
  if (length > capacity_) {
    // The old storage goes only after the copy, since text may lie in it.
    size_t capacity = capacity_ * 2 > 64 ? capacity_ * 2 : 64;
    if (capacity < length) capacity = length;
    std::unique_ptr<char[]> storage(new char[capacity]);
    std::memcpy(storage.get(), text, length);
    storage_ = std::move(storage);
    capacity_ = capacity;
  } else if (length != 0) {
    char* const to = storage_.get();
    const auto from = reinterpret_cast<uintptr_t>(text);
    const auto start = reinterpret_cast<uintptr_t>(to);
    if (from >= start && from < start + capacity_) {
      std::memmove(to, text, length);
    } else if (length >= 8) {
      // Whole words, the last one ending at the last byte.
      for (size_t i = 0; i + 8 < length; i += 8) store8(to + i, load8(text + i));
      store8(to + length - 8, load8(text + length - 8));
    } else {
      for (size_t i = 0; i < length; ++i) to[i] = text[i];
    }
  }
  size_ = length;
}

ErrorCode TemplatePrinter::beginTemplate(const char* text, size_t length) {
  // The count of remaining bytes is 32-bit; a longer template is cut there.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (text == nullptr) length = 0;
  if (length > limit) length = limit;
  TemplateCopy& copy = state_.templateCopy;
  // The same template again needs no new copy, only a fresh start.
  const bool same = state_.active && copy.size() == length &&
                    (length == 0 || std::memcmp(copy.data(), text, length) == 0);
  if (!same) copy.assign(text, length);
  state_.active = true;
  state_.readPosition = 0;
  state_.remaining = static_cast<int32_t>(length);
  return done();
}

ErrorCode TemplatePrinter::endTemplate(FileNumber number) {
  // Past the template's start every item has already printed the literal
  // text up to the next field, so only a fresh template can have some.
  if (state_.readPosition == 0) emitLiteral(number);
  release();
  return done();
}

// Literal text up to the next field start. A plain run (no escapes, no
// byte whose meaning depends on the next one, at most one working buffer)
// goes out straight from the template copy; anything else is gathered.
KP_HOT void TemplatePrinter::emitLiteral(FileNumber number) {
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
KP_COLD void TemplatePrinter::emitEscapedLiteral(FileNumber number) {
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

KP_HOT void TemplatePrinter::startItem(FileNumber number) {
  if (!hasTemplate()) return;
  // A used-up template starts over, its leading literal text included.
  if (state_.remaining == 0) {
    state_.readPosition = 0;
    state_.remaining = static_cast<int32_t>(state_.templateCopy.size());
  }
  // Every item ends by printing the literal text up to the next field, so
  // there is some before this one only at the template's start.
  if (state_.readPosition == 0) emitLiteral(number);
}

KP_HOT void TemplatePrinter::finishNumericItem(FileNumber number, uint32_t flags) {
  emitLiteral(number);
  if ((flags & 3u) != 0) out_.printLineEnd(number, static_cast<int>(flags & 3u));
  if ((flags & LastItem) != 0) release();
}

KP_HOT void TemplatePrinter::finishTextItem(FileNumber number, uint32_t flags) {
  emitLiteral(number);
  if ((flags & LastItem) != 0) {
    if ((flags & ItemLineEnd) != 0) out_.printLineEnd(number, EndLine);
    release();
  }
}

KP_HOT size_t TemplatePrinter::plainDigitField() const {
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

KP_HOT bool TemplatePrinter::printPlainInteger(FileNumber number, uint64_t magnitude,
                                               bool negative) {
  const size_t width = plainDigitField();
  if (width == 0) return false;
  char* const end = work_ + sizeof work_;
  char* start = putDigits(end, magnitude);
  if (negative) *--start = '-';
  const size_t used = static_cast<size_t>(end - start);
  if (used <= width) {
    // Right to left in whole words: the field leaves room for the overshoot.
    const size_t fill = width - used;
    for (size_t i = 8; i < fill + 8; i += 8) store8(start - i, kEightSpaces);
    start -= fill;
  } else if (used <= width + 3) {
    *--start = '%';  // grows the field rather than cutting the number
  } else {
    return false;  // the exponent form
  }
  consume(width);
  out_.printText(number, start, static_cast<size_t>(end - start), EndNothing);
  return true;
}

KP_COLD void TemplatePrinter::printNumberField(FileNumber number, const DecimalValue& value) {
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

KP_COLD int64_t TemplatePrinter::readTextField(size_t textLength) {
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

KP_HOT bool TemplatePrinter::printBackslashField(FileNumber number, const char* text,
                                                 size_t length) {
  if (!hasTemplate() || state_.remaining < 2) return false;
  const char* at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  if (at[0] != '\\' || (at[1] != ' ' && at[1] != '\\')) return false;
  const size_t spaces = countSpaces(at + 1, left - 1);
  if (spaces + 1 >= left || at[spaces + 1] != '\\') return false;  // malformed
  const size_t width = spaces + 2;
  // Whole-word fills may overshoot the field by up to 7 bytes.
  if (width > sizeof work_ - 8) return false;
  consume(width);
  if (length >= width) {
    if (!holdsNul(text, width)) {
      // Cut: the text's own bytes are the field.
      out_.printText(number, text, width, EndNothing);
      return true;
    }
    std::memcpy(work_, text, width);
    blankNulBytes(work_, width);
  } else {
    if (copyNoting(work_, text, length)) blankNulBytes(work_, length);
    fillSpacesOver(work_ + length, width - length);
  }
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
