#pragma once

#include <cstddef>
#include <cstdint>

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
  // The value with every digit below 10^p cut off, halves going up. The one
  // place where digits are rounded.
  DecimalValue roundedAt(int32_t p) const;
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

  // What an item gets when it finds no field: one '#' and the '%' mark.
  static NumericField none() {
    NumericField field;
    field.percentAlways = true;
    field.digitPositions = 1;
    field.width = 1;
    field.plainDigits = true;
    return field;
  }
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

// The same for an integer given as its magnitude and sign: the bytes of
// formatNumber with the integer's DecimalValue, without building one unless
// the field asks for more than digits or the number is far too wide.
const char* formatInteger(const NumericField& field, uint64_t magnitude, bool negative,
                          char* buffer, size_t* length);

}  // namespace kp
