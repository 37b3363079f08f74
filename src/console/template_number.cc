#include "console/template_number.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kp {
namespace {

using namespace number_layout;

// Enough digits that to_chars never rounds: a double's exact decimal
// expansion has at most 767 significant digits.
constexpr int kExactPrecision = 780;

// The digits of a value from 10^low upward, one at a time; zeros outside
// its significand's digits.
class DigitsUpward {
 public:
  DigitsUpward(const DecimalValue& value, int32_t low)
      : rest_(value.significand), position_(low), power_(value.power) {
    if (low > power_) {
      const int32_t dropped = low - power_;
      rest_ = dropped < 20 ? rest_ / kPowersOfTen[dropped] : 0;
    }
  }
  char next() {
    char digit = '0';
    if (position_ >= power_) {
      digit = static_cast<char>('0' + rest_ % 10);
      rest_ /= 10;
    }
    ++position_;
    return digit;
  }

 private:
  uint64_t rest_;
  int32_t position_;
  int32_t power_;
};

// The mantissa's digits from 10^low upward: `decimals` after the point,
// `whole` before it.
void putMantissa(FieldBuilder& out, const DecimalValue& value, int32_t low, int32_t whole,
                 int32_t decimals, bool point) {
  DigitsUpward digits(value, low);
  for (int32_t i = 0; i < decimals; ++i) out.put(digits.next());
  if (point) out.put('.');
  for (int32_t i = 0; i < whole; ++i) out.put(digits.next());
}

void putTrailingSign(FieldBuilder& out, const NumericField& field, bool negative) {
  if (field.trailingSign == '+') out.put(negative ? '-' : '+');
  if (field.trailingSign == '-') out.put(negative ? '-' : ' ');
}

// The mantissa's digits before the point in the exponent form: one less
// than the field's positions, the sign's place, and at least one.
int32_t overflowWhole(const NumericField& field) {
  return field.digitPositions >= 2 ? field.digitPositions - 1 : 1;
}

// The exponent form of a number far too wide for its field: '%', the sign's
// place, the mantissa rounded with halves going up, and the power of ten,
// which carries a second '%' when it has two digits. `value` is the number
// as the field would have shown it, its decimal places already rounded.
void formatOverflow(FieldBuilder& out, const NumericField& field, DecimalValue value) {
  const int32_t positions = field.digitPositions;
  const int32_t whole = overflowWhole(field);
  const bool negative = value.negative;
  value.roundAt(value.top() - (whole + field.decimals) + 1);
  const int32_t top = value.top();
  const int32_t exponent = top - (whole - 1);

  putTrailingSign(out, field, negative);
  const int32_t magnitude = exponent < 0 ? -exponent : exponent;
  out.putNumber(static_cast<uint64_t>(magnitude), 1);
  if (magnitude > 9) out.put('%');
  out.put(exponent < 0 ? '-' : '+');
  out.put('E');
  putMantissa(out, value, top - (whole + field.decimals) + 1, whole, field.decimals, field.point);
  if (field.dollar) out.put('$');
  if (field.leadingPlus) {
    out.put(negative ? '-' : '+');
  } else if (field.trailingSign != 0) {
    if (positions >= 2) out.put(' ');
  } else if (negative) {
    out.put('-');
  } else if (positions >= 2) {
    out.put(' ');
  }
  out.put('%');
}

const char* specialText(const DecimalValue& value) {
  switch (value.kind) {
    case DecimalValue::Kind::Infinity:
      return value.negative ? "-1.#INF" : "1.#INF";
    case DecimalValue::Kind::Indefinite:
      return "-1.#IND";
    default:
      return "1.#NAN";
  }
}

void formatFree(FieldBuilder& out, const DecimalValue& value) {
  if (value.kind != DecimalValue::Kind::Finite) {
    out.putText(specialText(value));
    return;
  }
  const int32_t top = value.top();
  const bool exponentForm =
      value.freeFormDigits != 0 && !value.isZero() && (top >= value.freeFormDigits || top < -3);
  // Only the significant digits: no trailing zeros after the point.
  DecimalValue digits = value;
  if (digits.significand == 0) digits.power = 0;
  while (digits.significand != 0 && digits.significand % 10 == 0) {
    digits.significand /= 10;
    ++digits.power;
  }
  if (exponentForm) {
    out.putNumber(static_cast<uint64_t>(top < 0 ? -top : top), 1);
    out.put(top < 0 ? '-' : '+');
    out.put('E');
    uint64_t rest = digits.significand;
    for (int32_t i = decimalDigits(rest); i > 1; --i) {
      out.put(static_cast<char>('0' + rest % 10));
      rest /= 10;
    }
    out.put('.');
    out.put(static_cast<char>('0' + rest));
  } else {
    DigitsUpward upward(digits, digits.power < 0 ? digits.power : 0);
    for (int32_t p = digits.power; p < 0; ++p) out.put(upward.next());
    if (digits.power < 0) out.put('.');
    for (int32_t p = 0; p <= (top > 0 ? top : 0); ++p) out.put(upward.next());
  }
  if (value.negative && !value.isZero()) out.put('-');
}

void formatExponent(FieldBuilder& out, const NumericField& field, const DecimalValue& value) {
  const bool signInside = !field.leadingPlus && field.trailingSign == 0;
  int32_t whole = field.digitPositions - (signInside ? 1 : 0);
  if (whole < 0) whole = 0;
  if (whole == 0 && field.decimals == 0) whole = 1;

  DecimalValue rounded;
  int32_t top = 0;
  int32_t exponent = 0;
  int32_t wholeShown = whole;
  if (value.isZero()) {
    wholeShown = whole > 0 ? 1 : 0;
    top = wholeShown - 1;
  } else {
    rounded = value;
    rounded.roundAt(value.top() - (whole + field.decimals) + 1);
    top = rounded.top();
    exponent = top - (whole - 1);
  }
  const bool negative = value.negative && !rounded.isZero();

  putTrailingSign(out, field, negative);
  out.putNumber(static_cast<uint64_t>(exponent < 0 ? -exponent : exponent), field.exponentDigits);
  out.put(exponent < 0 ? '-' : '+');
  out.put('E');
  putMantissa(out, rounded, top - (wholeShown + field.decimals) + 1, wholeShown, field.decimals,
              field.point);
  if (field.dollar) out.put('$');
  if (field.leadingPlus) {
    out.put(negative ? '-' : '+');
  } else if (signInside && negative) {
    out.put('-');
  }
  finishField(out, field);
}

void formatFixed(FieldBuilder& out, const NumericField& field, const DecimalValue& value) {
  const int32_t decimals = field.decimals;
  DecimalValue rounded = value;
  rounded.roundAt(-decimals);
  const bool negative = value.negative && !rounded.isZero();
  const int32_t top = rounded.top();
  const bool wholeIsZero = rounded.isZero() || top < 0;
  int32_t wholeDigits = wholeIsZero ? 1 : top + 1;
  const int32_t commas = field.comma ? (wholeDigits - 1) / 3 : 0;
  const bool leadSign = field.trailingSign == 0 && (field.leadingPlus || negative);
  int32_t length = (leadSign ? 1 : 0) + (field.dollar ? 1 : 0) + wholeDigits + commas +
                   (field.point ? 1 + decimals : 0) + (field.trailingSign != 0 ? 1 : 0);
  // A zero before the point gives way when the field has no room for it.
  if (wholeIsZero && field.point && length > field.width) {
    wholeDigits = 0;
    --length;
  }
  if (farTooWide(field, length)) {
    formatOverflow(out, field, rounded);
    return;
  }

  putTrailingSign(out, field, negative);
  DigitsUpward digits(rounded, -decimals);
  if (field.point) {
    for (int32_t p = -decimals; p < 0; ++p) out.put(digits.next());
    out.put('.');
  }
  for (int32_t p = 0; p < wholeDigits; ++p) {
    if (commas != 0 && p != 0 && p % 3 == 0) out.put(',');
    out.put(digits.next());
  }
  if (field.dollar) out.put('$');
  if (leadSign) out.put(negative ? '-' : '+');
  finishField(out, field);
}

DecimalValue fromFinite(double magnitude, bool negative, int significant) {
  DecimalValue value;
  value.negative = negative;
  value.freeFormDigits = static_cast<int8_t>(significant);
  if (magnitude == 0) return value;

  // The exact expansion "d.ddd...e+x": keep `significant` digits and the one
  // after them, which decides the rounding, so that a true half goes up.
  char text[kExactPrecision + 16];
  std::to_chars_result result = std::to_chars(text, text + sizeof text, magnitude,
                                              std::chars_format::scientific, kExactPrecision);
  const char* exponentMark = static_cast<const char*>(std::memchr(text, 'e', result.ptr - text));
  int exponent = 0;
  std::from_chars(exponentMark + 1 + (exponentMark[1] == '+'), result.ptr, exponent);

  uint64_t digits = static_cast<uint64_t>(text[0] - '0');
  for (int i = 0; i < significant; ++i)
    digits = digits * 10 + static_cast<uint64_t>(text[2 + i] - '0');
  value.significand = digits;
  value.power = exponent - significant;
  value.roundAt(value.power + 1);
  return value;
}

}  // namespace

int32_t DecimalValue::top() const {
  return significand == 0 ? 0 : decimalDigits(significand) - 1 + power;
}

void DecimalValue::roundAt(int32_t p) {
  if (kind != Kind::Finite || p <= power) return;
  const int32_t dropped = p - power;
  if (dropped >= 20) {
    significand = 0;  // below half of 10^p: every 64-bit significand is
  } else {
    const uint64_t unit = kPowersOfTen[dropped];
    const uint64_t rest = significand % unit;
    significand /= unit;
    if (rest >= unit - rest) ++significand;  // halves go up
  }
  power = significand != 0 ? p : 0;
}

DecimalValue decimalFromSigned(int64_t value) {
  // The magnitude is taken in unsigned arithmetic, so the most negative value
  // needs no special case.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0 - magnitude;
  DecimalValue result;
  result.negative = value < 0;
  result.significand = magnitude;
  return result;
}

DecimalValue decimalFromUnsigned(uint64_t value) {
  DecimalValue result;
  result.significand = value;
  return result;
}

DecimalValue decimalFromDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  DecimalValue result;
  result.negative = (bits >> 63) != 0;
  result.freeFormDigits = 16;
  if (std::isinf(value)) {
    result.kind = DecimalValue::Kind::Infinity;
  } else if (std::isnan(value)) {
    result.kind = bits == 0xFFF8000000000000ull ? DecimalValue::Kind::Indefinite
                                                : DecimalValue::Kind::NotANumber;
  } else {
    result = fromFinite(std::fabs(value), result.negative, 16);
  }
  return result;
}

DecimalValue decimalFromSingle(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  DecimalValue result;
  result.negative = (bits >> 31) != 0;
  result.freeFormDigits = 7;
  if (std::isinf(value)) {
    result.kind = DecimalValue::Kind::Infinity;
  } else if (std::isnan(value)) {
    result.kind =
        bits == 0xFFC00000u ? DecimalValue::Kind::Indefinite : DecimalValue::Kind::NotANumber;
  } else {
    result = fromFinite(std::fabs(static_cast<double>(value)), result.negative, 7);
  }
  return result;
}

// The exponent form of an integer in a plain '#' field, which has no
// decimal places, point, currency or sign positions: the mantissa rounded
// to its digits with halves going up, then laid out at `at`, its length
// known before it is built.
size_t formatIntegerFarTooWide(const NumericField& field, uint64_t magnitude, bool negative,
                               char* at) {
  const int32_t whole = overflowWhole(field);
  DecimalValue value;
  value.significand = magnitude;
  value.roundAt(decimalDigits(magnitude) - whole);
  uint64_t mantissa = value.significand;
  int32_t exponent = value.power;
  if (mantissa == kPowersOfTen[whole]) {  // rounded up to one more digit
    mantissa /= 10;
    ++exponent;
  }
  const bool signPlace = field.digitPositions >= 2 || negative;
  const int32_t exponentDigits = decimalDigits(static_cast<uint64_t>(exponent));
  const int32_t length =
      1 + (signPlace ? 1 : 0) + whole + 2 + exponentDigits + (exponent > 9 ? 1 : 0);
  FieldBuilder out(at, static_cast<size_t>(length));
  out.putDigits(static_cast<uint64_t>(exponent));
  if (exponent > 9) out.put('%');
  out.put('+');
  out.put('E');
  out.putDigits(mantissa);
  if (signPlace) out.put(negative ? '-' : ' ');
  out.put('%');
  return static_cast<size_t>(length);
}

const char* formatNumber(const NumericField& field, const DecimalValue& value, char* buffer,
                         size_t* length) {
  FieldBuilder out(buffer, kFieldBufferSize);
  if (field.freeForm) {
    formatFree(out, value);
  } else if (value.kind != DecimalValue::Kind::Finite) {
    out.putText(specialText(value));
    finishField(out, field);
  } else if (field.exponentDigits != 0) {
    formatExponent(out, field, value);
  } else {
    formatFixed(out, field, value);
  }
  *length = static_cast<size_t>(out.size());
  return out.data();
}

}  // namespace kp
