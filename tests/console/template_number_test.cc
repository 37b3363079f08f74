// Numbers laid out into numeric fields, each case one whole statement.
#include "console/template_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "console/template_printer.h"
#include "support/recording_printer.h"

namespace kp {
namespace {

using test::RecordingPrinter;

// One statement: the template, one item, endTemplate.
template <typename PrintItem>
std::string statement(const std::string& text, PrintItem printItem) {
  RecordingPrinter out;
  FileTable files;
  TemplatePrinter templates(out, &files);
  templates.beginTemplate(text.data(), text.size());
  printItem(templates);
  templates.endTemplate(0);
  return out.output();
}

std::string integerIn(const std::string& text, int64_t value) {
  return statement(text, [value](TemplatePrinter& t) { t.printTemplateInteger(0, value, 0); });
}
std::string unsignedIn(const std::string& text, uint64_t value) {
  return statement(text, [value](TemplatePrinter& t) { t.printTemplateUnsigned(0, value, 0); });
}
std::string doubleIn(const std::string& text, double value) {
  return statement(text, [value](TemplatePrinter& t) { t.printTemplateDouble(0, value, 0); });
}
std::string singleIn(const std::string& text, float value) {
  return statement(text, [value](TemplatePrinter& t) { t.printTemplateSingle(0, value, 0); });
}

double fromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
float fromBits32(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

struct IntegerCase {
  const char* field;
  int64_t value;
  const char* printed;
};

class IntegerFields : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerFields, PrintExactly) {
  const IntegerCase& c = GetParam();
  EXPECT_EQ(integerIn(c.field, c.value), c.printed) << c.field << " with " << c.value;
}

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    HashRuns, IntegerFields,
    ::testing::Values(
        // Row-number column.
        IntegerCase{"##", 3, " 3"}, IntegerCase{"##", 99, "99"}, IntegerCase{"##", 100, "%100"},
        IntegerCase{"##", 99999, "%99999"}, IntegerCase{"##", 100000, "% 1E+5"},
        // Recipe-number column.
        IntegerCase{"####", 0, "   0"}, IntegerCase{"####", 9999, "9999"},
        IntegerCase{"####", 10000, "%10000"}, IntegerCase{"####", 9999999, "%9999999"},
        IntegerCase{"####", 10000000, "% 100E+5"}, IntegerCase{"####", -5, "  -5"},
        IntegerCase{"####", -999, "-999"}, IntegerCase{"####", -1000, "%-1000"},
        IntegerCase{"####", -999999, "%-999999"}, IntegerCase{"####", -1000000, "%-100E+4"},
        IntegerCase{"####", 2147483647, "% 215E+7"}, IntegerCase{"####", -2147483648LL, "%-215E+7"},
        IntegerCase{"####", 12345678, "% 123E+5"},
        // Halves go up, and a carry to 1000 moves the exponent.
        IntegerCase{"####", 99949999, "% 999E+5"}, IntegerCase{"####", 99950000, "% 100E+6"},
        IntegerCase{"####", 1000000000000000000LL, "% 100E+%16"},
        IntegerCase{"####", kMin64, "%-922E+%16"},
        // One position: no room for a sign space in the exponent form.
        IntegerCase{"#", 7, "7"}, IntegerCase{"#", 10000, "%1E+4"},
        IntegerCase{"#", -1000, "%-1E+3"}, IntegerCase{"#", -999, "%-999"},
        IntegerCase{"####################", kMin64, "-9223372036854775808"}));

INSTANTIATE_TEST_SUITE_P(
    FurtherCharacters, IntegerFields,
    ::testing::Values(
        IntegerCase{"##.##", 5, " 5.00"}, IntegerCase{"#,###", 1234, "1,234"},
        IntegerCase{"+##", 5, " +5"}, IntegerCase{"+##", -99, "-99"}, IntegerCase{"##+", -5, " 5-"},
        IntegerCase{"##+", 5, " 5+"}, IntegerCase{"##-", 5, " 5 "}, IntegerCase{"##-", -5, " 5-"},
        IntegerCase{"$$##", 5, "  $5"}, IntegerCase{"**##", 5, "***5"},
        IntegerCase{"**$##", 5, "***$5"}, IntegerCase{"##^^^^", 1234, " 1E+03"},
        IntegerCase{"##^", 5, " 5^"}, IntegerCase{"##^^", 5, " 5^^"}, IntegerCase{"&", -5, "-5"},
        IntegerCase{"&", 1234567, "1234567"}, IntegerCase{"&", kMin64, "-9223372036854775808"},
        // Exponent fields: one to three exponent digits, signed.
        IntegerCase{"##^^^", 1234, " 1E+3"}, IntegerCase{"##^^^^^", 1234, " 1E+003"},
        IntegerCase{"###^^^^", -1250, "-13E+02"}, IntegerCase{"##^^^^", 0, " 0E+00"},
        // A sixth '^' is text after the field; a '#' after a '^' starts the next
        // field, which no item uses.
        IntegerCase{"##^^^^^^", 1234, " 1E+003^"}, IntegerCase{"##^^^#", 12, " 1E+1"},
        // Grouping counts its commas as positions.
        IntegerCase{"#,###,###", 1234567, "1,234,567"}, IntegerCase{"#,###", 12, "   12"},
        IntegerCase{"#,###", -1234, "%-1,234"}, IntegerCase{"#,###", 123, "  123"},
        // A comma not followed by '#' stays text.
        IntegerCase{"##, x", 5, " 5, x"},
        // A '-' in front of a field is text, never a sign.
        IntegerCase{"-##", 5, "- 5"},
        // Decimal places and '%'; a second point or a comma after the point
        // ends the field.
        IntegerCase{".##", 0, ".00"}, IntegerCase{"##.#", 123, "%123.0"},
        IntegerCase{"##.#.##", 1, " 1.0"}, IntegerCase{"#.#,#", 1, "1.0,"}));

// Combinations the table does not show.
INSTANTIATE_TEST_SUITE_P(
    Combined, IntegerFields,
    ::testing::Values(
        IntegerCase{"**#,###", 1234, "**1,234"}, IntegerCase{"$$#,###", 1234, " $1,234"},
        IntegerCase{"+#,###", -1234, "-1,234"}, IntegerCase{"**##-", -5, "***5-"},
        IntegerCase{"**##", -5, "**-5"}, IntegerCase{"$$##", -5, " -$5"},
        IntegerCase{"+$$##", 5, "  +$5"}, IntegerCase{"+**##", -5, "***-5"},
        IntegerCase{"+.##", 0, "+.00"}, IntegerCase{"+##.##^^^", 1234, "+12.34E+2"},
        IntegerCase{"#.##^^^^", 1234, " .12E+04"}, IntegerCase{"##^^^^-", -1234, "12E+02-"},
        // Far too wide for a dressed-up field: a mantissa and a power of ten.
        IntegerCase{"#,###", 1234567, "% 123E+4"}, IntegerCase{"##.##", 123456, "% 1.23E+5"},
        IntegerCase{"+##", 123456789, "%+1E+8"}, IntegerCase{"##-", -123456789, "% 1E+8-"}));

TEST(UnsignedFields, UseTheWholeSixtyFourBits) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(unsignedIn("&", max), "18446744073709551615");
  EXPECT_EQ(unsignedIn("####################", max), "18446744073709551615");
  EXPECT_EQ(unsignedIn("####", max), "% 184E+%17");
  EXPECT_EQ(unsignedIn("####", 9223372036854775808ull), "% 922E+%16");
  EXPECT_EQ(unsignedIn("##", 7), " 7");
  EXPECT_EQ(unsignedIn("+##", 7), " +7");
}

TEST(NoField, AlwaysCarriesThePercentMark) {
  // A template of only a text field, and no template at all.
  for (const char* text : {"\\ \\", ""}) {
    EXPECT_EQ(integerIn(text, 5), "%5") << text;
    EXPECT_EQ(integerIn(text, -5), "%-5") << text;
    EXPECT_EQ(integerIn(text, 12345), "%1E+4") << text;
  }
  RecordingPrinter out;
  TemplatePrinter templates(out, nullptr);
  templates.printTemplateInteger(0, 5, 0);
  templates.printTemplateDouble(0, 2.5, 0);
  EXPECT_EQ(out.output(), "%5%3");
}

TEST(FieldLimit, PositionsBeyondTheLimitAreIgnored) {
  // 2040 integer positions: the extra four are read but give no width.
  std::string text = std::string(2040, '#') + "X";
  EXPECT_EQ(integerIn(text, 5), std::string(2035, ' ') + "5X");
  // Decimal places go first.
  text = std::string(2030, '#') + "." + std::string(10, '#');
  std::string printed = integerIn(text, 5);
  EXPECT_EQ(printed.size(), 2036u);
  EXPECT_EQ(printed.substr(2029), "5.00000");
  // Then the point.
  text = std::string(2036, '#') + ".#";
  EXPECT_EQ(integerIn(text, 5), std::string(2035, ' ') + "5");
  // A number too wide for the longest field still fits the working buffer.
  text = std::string(2036, '#') + "^^^^^+";
  printed = doubleIn(text, -1e300);
  EXPECT_EQ(printed.size(), 2044u);
  EXPECT_EQ(printed.substr(0, 3), "%10");
  EXPECT_EQ(printed.substr(2037), "E-1735-");
}

struct FloatCase {
  const char* field;
  double value;
  const char* printed;
};

class DoubleFields : public ::testing::TestWithParam<FloatCase> {};

TEST_P(DoubleFields, PrintExactly) {
  const FloatCase& c = GetParam();
  EXPECT_EQ(doubleIn(c.field, c.value), c.printed) << c.field;
}

INSTANTIATE_TEST_SUITE_P(
    Doubles, DoubleFields,
    ::testing::Values(
        FloatCase{"##.##", 0.015, " 0.02"}, FloatCase{"#.##", 0.125, "0.13"},
        FloatCase{"#", 2.5, "3"}, FloatCase{"#", -2.5, "%-3"}, FloatCase{"##", 0.5, " 1"},
        FloatCase{"##.##", -0.001, " 0.00"}, FloatCase{".##", 0.5, ".50"},
        FloatCase{".##", -0.5, "%-.50"}, FloatCase{"####", 12345678.9, "% 123E+5"},
        FloatCase{"###.#^^^^", 0.00012345, " 12.3E-05"}, FloatCase{"&", 100.0, "100"},
        FloatCase{"&", 1.0 / 3, "0.3333333333333333"}, FloatCase{"&", 0.1 + 0.2, "0.3"},
        FloatCase{"&", -0.25, "-0.25"}, FloatCase{"&", 0.0, "0"}, FloatCase{"&", -0.0, "0"},
        FloatCase{"&", 0.001, "0.001"}, FloatCase{"&", 1e16, "1.E+16"},
        FloatCase{"&", 9999999999999998.0, "9999999999999998"}, FloatCase{"&", 0.00099, "9.9E-4"},
        FloatCase{"&", 1e-5, "1.E-5"}, FloatCase{"&", -1.5e300, "-1.5E+300"},
        FloatCase{"&", std::numeric_limits<double>::max(), "1.797693134862316E+308"},
        FloatCase{"####", std::numeric_limits<double>::max(), "% 180E+%306"},
        FloatCase{"&", std::numeric_limits<double>::denorm_min(), "4.940656458412465E-324"},
        // 18014398509481984 and 36028797018963968, cut to 16 digits.
        FloatCase{"&", 18014398509481984.0, "1.801439850948198E+16"},
        FloatCase{"&", 36028797018963968.0, "3.602879701896397E+16"},
        // An exact half at the cut goes up.
        FloatCase{"&", 1234567890123456.5, "1234567890123457"},
        FloatCase{"&", std::numeric_limits<double>::infinity(), "1.#INF"},
        FloatCase{"&", -std::numeric_limits<double>::infinity(), "-1.#INF"},
        FloatCase{"&", fromBits(0xFFF8000000000000ull), "-1.#IND"},
        FloatCase{"&", fromBits(0x7FF8000000000000ull), "1.#NAN"},
        FloatCase{"&", fromBits(0xFFF8000000000001ull), "1.#NAN"},
        FloatCase{"&", fromBits(0x7FF0000000000001ull), "1.#NAN"},
        // Outside free form the special texts are laid out like digits.
        FloatCase{"########", std::numeric_limits<double>::infinity(), "  1.#INF"},
        FloatCase{"####", -std::numeric_limits<double>::infinity(), "%-1.#INF"},
        FloatCase{"##.##^^^^", fromBits(0xFFF8000000000000ull), "  -1.#IND"}));

// Far too wide for the field: the exponent form's mantissa comes from the
// number as the field would show it, decimal places already rounded halves up.
INSTANTIATE_TEST_SUITE_P(
    FarTooWide, DoubleFields,
    ::testing::Values(
        FloatCase{"####", 12345678.0, "% 123E+5"}, FloatCase{"####", 99950000.0, "% 100E+6"},
        FloatCase{"####", -1000000.0, "%-100E+4"}, FloatCase{"####", 1e18, "% 100E+%16"},
        FloatCase{"##", 100000.0, "% 1E+5"}, FloatCase{"#", 10000.0, "%1E+4"},
        FloatCase{"#", -1000.0, "%-1E+3"}, FloatCase{"\\\\", 12345.0, "%1E+4"},
        FloatCase{"####", 12349999.5, "% 124E+5"}, FloatCase{"####", 99949999.5, "% 100E+6"},
        FloatCase{"####", 99949999.4, "% 999E+5"}, FloatCase{"#", -9499.5, "%-1E+4"},
        FloatCase{"\\\\", -9499.5, "%-1E+4"}, FloatCase{"#", -9499.4, "%-9E+3"}));

TEST(SingleFields, FarTooWideRoundTheShownValue) {
  EXPECT_EQ(singleIn("#", -94999.5f), "%-1E+5");
  EXPECT_EQ(singleIn("##", 949999.5f), "% 1E+6");
  EXPECT_EQ(singleIn("\\\\", -94999.5f), "%-1E+5");
  EXPECT_EQ(singleIn("####", 12345678.0f), "% 123E+5");
}

// Integers in plain '#' fields (and with no field) have a layout of their
// own, straight from their digits: every field and value must give the
// bytes of the general layout, and write nothing beyond the room it has.
void expectIntegerLayoutMatches(const NumericField& field, uint64_t magnitude, bool negative,
                                const std::string& what) {
  char general[kFieldBufferSize];
  size_t generalLength = 0;
  DecimalValue value = decimalFromUnsigned(magnitude);
  value.negative = negative;
  const char* const piece = formatNumber(field, value, general, &generalLength);
  std::string room(static_cast<size_t>(field.width) + kIntegerGrowth + 1, '\x7f');
  const size_t placed = formatInteger(field, magnitude, negative, room.data());
  ASSERT_EQ(room.back(), '\x7f') << what;
  ASSERT_EQ(room.substr(0, placed), std::string(piece, generalLength)) << what;
}

TEST(IntegerLayout, MatchesTheGeneralLayout) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 20000; ++round) {
    const std::string text(random() % 23, '#');
    NumericField field = NumericField::none();
    if (!text.empty()) {
      ASSERT_NE(readNumericField(text.data(), text.size(), field), 0u);
    }
    ASSERT_TRUE(field.plainDigits);
    const uint64_t magnitude = random() >> (random() % 64);
    const bool negative = random() % 2 == 0 && magnitude != 0;
    expectIntegerLayoutMatches(
        field, magnitude, negative,
        "[" + text + "] " + (negative ? "-" : "") + std::to_string(magnitude));
  }
}

// Around the powers of ten where an integer stops fitting its field, where
// it takes the exponent form, and where that form's mantissa rounds up.
TEST(IntegerLayout, AroundEveryPowerOfTenInEveryWidth) {
  for (int width = 0; width <= 22; ++width) {
    NumericField field = NumericField::none();
    const std::string text(static_cast<size_t>(width), '#');
    if (width != 0) {
      ASSERT_NE(readNumericField(text.data(), text.size(), field), 0u);
    }
    uint64_t power = 1;
    for (int exponent = 0; exponent <= 19; ++exponent, power *= 10) {
      for (uint64_t magnitude :
           {power - 1, power, power + 1, power * 2 - 1, power / 2 * 19, power / 20 * 19}) {
        for (bool negative : {false, true}) {
          if (negative && magnitude == 0) continue;
          expectIntegerLayoutMatches(
              field, magnitude, negative,
              std::to_string(width) + " " + (negative ? "-" : "") + std::to_string(magnitude));
        }
      }
    }
  }
}

TEST(SingleFields, KeepSevenDigits) {
  EXPECT_EQ(singleIn("&", 1.0f / 3), "0.3333333");
  EXPECT_EQ(singleIn("&", 0.1f), "0.1");
  EXPECT_EQ(singleIn("&", 9999999.0f), "9999999");
  EXPECT_EQ(singleIn("&", 1e7f), "1.E+7");
  EXPECT_EQ(singleIn("&", 16777216.0f), "1.677722E+7");
  EXPECT_EQ(singleIn("&", 0.0005f), "5.E-4");
  EXPECT_EQ(singleIn("##.##", 2.675f), " 2.68");  // 2.67499995 cut to 2.675 first
  EXPECT_EQ(singleIn("&", -std::numeric_limits<float>::infinity()), "-1.#INF");
  EXPECT_EQ(singleIn("&", fromBits32(0xFFC00000u)), "-1.#IND");
  EXPECT_EQ(singleIn("&", fromBits32(0x7FC00000u)), "1.#NAN");
}

}  // namespace
}  // namespace kp
