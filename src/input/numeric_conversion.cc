#include "input/numeric_conversion.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace kp {

namespace {

constexpr int32_t kOutOfRange = INT32_MIN;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

size_t skipSpaces(const char* token, size_t length) {
  size_t i = 0;
  while (i < length && token[i] == ' ') ++i;
  return i;
}

}  // namespace

int32_t parseRadixDigits(const char* digits, size_t length, int base) {
  if (base < 2 || base > 16) return 0;
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    const int digit = digitValue(digits[i]);
    if (digit >= base) break;
    value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

int32_t parseIntegerToken(const char* token, size_t length) {
  const size_t start = skipSpaces(token, length);
  const char* rest = token + start;
  const size_t restLength = length - start;
  if (restLength == 0) return 0;
  if (restLength > 1 && rest[0] == '&') {
    switch (rest[1]) {
      case 'H':
      case 'h':
        return parseRadixDigits(rest + 2, restLength - 2, 16);
      case 'O':
      case 'o':
        return parseRadixDigits(rest + 2, restLength - 2, 8);
      case 'B':
      case 'b':
        return parseRadixDigits(rest + 2, restLength - 2, 2);
      default:
        return parseRadixDigits(rest + 1, restLength - 1, 8);
    }
  }
  return parseDecimalToken(rest, restLength);
}

// Decimal floating syntax only (no "inf", "nan" or hexadecimal forms): the
// scan finds the number's extent and its order of magnitude, the span is read
// as the nearest double, as the platform's decimal conversion does, and that
// double is rounded. Reading the span ourselves keeps the locale out of it.
int32_t parseFloatToken(const char* token, size_t length) {
  size_t i = skipSpaces(token, length);
  while (i < length && isWhiteSpace(token[i])) ++i;
  bool negative = false;
  if (i < length && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  const size_t numberStart = i;

  int64_t pointPlace = 0;  // digits before the point, counted from the first significant one
  bool anyDigit = false;
  bool anySignificant = false;
  bool seenPoint = false;
  for (; i < length; ++i) {
    const char c = token[i];
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    if (!isDigit(c)) break;
    anyDigit = true;
    if (!anySignificant && c == '0') {
      // Leading zeros before the point say nothing; after it they shift the point.
      if (seenPoint) --pointPlace;
      continue;
    }
    anySignificant = true;
    if (!seenPoint) ++pointPlace;
  }
  if (!anyDigit || !anySignificant) return 0;

  size_t numberEnd = i;
  if (i < length && (token[i] == 'E' || token[i] == 'e')) {
    size_t j = i + 1;
    bool exponentNegative = false;
    if (j < length && (token[j] == '+' || token[j] == '-')) exponentNegative = token[j++] == '-';
    if (j < length && isDigit(token[j])) {
      // Saturates far beyond anything that can matter, so a huge exponent
      // neither overflows nor takes long.
      int64_t exponent = 0;
      for (; j < length && isDigit(token[j]); ++j) {
        if (exponent < 1000000000) exponent = exponent * 10 + (token[j] - '0');
      }
      pointPlace += exponentNegative ? -exponent : exponent;
      numberEnd = j;
    }
  }

  // 11 integer digits are 10^10 or more, far outside 32 bits; no digit
  // before the point means below 0.1, which rounds to zero. Neither needs
  // the double, and what is left cannot overflow or underflow it.
  if (pointPlace > 10) return kOutOfRange;
  if (pointPlace < 0) return 0;

  double value = 0;
  const std::from_chars_result read =
      std::from_chars(token + numberStart, token + numberEnd, value, std::chars_format::general);
  if (read.ec != std::errc()) return 0;  // not reached: the span was checked above

  // To nearest, ties to even; exact, since value is far below 2^52.
  double rounded = std::floor(value);
  const double fraction = value - rounded;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0)) rounded += 1;
  if (negative) rounded = -rounded;
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return kOutOfRange;
  return static_cast<int32_t>(rounded);
}

}  // namespace kp
