#include "input/numeric_conversion.h"

namespace kp {

namespace {

constexpr int32_t kOutOfRange = INT32_MIN;

// The C locale's white space, which the decimal conversions skip.
bool isWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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

// Base 10 with saturation at 2^32 - 1; a '-' negates modulo 2^32 afterwards.
int32_t parseUnsignedDecimal(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && isWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  bool saturated = false;
  for (; i < length && isDigit(text[i]); ++i) {
    if (saturated) continue;
    const uint64_t next = uint64_t{value} * 10 + static_cast<uint32_t>(text[i] - '0');
    if (next > UINT32_MAX) {
      value = UINT32_MAX;
      saturated = true;
    } else {
      value = static_cast<uint32_t>(next);
    }
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
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
  return parseUnsignedDecimal(rest, restLength);
}

// The value is kept as an exact decimal: its significant digits and the
// place of the decimal point among them. Rounding then looks at the digits
// themselves, so no binary double can move a value across a tie.
int32_t parseFloatToken(const char* token, size_t length) {
  size_t i = skipSpaces(token, length);
  while (i < length && isWhiteSpace(token[i])) ++i;
  bool negative = false;
  if (i < length && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';

  // Only the digits that can reach the integer part or the first fraction
  // digit are kept; anything further only matters as "some non-zero digit".
  constexpr int kKeptDigits = 16;
  char kept[kKeptDigits];
  int keptCount = 0;
  bool nonZeroBeyond = false;
  int64_t pointPlace = 0;  // digits before the point, counted from the first significant one
  bool anyDigit = false;
  bool seenPoint = false;
  for (; i < length; ++i) {
    const char c = token[i];
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    if (!isDigit(c)) break;
    anyDigit = true;
    if (keptCount == 0 && c == '0') {
      // Leading zeros before the point say nothing; after it they shift the point.
      if (seenPoint) --pointPlace;
      continue;
    }
    if (!seenPoint) ++pointPlace;
    if (keptCount < kKeptDigits) {
      kept[keptCount++] = static_cast<char>(c - '0');
    } else if (c != '0') {
      nonZeroBeyond = true;
    }
  }
  if (!anyDigit || keptCount == 0) return 0;

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
    }
  }

  // 10 integer digits already reach 10^9 and 11 exceed 2^32.
  if (pointPlace > 10) return kOutOfRange;
  if (pointPlace < 0) return 0;  // below 0.1: rounds to zero

  uint64_t magnitude = 0;
  for (int64_t d = 0; d < pointPlace; ++d) {
    magnitude = magnitude * 10 + (d < keptCount ? static_cast<uint64_t>(kept[d]) : 0);
  }
  const int firstFraction = pointPlace < keptCount ? kept[pointPlace] : 0;
  bool laterNonZero = nonZeroBeyond;
  for (int64_t d = pointPlace + 1; d < keptCount; ++d) laterNonZero |= kept[d] != 0;
  if (firstFraction > 5 || (firstFraction == 5 && (laterNonZero || (magnitude & 1) != 0))) {
    ++magnitude;
  }

  if (negative) {
    if (magnitude > uint64_t{1} << 31) return kOutOfRange;
    return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  }
  if (magnitude > INT32_MAX) return kOutOfRange;
  return static_cast<int32_t>(magnitude);
}

}  // namespace kp
