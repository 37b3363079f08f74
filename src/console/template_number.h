#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console/template_plan.h"

namespace kp {

// A number as decimal digits and a power of ten: value = significand x
// 10^power. An integer item is its magnitude with power 0; a floating item
// is reduced to 16 (double) or 7 (single) significant digits first.
struct DecimalValue {
  enum class Kind : uint8_t { Finite, Infinity, Indefinite, NotANumber };

  Kind kind = Kind::Finite;
  bool negative = false;
  // Free form switches to the exponent form from 10^freeFormDigits upward and
  // below 0.001; 0 means an integer item, which never does.
  int8_t freeFormDigits = 0;
  int32_t power = 0;
  uint64_t significand = 0;

  bool isZero() const { return kind == Kind::Finite && significand == 0; }
  // The power of ten of the leading digit (0 for zero).
  int32_t top() const;
  // Every digit below 10^p cut off, halves going up: the one place where
  // digits are rounded.
  void roundAt(int32_t p);
};

DecimalValue decimalFromSigned(int64_t value);
DecimalValue decimalFromUnsigned(uint64_t value);
// Reduced to 16 (double) or 7 (single) significant digits, halves going up
// on the exact binary value.
DecimalValue decimalFromDouble(double value);
DecimalValue decimalFromSingle(float value);

// The buffer a numeric field is built in: every field fits it.
constexpr size_t kFieldBufferSize = 2048;

// The number layout: lays value out into field, right to left from the end
// of buffer (which holds kFieldBufferSize bytes). Fills to the field's
// width, marks a number that grows the field with '%', and switches a number
// far too wide for it to the exponent form. Returns the start of the piece;
// *length its size.
const char* formatNumber(const NumericField& field, const DecimalValue& value, char* buffer,
                         size_t* length);

// The pieces every numeric layout is built of.
namespace number_layout {

inline constexpr uint64_t kPowersOfTen[20] = {1ull,
                                              10ull,
                                              100ull,
                                              1000ull,
                                              10000ull,
                                              100000ull,
                                              1000000ull,
                                              10000000ull,
                                              100000000ull,
                                              1000000000ull,
                                              10000000000ull,
                                              100000000000ull,
                                              1000000000000ull,
                                              10000000000000ull,
                                              100000000000000ull,
                                              1000000000000000ull,
                                              10000000000000000ull,
                                              100000000000000000ull,
                                              1000000000000000000ull,
                                              10000000000000000000ull};

inline constexpr char kDigitPairs[] =
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
  // The digits of a magnitude, which the buffer has room for; two at a time,
  // from a table of the hundred pairs.
  void putDigits(uint64_t magnitude) {
    while (magnitude >= 100) {
      putPair(magnitude % 100);
      magnitude /= 100;
    }
    if (magnitude >= 10) {
      putPair(magnitude);
    } else {
      *--position_ = static_cast<char>('0' + magnitude);
    }
  }
  void putText(const char* text) {
    for (size_t i = std::strlen(text); i > 0; --i) put(text[i - 1]);
  }
  // A count of at least minDigits digits.
  void putNumber(uint64_t number, int32_t minDigits) {
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
  void putPair(uint64_t pair) {
    position_ -= 2;
    std::memcpy(position_, kDigitPairs + 2 * pair, 2);
  }

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

}  // namespace number_layout

// How many decimal digits a magnitude has.
inline int32_t decimalDigits(uint64_t magnitude) {
  // From the count of binary digits: 1233 / 4096 is just below log10(2), so
  // the guess is the count or one less.
  const uint64_t nonZero = magnitude | 1;
  const int32_t guess = ((64 - __builtin_clzll(nonZero)) * 1233) >> 12;
  return guess + 1 - (nonZero < number_layout::kPowersOfTen[guess] ? 1 : 0);
}

// The integer layout of a plain '#' field (or of no field): the same bytes
// as formatNumber gives for the integer, laid out at `at`, which has room
// for the field's width and kIntegerGrowth bytes more. Returns the length.
constexpr size_t kIntegerGrowth = 8;
size_t formatIntegerFarTooWide(const NumericField& field, uint64_t magnitude, bool negative,
                               char* at);
inline size_t formatInteger(const NumericField& field, uint64_t magnitude, bool negative,
                            char* at) {
  using namespace number_layout;
  const int32_t used = decimalDigits(magnitude) + (negative ? 1 : 0);
  if (farTooWide(field, used)) return formatIntegerFarTooWide(field, magnitude, negative, at);
  // The piece's length is known before it is built right to left: the
  // field, or the number and the '%' in front of it.
  const int32_t length =
      used <= field.width ? field.width + (field.percentAlways ? 1 : 0) : used + 1;
  FieldBuilder out(at, static_cast<size_t>(length));
  out.putDigits(magnitude);
  if (negative) out.put('-');
  finishField(out, field);
  return static_cast<size_t>(length);
}

}  // namespace kp
