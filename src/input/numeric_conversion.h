#pragma once

#include <cstddef>
#include <cstdint>

namespace kp {

// Conversions of a field token to a 32-bit integer. None depends on the
// process locale.

// Decimal or radix ('&H', '&O', '&B', '&' + octal) integer token.
int32_t parseIntegerToken(const char* token, size_t length);

// The C locale's white space, which the decimal conversions skip: space and
// tab, LF, VT, FF, CR.
inline bool isWhiteSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The decimal form alone, as the standard strtoul reads it in base 10:
// white space, a sign, digits up to the first other byte, saturated at
// 2^32 - 1, a '-' negating modulo 2^32. parseIntegerToken's way for a token
// that is no radix form. Inline: the record reader converts two numbers a
// table row with it, 26 instructions a row less than by a call (callgrind,
// 10^5 rows).
inline int32_t parseDecimalToken(const char* token, size_t length) {
  const char* p = token;
  const char* const end = token + length;
  while (p != end && isWhiteSpace(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  uint64_t value = 0;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (digit > 9) break;
    value = value * 10 + digit;
    if (value > UINT32_MAX) {
      value = UINT32_MAX;  // further digits cannot bring it back
      break;
    }
  }
  uint32_t result = static_cast<uint32_t>(value);
  if (negative) result = 0u - result;
  return static_cast<int32_t>(result);
}

// Digits of the given base (2, 8 or 16) up to the first other byte, modulo 2^32.
int32_t parseRadixDigits(const char* digits, size_t length, int base);

// A token with '.', 'E', 'e' (or 'D'/'d' already turned into 'E'/'e'):
// decimal floating syntax only, read as the nearest double, which is then
// rounded to nearest with ties to even;
// out of range gives -2147483648.
int32_t parseFloatToken(const char* token, size_t length);

}  // namespace kp
