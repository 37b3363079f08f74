#include "input/numeric_conversion.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace kp {
namespace {

struct Conversion {
  const char* token;
  int32_t value;
};

int32_t integer(const char* token) {
  return parseIntegerToken(token, std::strlen(token));
}
int32_t floating(const char* token) {
  return parseFloatToken(token, std::strlen(token));
}

TEST(ParseIntegerToken, DecimalAndRadixForms) {
  const Conversion table[] = {
      {"42", 42},
      {"   42", 42},
      {"-7", -7},
      {"+7", 7},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"   ", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},
      {"3000000000", -1294967296},
      {"4294967295", -1},
      {"4294967296", -1},
      {"99999999999", -1},
      {"-99999999999", 1},
      {"-4294967295", 1},
      {"-2147483648", INT32_MIN},
      {"0042", 42},
      {"\t\n\v\f\r 42", 42},  // strtoul's white space after the spaces
      {"- 5", 0},
      {"&H1F", 31},
      {"&h1f", 31},
      {"&HFFFFFFFF", -1},
      {"&H100000000", 0},
      {"&H7FFFFFFF", 2147483647},
      {"&O17", 15},
      {"&o17", 15},
      {"&17", 15},
      {"&B101", 5},
      {"&b101", 5},
      {"&H", 0},
      {"&8", 0},
      {"&", 0},
      {"&HG1", 0},
      {"&O19", 1},
      {"&B1021", 2},
      {"  &H10", 16},
      {"&HE5", 229},
      {"&37777777777", -1},
  };
  for (const Conversion& row : table) {
    EXPECT_EQ(integer(row.token), row.value) << '"' << row.token << '"';
  }
}

TEST(ParseRadixDigits, StopsAtTheFirstDigitTheBaseLacks) {
  EXPECT_EQ(parseRadixDigits("ff", 2, 16), 255);
  EXPECT_EQ(parseRadixDigits("777", 3, 8), 511);
  EXPECT_EQ(parseRadixDigits("1101", 4, 2), 13);
  EXPECT_EQ(parseRadixDigits("12", 1, 16), 1) << "the length bounds the digits";
  EXPECT_EQ(parseRadixDigits("123456789ABCDEF0", 16, 16), static_cast<int32_t>(0x9ABCDEF0u));
  EXPECT_EQ(parseRadixDigits("", 0, 16), 0);
}

TEST(ParseFloatToken, RoundsToNearestWithTiesToEven) {
  const Conversion table[] = {
      {"2.5", 2},     {"3.5", 4},       {"0.5", 0},       {"1.5", 2},       {"-2.5", -2},
      {"-3.5", -4},   {"-0.5", 0},      {"2.4999999", 2}, {"2.5000001", 3}, {"0.05", 0},
      {".5", 0},      {".51", 1},       {"5.", 5},        {"1e3", 1000},    {"1E3", 1000},
      {"1e+3", 1000}, {"15e-1", 2},     {"25e-1", 2},     {"0.0025e3", 2},  {"0.0035e3", 4},
      {"  7.0", 7},   {"+7.6", 8},      {"1e", 1},        {"1e+", 1},       {"1.5x", 2},
      {"1.2.3", 1},   {"E5", 0},        {".", 0},         {"", 0},          {"-", 0},
      {"inf", 0},     {"-Infinity", 0}, {"nan", 0},       {"0x1p4", 0},     {"0e999999999", 0},
  };
  for (const Conversion& row : table) {
    EXPECT_EQ(floating(row.token), row.value) << '"' << row.token << '"';
  }
}

// The token is first read as the nearest double, as the platform's decimal
// conversion does, and that double is rounded: digits too fine for a double
// can land a value exactly on a tie.
TEST(ParseFloatToken, RoundsTheNearestDoubleNotTheWrittenDigits) {
  const Conversion table[] = {
      {"2.50000000000000000000000000000000000000000000000000000000000001", 2},
      {"2.49999999999999999999999999999999999999999999999999999999999999", 2},
      {"1.49999999999999999999", 2},
      {"3.50000000000000000001", 4},
      {"0.50000000000000000001", 0},
      {"-1.49999999999999999999", -2},
      {"2.4999999999999999", 2},
      {"2.499999999999999", 2},
      {"1.4999999999999999", 2},
      {"2147483647.4999999999", INT32_MIN},
      {"2147483646.5000000001", 2147483646},
      {"-2147483648.4999999999", INT32_MIN},
      {"0.0000000000000000000000000000000000000000000000000000000000000025e63", 2},
  };
  for (const Conversion& row : table) {
    EXPECT_EQ(floating(row.token), row.value) << '"' << row.token << '"';
  }
}

TEST(ParseFloatToken, ValuesOutsideThirtyTwoBitsGiveTheSmallestInteger) {
  const Conversion table[] = {
      {"2147483647.4", 2147483647},
      {"2147483647.5", INT32_MIN},
      {"2147483646.5", 2147483646},
      {"2147483648.0", INT32_MIN},
      {"-2147483648.4", INT32_MIN},
      {"-2147483648.5", INT32_MIN},
      {"-2147483647.5", INT32_MIN},
      {"-2147483646.5", -2147483646},
      {"-2147483649.0", INT32_MIN},
      {"1e10", INT32_MIN},
      {"-1e10", INT32_MIN},
      {"1e999999999", INT32_MIN},
      {"1e99999999999999999999999999999", INT32_MIN},
      {"1e-999999", 0},
      {"1e-99999999999999999999999999999", 0},
      {"9.9e9", INT32_MIN},
      {"2.147483647e9", 2147483647},
      {"0.000000000000000000000000000000000000002147483647e48", 2147483647},
  };
  for (const Conversion& row : table) {
    EXPECT_EQ(floating(row.token), row.value) << '"' << row.token << '"';
  }
}

TEST(ParseFloatToken, DecimalCommaLocaleChangesNothing) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"};
  bool switched = false;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      switched = true;
      break;
    }
  }
  if (!switched) GTEST_SKIP() << "no decimal-comma locale installed";
  EXPECT_EQ(floating("2.5"), 2);
  EXPECT_EQ(floating("3.5"), 4);
  EXPECT_EQ(floating("3,5"), 3);
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace kp
