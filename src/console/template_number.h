#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kp {

// A number reduced to significant decimal digits and a power of ten:
// value = digits x 10^power. Digits carry no trailing zeros; zero is "0".
struct DecimalValue {
  enum class Kind : uint8_t { Finite, Infinity, Indefinite, NotANumber };

  Kind kind = Kind::Finite;
  bool negative = false;
  // Free form switches to the exponent form from 10^freeFormDigits upward and
  // below 0.001; 0 means an integer item, which never does.
  int8_t freeFormDigits = 0;
  int8_t count = 1;
  int32_t power = 0;
  char digits[20] = {'0'};

  bool isZero() const { return kind == Kind::Finite && count == 1 && digits[0] == '0'; }
  // The power of ten of the leading digit.
  int32_t top() const { return count - 1 + power; }
  // The digit standing at 10^p ('0' outside the significant digits).
  char digitAt(int32_t p) const {
    int32_t index = top() - p;
    return index >= 0 && index < count ? digits[index] : '0';
  }
  // Every digit below 10^p cut off, halves going up: the one place where
  // digits are rounded. roundedAt gives the rounded value, roundAt rounds
  // this one.
  DecimalValue roundedAt(int32_t p) const;
  void roundAt(int32_t p);
};

DecimalValue decimalFromSigned(int64_t value);
DecimalValue decimalFromUnsigned(uint64_t value);
// Reduced to 16 (double) or 7 (single) significant digits, halves going up
// on the exact binary value.
DecimalValue decimalFromDouble(double value);
DecimalValue decimalFromSingle(float value);

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
  // Nothing but '#' positions (or no field at all): an integer is its digits,
  // its sign and the fill.
  bool plainDigits = false;
  // For such a field, the magnitudes below fitsBelow[negative] have digits
  // and sign within its width: worked out once with the field, so that an
  // integer that fits need not count its digits (35 instructions a table
  // row less, callgrind, 10^5 rows). 0 for none.
  uint64_t fitsBelow[2] = {0, 0};
  // And from farTooWideFrom[negative] on they take the exponent form, which
  // a printer may have kept: a table's row numbers from 10^5 on take it in
  // their "##" without counting their digits each: 30 instructions a row
  // less at 10^6 rows (callgrind: 1916.4 M against 1946.1 M).
  uint64_t farTooWideFrom[2] = {0, 0};

  // What an item gets when it finds no field: one '#' and the '%' mark.
  static NumericField none() {
    NumericField field;
    field.percentAlways = true;
    field.digitPositions = 1;
    field.width = 1;
    field.plainDigits = true;
    field.boundPlainDigits();
    return field;
  }
  // Sets fitsBelow and farTooWideFrom from the width.
  void boundPlainDigits();
};

// Longest field of positions, point and decimal places.
constexpr int32_t kMaxFieldPositions = 2036;
// The working buffer every numeric field is built in.
constexpr size_t kFieldBufferSize = 2048;

// True when the byte at bytes[0] starts a field of either kind.
bool startsTemplateField(const char* bytes, size_t length);

// Reads a numeric field at bytes[0]; returns the bytes it takes, 0 when no
// numeric field starts there.
size_t readNumericField(const char* bytes, size_t length, NumericField& field);

// Lays value out into field, right to left from the end of buffer (which holds
// kFieldBufferSize bytes). Returns the start of the piece; *length its size.
const char* formatNumber(const NumericField& field, const DecimalValue& value, char* buffer,
                         size_t* length);

// How a numeric field is laid out, for formatNumber and formatInteger.
namespace number_layout {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes a field right to left from the end of a buffer. Bytes that would
// fall before the buffer's start are dropped rather than written.
class FieldBuilder {
 public:
  FieldBuilder(char* buffer, size_t capacity)
      : begin_(buffer), position_(buffer + capacity), end_(buffer + capacity) {}

  void put(char c) {
    if (position_ > begin_) *--position_ = c;
  }
  void fill(char c, int32_t count) {
    for (int32_t i = 0; i < count; ++i) put(c);
  }
  // The digits of a magnitude; a field buffer always has room for them.
  // Two at a time, from a table of the hundred pairs: one division for two
  // digits saves 57 instructions a table row of 10^5 rows (callgrind).
  void putDigits(uint64_t magnitude) {
    while (magnitude >= 100) {
      const uint64_t pair = magnitude % 100;
      magnitude /= 100;
      position_ -= 2;
      std::memcpy(position_, kDigitPairs + 2 * pair, 2);
    }
    if (magnitude >= 10) {
      position_ -= 2;
      std::memcpy(position_, kDigitPairs + 2 * magnitude, 2);
    } else {
      *--position_ = static_cast<char>('0' + magnitude);
    }
  }
  void putText(const char* text) {
    for (size_t i = std::strlen(text); i > 0; --i) put(text[i - 1]);
  }
  // The exponent's digits, at least minDigits of them.
  void putNumber(int32_t number, int32_t minDigits) {
    int32_t written = 0;
    do {
      put(static_cast<char>('0' + number % 10));
      number /= 10;
      ++written;
    } while (number != 0 || written < minDigits);
  }
  int32_t size() const { return static_cast<int32_t>(end_ - position_); }
  const char* data() const { return position_; }

 private:
  char* begin_;
  char* position_;
  char* end_;
};

// A number needs more than three characters beyond its field: rather than
// grow the field that far, it takes the exponent form.
inline bool farTooWide(const NumericField& field, int32_t length) {
  return length > field.width + 3;
}

// Fills to the field's width, or marks with '%' a number that grows it.
inline void finishField(FieldBuilder& out, const NumericField& field) {
  const int32_t used = out.size();
  if (used <= field.width) {
    out.fill(field.starFill ? '*' : ' ', field.width - used);
    if (field.percentAlways) out.put('%');
  } else {
    out.put('%');
  }
}

// formatInteger's other ways: a field of more than digits, and a number far
// too wide for its '#' field, laid out afresh over its digits.
const char* formatIntegerGenerally(const NumericField& field, uint64_t magnitude, bool negative,
                                   char* buffer, size_t* length);
const char* formatIntegerFarTooWide(const NumericField& field, const char* digits, int32_t count,
                                    bool negative, char* buffer, size_t* length);

// When an integer takes the exponent form in a plain '#' field: true, and
// the magnitudes [*low, *high] that take the very same piece there with the
// same sign. A printer keeps the piece for the next integer in that range.
bool sameExponentForm(const NumericField& field, uint64_t magnitude, bool negative, uint64_t* low,
                      uint64_t* high);

}  // namespace number_layout

// How many decimal digits a magnitude has.
inline int32_t decimalDigits(uint64_t magnitude) {
  int32_t count = 1;
  for (uint64_t bound = 10; count < 20 && magnitude >= bound; bound *= 10) ++count;
  return count;
}

// The most an integer in a plain '#' field of W positions takes: W + 6 in
// the exponent form, less otherwise.
constexpr int32_t kPlainIntegerGrowth = 8;

// formatInteger's piece laid out straight at `at`, which has room for the
// field's width and kPlainIntegerGrowth bytes more; returns its length, or 0
// (having written at most into that room) for a field of more than digits
// or a number far too wide for it, which formatInteger lays out instead. A
// piece built in a buffer and then copied is read back before its bytes are
// stored, and the copy waits for them: laid out in place, a table of 10^6
// rows takes 144 ms instead of 150 (best of 32 runs each), although it runs
// some 90 instructions a row more (callgrind).
inline size_t formatIntegerAt(const NumericField& field, uint64_t magnitude, bool negative,
                              char* at) {
  using namespace number_layout;
  if (!field.plainDigits) return 0;
  // Built right to left from where it ends if it fills its field, or grows
  // by the '%' that finishField puts in front; it must then start at `at`.
  int32_t length = field.width + (field.percentAlways ? 1 : 0);
  if (magnitude >= field.fitsBelow[negative ? 1 : 0]) {
    if (magnitude >= field.farTooWideFrom[negative ? 1 : 0]) return 0;
    length = decimalDigits(magnitude) + (negative ? 1 : 0) + 1;
  }
  FieldBuilder out(at, static_cast<size_t>(length));
  out.putDigits(magnitude);
  if (negative) out.put('-');
  finishField(out, field);
  return out.data() == at ? static_cast<size_t>(length) : 0;
}

// The same for an integer given as its magnitude and sign: the bytes of
// formatNumber with the integer's DecimalValue, without building one unless
// the field asks for more than digits or the number is far too wide. Inline,
// with the other ways out of line: the table prints three numbers a row, and
// each costs 14 instructions less where the printer lays it out itself
// (callgrind, 10^5 rows).
inline const char* formatInteger(const NumericField& field, uint64_t magnitude, bool negative,
                                 char* buffer, size_t* length) {
  using namespace number_layout;
  if (!field.plainDigits) return formatIntegerGenerally(field, magnitude, negative, buffer, length);
  // What the general layout does for an integer with no decimal places, from
  // the magnitude's digits straight away.
  FieldBuilder out(buffer, kFieldBufferSize);
  out.putDigits(magnitude);
  const char* const digits = out.data();
  const int32_t count = out.size();
  if (negative) out.put('-');
  if (farTooWide(field, out.size())) {
    return formatIntegerFarTooWide(field, digits, count, negative, buffer, length);
  }
  finishField(out, field);
  *length = static_cast<size_t>(out.size());
  return out.data();
}

}  // namespace kp
