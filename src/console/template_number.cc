#include "console/template_number.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kp {
namespace {

using number_layout::farTooWide;
using number_layout::FieldBuilder;
using number_layout::finishField;

// Enough digits that to_chars never rounds: a double's exact decimal
// expansion has at most 767 significant digits.
constexpr int kExactPrecision = 780;

int byteAt(const char* bytes, size_t length, size_t index) {
  return index < length ? static_cast<unsigned char>(bytes[index]) : -1;
}

// An integer from its digits (no leading zeros), trailing zeros moved into
// the power.
DecimalValue fromDigits(const char* digits, int32_t count, bool negative) {
  DecimalValue value;
  value.negative = negative;
  int32_t kept = count;
  while (kept > 1 && digits[kept - 1] == '0') --kept;
  std::memcpy(value.digits, digits, kept);
  value.count = static_cast<int8_t>(kept);
  value.power = count - kept;
  return value;
}

DecimalValue fromMagnitude(uint64_t magnitude, bool negative) {
  char digits[20];
  FieldBuilder out(digits, sizeof digits);
  out.putDigits(magnitude);
  return fromDigits(out.data(), out.size(), negative);
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

  value.digits[0] = text[0];
  std::memcpy(value.digits + 1, text + 2, significant);  // past the point
  value.count = static_cast<int8_t>(significant + 1);
  value.power = exponent - significant;
  return value.roundedAt(value.power + 1);
}

// The mantissa's digits from 10^top downward: `whole` before the point,
// `decimals` after it.
inline void putMantissa(FieldBuilder& out, const DecimalValue& value, int32_t top, int32_t whole,
                        int32_t decimals, bool point) {
  // The j-th digit from 10^top down is the value's significant digit
  // j + shift, or a zero outside them (as digitAt has it).
  const int32_t shift = value.top() - top;
  auto digit = [&](int32_t j) {
    const int32_t index = j + shift;
    return index >= 0 && index < value.count ? value.digits[index] : '0';
  };
  for (int32_t j = whole + decimals - 1; j >= whole; --j) out.put(digit(j));
  if (point) out.put('.');
  for (int32_t j = whole - 1; j >= 0; --j) out.put(digit(j));
}

void putTrailingSign(FieldBuilder& out, const NumericField& field, bool negative) {
  if (field.trailingSign == '+') out.put(negative ? '-' : '+');
  if (field.trailingSign == '-') out.put(negative ? '-' : ' ');
}

// A number far too wide for its field: '%', the sign's place, a mantissa of
// one digit less than the field's positions (at least one) with halves going
// up, and the power of ten, which carries a second '%' when it has two digits.
// `value` is the number as the field would have shown it, its decimal places
// already rounded; it is rounded again in place. (Copies of a value just
// built wait for its bytes to be stored: 16 instructions' worth of time.)
// Part of each caller, whose field builder then stays in registers: 31
// instructions less a number (callgrind, a table's row numbers from 10^5).
// The mantissa's digits before the point in the exponent form: one less
// than the field's positions, the sign's place, and at least one.
int32_t overflowWhole(const NumericField& field) {
  return field.digitPositions >= 2 ? field.digitPositions - 1 : 1;
}

[[gnu::always_inline]] inline void formatOverflow(FieldBuilder& out, const NumericField& field,
                                                  DecimalValue& value) {
  const int32_t positions = field.digitPositions;
  const int32_t whole = overflowWhole(field);
  const bool negative = value.negative;
  value.roundAt(value.top() - (whole + field.decimals) + 1);
  const DecimalValue& rounded = value;
  const int32_t top = rounded.top();
  const int32_t exponent = top - (whole - 1);

  putTrailingSign(out, field, negative);
  const int32_t magnitude = exponent < 0 ? -exponent : exponent;
  out.putNumber(magnitude, 1);
  if (magnitude > 9) out.put('%');
  out.put(exponent < 0 ? '-' : '+');
  out.put('E');
  putMantissa(out, rounded, top, whole, field.decimals, field.point);
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
  if (exponentForm) {
    out.putNumber(top < 0 ? -top : top, 1);
    out.put(top < 0 ? '-' : '+');
    out.put('E');
    for (int i = value.count - 1; i >= 1; --i) out.put(value.digits[i]);
    out.put('.');
    out.put(value.digits[0]);
  } else {
    for (int32_t p = value.power; p < 0; ++p) out.put(value.digitAt(p));
    if (value.power < 0) out.put('.');
    for (int32_t p = 0; p <= (top > 0 ? top : 0); ++p) out.put(value.digitAt(p));
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
    rounded = value.roundedAt(value.top() - (whole + field.decimals) + 1);
    top = rounded.top();
    exponent = top - (whole - 1);
  }
  const bool negative = value.negative && !rounded.isZero();

  putTrailingSign(out, field, negative);
  out.putNumber(exponent < 0 ? -exponent : exponent, field.exponentDigits);
  out.put(exponent < 0 ? '-' : '+');
  out.put('E');
  putMantissa(out, rounded, top, wholeShown, field.decimals, field.point);
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
  DecimalValue rounded = value.roundedAt(-decimals);
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
  if (field.point) {
    for (int32_t p = -decimals; p < 0; ++p) out.put(rounded.digitAt(p));
    out.put('.');
  }
  for (int32_t p = 0; p < wholeDigits; ++p) {
    if (commas != 0 && p != 0 && p % 3 == 0) out.put(',');
    out.put(rounded.digitAt(p));
  }
  if (field.dollar) out.put('$');
  if (leadSign) out.put(negative ? '-' : '+');
  finishField(out, field);
}

}  // namespace

DecimalValue DecimalValue::roundedAt(int32_t p) const {
  DecimalValue result = *this;
  result.roundAt(p);
  return result;
}

void DecimalValue::roundAt(int32_t p) {
  if (kind != Kind::Finite || p <= power) return;
  const int32_t keep = count - (p - power);  // digits at 10^p and above
  int32_t last = keep - 1;
  // Halves go up: the last kept digit rises by one, and nines carry into the
  // digit before them. When every kept digit is a nine (or none is kept), the
  // value becomes the next power of ten.
  if (keep >= 0 && digits[keep] >= '5') {
    while (last >= 0 && digits[last] == '9') --last;
    if (last < 0) {
      digits[0] = '1';
      count = 1;
      power = p + keep;
      return;
    }
    ++digits[last];
  }
  while (last > 0 && digits[last] == '0') --last;  // trailing zeros go into the power
  if (last < 0) {                                  // nothing kept: zero
    digits[0] = '0';
    count = 1;
    power = 0;
    return;
  }
  count = static_cast<int8_t>(last + 1);
  power = p + (keep - 1 - last);
}

DecimalValue decimalFromSigned(int64_t value) {
  // The magnitude is taken in unsigned arithmetic, so the most negative value
  // needs no special case.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0 - magnitude;
  return fromMagnitude(magnitude, value < 0);
}

DecimalValue decimalFromUnsigned(uint64_t value) {
  return fromMagnitude(value, false);
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

bool startsTemplateField(const char* bytes, size_t length) {
  const int c = byteAt(bytes, length, 0);
  const int next = byteAt(bytes, length, 1);
  switch (c) {
    case '#':
    case '!':
    case '&':
    case '\\':
      return true;
    case '$':
      return next == '$';
    case '*':
      return next == '*';
    case '.':
      return next == '#';
    case '+': {
      const int after = byteAt(bytes, length, 2);
      return next == '#' || (next == '$' && after == '$') || (next == '*' && after == '*') ||
             (next == '.' && after == '#');
    }
    default:
      return false;
  }
}

size_t readNumericField(const char* bytes, size_t length, NumericField& field) {
  field = NumericField();
  auto at = [&](size_t i) { return byteAt(bytes, length, i); };
  if (at(0) == '&') {
    field.freeForm = true;
    return 1;
  }
  size_t i = 0;
  if (at(0) == '+' && startsTemplateField(bytes, length)) {
    field.leadingPlus = true;
    i = 1;
  }
  int32_t hashes = 0;
  int32_t commas = 0;
  int32_t prefix = 0;  // characters of "**", "**$" and "$$"
  if (at(i) == '*' && at(i + 1) == '*') {
    field.starFill = true;
    prefix = 2;
    i += 2;
    if (at(i) == '$') {
      field.dollar = true;
      prefix = 3;
      ++i;
    }
  } else if (at(i) == '$' && at(i + 1) == '$') {
    field.dollar = true;
    prefix = 2;
    i += 2;
  }
  for (;;) {
    if (at(i) == '#') {
      ++hashes;
      ++i;
    } else if (at(i) == ',' && at(i + 1) == '#' && (hashes != 0 || prefix != 0)) {
      ++commas;
      ++i;
    } else {
      break;
    }
  }
  if (at(i) == '.' && at(i + 1) == '#') {
    field.point = true;
    ++i;
    while (at(i) == '#') {
      ++field.decimals;
      ++i;
    }
  }
  if (hashes == 0 && prefix == 0 && !field.point) return 0;  // not a numeric field

  int32_t carets = 0;
  while (carets < 5 && at(i + carets) == '^') ++carets;
  if (carets >= 3) {
    field.exponentDigits = carets - 2;
    i += carets;
  } else {
    carets = 0;  // one or two are literal text after the field
  }
  if (!field.leadingPlus && (at(i) == '+' || at(i) == '-')) {
    field.trailingSign = static_cast<char>(at(i));
    ++i;
  }

  // Over-long fields: decimal places go first, then the point, then integer
  // positions beyond the limit.
  int32_t excess = (field.leadingPlus ? 1 : 0) + prefix + hashes + commas +
                   (field.point ? 1 + field.decimals : 0) - kMaxFieldPositions;
  if (excess > 0) {
    const int32_t dropped = excess < field.decimals ? excess : field.decimals;
    field.decimals -= dropped;
    excess -= dropped;
    if (excess > 0 && field.point) {
      field.point = false;
      --excess;
    }
    const int32_t fewerHashes = excess < hashes ? excess : hashes;
    hashes -= fewerHashes;
    excess -= fewerHashes;
    commas -= excess < commas ? excess : commas;
  }
  field.comma = commas != 0;
  field.digitPositions = hashes + (field.starFill ? 2 : 0) + (prefix == 2 && field.dollar ? 1 : 0);
  field.width = (field.leadingPlus ? 1 : 0) + prefix + hashes + commas +
                (field.point ? 1 + field.decimals : 0) + carets + (field.trailingSign != 0 ? 1 : 0);
  field.plainDigits = !field.leadingPlus && prefix == 0 && !field.comma && !field.point &&
                      field.exponentDigits == 0 && field.trailingSign == 0;
  if (field.plainDigits) field.boundPlainDigits();
  return i;
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

namespace {

// The least magnitude of more than `digits` digits; UINT64_MAX for none.
uint64_t digitsBound(int32_t digits) {
  uint64_t bound = digits > 0 ? 1 : 0;
  for (int32_t i = 0; i < digits && bound != UINT64_MAX; ++i) {
    bound = bound > UINT64_MAX / 10 ? UINT64_MAX : bound * 10;
  }
  return bound;
}

}  // namespace

void NumericField::boundPlainDigits() {
  for (int negative = 0; negative < 2; ++negative) {
    fitsBelow[negative] = digitsBound(width - negative);
    int32_t digits = 1;
    while (digits < 20 && !farTooWide(*this, digits + negative)) ++digits;
    farTooWideFrom[negative] =
        farTooWide(*this, digits + negative) ? digitsBound(digits - 1) : UINT64_MAX;
  }
}

namespace number_layout {

// An integer in a field of more than digits, laid out the general way.
const char* formatIntegerGenerally(const NumericField& field, uint64_t magnitude, bool negative,
                                   char* buffer, size_t* length) {
  return formatNumber(field, fromMagnitude(magnitude, negative), buffer, length);
}

// The digits are taken aside into a DecimalValue first.
const char* formatIntegerFarTooWide(const NumericField& field, const char* digits, int32_t count,
                                    bool negative, char* buffer, size_t* length) {
  DecimalValue value = fromDigits(digits, count, negative);
  FieldBuilder exponentForm(buffer, kFieldBufferSize);
  formatOverflow(exponentForm, field, value);
  *length = static_cast<size_t>(exponentForm.size());
  return exponentForm.data();
}

bool sameExponentForm(const NumericField& field, uint64_t magnitude, bool negative, uint64_t* low,
                      uint64_t* high) {
  const int32_t count = decimalDigits(magnitude);
  if (!field.plainDigits || !farTooWide(field, count + (negative ? 1 : 0))) return false;
  // formatOverflow keeps the mantissa's digits and rounds by the one after
  // them; the digits below that one change nothing.
  const int32_t deciding = overflowWhole(field) + field.decimals + 1;
  uint64_t unit = 1;
  for (int32_t i = deciding; i < count; ++i) unit *= 10;
  *low = magnitude - magnitude % unit;
  *high = UINT64_MAX - *low < unit - 1 ? UINT64_MAX : *low + (unit - 1);
  return true;
}

}  // namespace number_layout

}  // namespace kp
