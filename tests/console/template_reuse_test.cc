// Statements printed one after another with the same printer: templates met
// again, templates changed under the same address or begun from the same
// bytes with another length, mixed items on one template, wide text fields
// and numbers far too wide for plain '#' fields.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "console/template_printer.h"
#include "support/recording_printer.h"
#include "support/template_statement.h"

namespace kp {
namespace {

using test::RecordingPrinter;

using TemplateReuse = test::TemplateStatement;

std::string rightAligned(int64_t value, size_t width) {
  const std::string digits = std::to_string(value);
  return std::string(width - digits.size(), ' ') + digits;
}

TEST_F(TemplateReuse, MoreTemplatesInTurnThanThePrinterKeeps) {
  // Six statements in turn, three rounds: every one is met again after the
  // others may have taken its place.
  const std::vector<std::string> names = {"a", "bb", "c", "dd", "e", "ff"};
  std::string expected;
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < names.size(); ++i) {
      const size_t width = 2 + i % 3;
      const int64_t value = round * 10 + static_cast<int64_t>(i);
      begin(names[i] + std::string(width, '#') + "|");
      integer(value);
      templates.endTemplate(0);
      expected += names[i] + rightAligned(value, width) + "|";
    }
  }
  EXPECT_EQ(out.output(), expected);
}

// One constant begun with other lengths is another template each time.
TEST_F(TemplateReuse, SameBytesBegunWithOtherLengths) {
  static constexpr char kConstant[] = "##|##";
  int value = 0;
  for (size_t length : {5u, 3u, 3u, 5u, 5u}) {
    templates.beginTemplate(kConstant, length);
    integer(++value);
    integer(++value);
    templates.endTemplate(0);
  }
  EXPECT_EQ(out.output(),
            " 1| 2"
            " 3| 4|"
            " 5| 6|"
            " 7| 8"
            " 9|10");
}

TEST_F(TemplateReuse, SameAddressWithNewBytesIsANewTemplate) {
  char buffer[] = "<##>";
  templates.beginTemplate(buffer);
  integer(1);
  templates.endTemplate(0);
  buffer[0] = '(';
  buffer[3] = ')';
  templates.beginTemplate(buffer);
  integer(2);
  templates.endTemplate(0);
  buffer[1] = '\\';
  buffer[2] = '\\';
  templates.beginTemplate(buffer);
  text("xyz");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "< 1>( 2)(xy)");
}

TEST_F(TemplateReuse, BeginWithBytesOfTheCurrentTemplate) {
  begin("ab## cd##");
  const char* copy = templates.state().templateCopy.data();
  templates.beginTemplate(copy + 2, 5);  // "## cd"
  integer(5);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), " 5 cd");
  EXPECT_EQ(templates.state().templateCopy.size(), 0u);
}

TEST_F(TemplateReuse, ItemsThatMissTheirFieldLeaveTheRestInPlace) {
  // A number meets a text field, a text meets a numeric field, a double
  // takes a '#' field the general way: the items after them still find
  // their own fields.
  begin("\\\\ ## \\\\.");
  integer(5);
  text("ab");
  text("zz");
  integer(6);
  text("cd");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "%5ab  6 cd.");

  out.clear();
  begin("## ## |");
  templates.printTemplateDouble(0, 1.5, 0);
  integer(7);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), " 2  7 |");
}

TEST_F(TemplateReuse, UsedUpTemplateStartsOverForEachRow) {
  // A text item's line end needs LastItem too, so the rows run on.
  begin("> ## \\  \\<");
  for (int row = 1; row <= 3; ++row) {
    integer(row);
    text(std::string(static_cast<size_t>(row), 'x'), ItemLineEnd);
  }
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), ">  1 x   <>  2 xx  <>  3 xxx <");
}

// Text fields around the width of the working buffer, with texts shorter,
// as long as and longer than the field.
TEST_F(TemplateReuse, TextFieldsAroundTheWorkingBufferWidth) {
  for (size_t width : {2030u, 2032u, 2033u, 2034u, 2040u, 2041u, 2047u, 2048u, 2049u, 2060u}) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{9}, width - 1, width, width + 7}) {
      out.clear();
      const std::string value(length, 'q');
      begin("[\\" + std::string(width - 2, ' ') + "\\]");
      text(value);
      templates.endTemplate(0);
      const std::string shown =
          length >= width ? value.substr(0, width) : value + std::string(width - length, ' ');
      EXPECT_EQ(out.output(), "[" + shown + "]") << width << " " << length;
    }
  }
}

struct FarTooWide {
  const char* field;
  int64_t value;
  const char* printed;
};

class PlainFieldExponents : public ::testing::TestWithParam<FarTooWide> {};

TEST_P(PlainFieldExponents, PrintExactly) {
  const FarTooWide& c = GetParam();
  RecordingPrinter out;
  TemplatePrinter templates(out, nullptr);
  const std::string form = std::string("<") + c.field + ">";
  templates.beginTemplate(form.data(), form.size());
  templates.printTemplateInteger(0, c.value, 0);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), std::string("<") + c.printed + ">");
}

INSTANTIATE_TEST_SUITE_P(
    CarriesAndSigns, PlainFieldExponents,
    ::testing::Values(FarTooWide{"#", 96000, "%1E+5"}, FarTooWide{"#", 94999, "%9E+4"},
                      FarTooWide{"#", -96000, "%-1E+5"}, FarTooWide{"##", 9960000, "% 1E+7"},
                      FarTooWide{"###", 9950000, "% 10E+6"}, FarTooWide{"###", -994999, "%-99E+4"},
                      FarTooWide{"##", 1999999999, "% 2E+9"},
                      FarTooWide{"##", 9500000000, "% 1E+%10"},
                      FarTooWide{"########", INT64_MAX, "% 9223372E+%12"}));

TEST(PlainFieldExponent, LargestUnsigned) {
  RecordingPrinter out;
  TemplatePrinter templates(out, nullptr);
  templates.beginTemplate("####");
  templates.printTemplateUnsigned(0, UINT64_MAX, LastItem);
  EXPECT_EQ(out.output(), "% 184E+%17");
}

}  // namespace
}  // namespace kp
