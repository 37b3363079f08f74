// Template statements: literal text, field order, starting over, text fields,
// end-of-item flags, and the program's own table rows.
#include "console/template_printer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "console/console.h"
#include "support/memory_screen.h"
#include "support/recording_printer.h"
#include "support/template_statement.h"

namespace kp {
namespace {

using test::RecordingPrinter;

class TemplateStatement : public test::TemplateStatement {
 protected:
  std::string textIn(const std::string& field, const std::string& value) {
    out.clear();
    begin(field);
    text(value);
    templates.endTemplate(0);
    return out.output();
  }
};

TEST_F(TemplateStatement, UsedUpTemplateStartsOverWithItsLeadingText) {
  begin("A ## B");
  integer(5);
  integer(6);
  integer(7);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A  5 BA  6 BA  7 B");
}

TEST_F(TemplateStatement, UnusedFieldsAndTheTextAfterThemAreNeverPrinted) {
  begin("A ## B ## C");
  integer(5);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A  5 B ");

  out.clear();
  begin("A ## B ## C");
  integer(5);
  integer(6);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A  5 B  6 C");

  out.clear();
  begin("A ## B");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A ");
}

TEST_F(TemplateStatement, EachItemIsOnePieceWithTheLiteralTextAroundIt) {
  begin("_#_!_&a_ ## _");
  integer(5);
  templates.endTemplate(0);
  EXPECT_EQ(out.pieces(), (std::vector<std::string>{"#!&a  5 _"}));
  for (const RecordingPrinter::Call& call : out.calls()) {
    EXPECT_EQ(call.endFlags, 0);
    EXPECT_EQ(call.number, 0);
  }
}

TEST_F(TemplateStatement, BytesThatStartNoFieldAreLiteral) {
  // A lone '$', '*', '.' or '+', a '-', a ',' and a '^' are text; so is a
  // '$', '*', '.' or '+' as the template's last byte.
  begin("$ * . + - , ^ ## $");
  integer(5);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "$ * . + - , ^  5 $");
  for (const char* last : {"## *", "## .", "## +", "## _"}) {
    out.clear();
    begin(last);
    integer(5);
    EXPECT_EQ(out.output(), std::string(" 5") + (last + 2)) << last;
  }
}

TEST_F(TemplateStatement, FieldStartsOfEveryKind) {
  // '+' starts a field before '#', "$$", "**" and ".#".
  begin("a+##b+$$#c+**#d+.#e");
  integer(1);
  integer(2);
  integer(3);
  integer(0);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "a +1b +$2c**+3d+.0e");
}

TEST_F(TemplateStatement, TextFieldAfterANumberItemThatFoundNone) {
  begin("\\ \\ ##");
  integer(5);
  text("ab");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "%5ab  ");
  EXPECT_EQ(out.pieces(), (std::vector<std::string>{"%5", "ab  "}));
}

TEST_F(TemplateStatement, TextItemLeavesANumericFieldForTheNextItem) {
  begin("## \\\\|");
  text("xy");
  integer(5);
  text("cd");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), " 5 cd|");
}

TEST_F(TemplateStatement, BackslashBeforeALetterBlocksTheRestOfTheStatement) {
  begin("A \\q ## B");
  integer(5);
  text("t");
  integer(6);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A %5%6");
}

TEST_F(TemplateStatement, MalformedBackslashFieldSwallowsWhatItRead) {
  // The backslash and its spaces are consumed; the text after them is
  // literal and goes out after the item, which printed nothing.
  begin("A \\  x ## B");
  text("hi");
  integer(5);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A x  5 B");

  out.clear();
  begin("A \\  ");
  text("hi");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "A ");
}

TEST_F(TemplateStatement, TemplateWithoutFieldsIsPrintedAtEveryItem) {
  begin("abc");
  integer(5);
  text("zz");
  integer(-6);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "abc%5abcabc%-6");
}

TEST_F(TemplateStatement, EmptyStatePrintsOnlyTheNoFieldForm) {
  integer(5);
  text("ab");
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "%5");
}

TEST_F(TemplateStatement, BeginReplacesAStatementInProgress) {
  begin("X ## Y ##");
  integer(1);
  begin("Z ##");
  integer(2);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "X  1 Y Z  2");
}

TEST_F(TemplateStatement, TemplateIsCopied) {
  char text[] = "<##>";
  templates.beginTemplate(text);
  std::memset(text, 'x', 4);
  integer(7);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "< 7>");
}

TEST_F(TemplateStatement, NumericItemFlags) {
  begin("## x");
  integer(5, ItemLineEnd);
  EXPECT_EQ(out.output(), " 5 x\r\n");
  ASSERT_EQ(out.calls().size(), 2u);
  EXPECT_TRUE(out.calls()[1].lineEnd);
  EXPECT_EQ(out.calls()[1].endFlags, 1);

  out.clear();
  begin("## x");
  integer(5, LastItem);
  EXPECT_EQ(out.output(), " 5 x");
  EXPECT_FALSE(templates.state().active);

  out.clear();
  begin("##");
  integer(5, ItemZone);
  integer(6, ItemZone | ItemLineEnd | 0x40u);
  EXPECT_EQ(out.output(), std::string(" 5") + RecordingPrinter::kZoneMark + " 6\r\n");
  EXPECT_EQ(out.calls().back().endFlags, 3);  // the console lets the line end win
}

TEST_F(TemplateStatement, TextItemsEndTheLineOnlyAsLastItem) {
  begin("\\\\.");
  text("ab", ItemLineEnd);
  text("cd", ItemZone);
  EXPECT_EQ(out.output(), "ab.cd.");
  text("ef", LastItem | ItemLineEnd | ItemZone);
  EXPECT_EQ(out.output(), "ab.cd.ef.\r\n");
  EXPECT_EQ(out.calls().back().endFlags, 1);
}

TEST_F(TemplateStatement, LastItemReleasesTheTemplate) {
  begin("## A ## B");
  integer(5, LastItem | ItemLineEnd);
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), " 5 A \r\n");
  EXPECT_FALSE(templates.state().active);
  EXPECT_EQ(templates.state().remaining, 0);
  integer(6);
  EXPECT_EQ(out.output(), " 5 A \r\n%6");
}

TEST_F(TemplateStatement, StateFollowsTheReadPosition) {
  begin("ab ## cd ##");
  EXPECT_TRUE(templates.state().active);
  EXPECT_EQ(templates.state().readPosition, 0u);
  EXPECT_EQ(templates.state().remaining, 11);
  integer(1);
  // Stands on the second field.
  EXPECT_EQ(templates.state().readPosition, 9u);
  EXPECT_EQ(templates.state().remaining, 2);
  templates.endTemplate(0);
  EXPECT_FALSE(templates.state().active);
  EXPECT_EQ(templates.state().remaining, 0);
}

TEST_F(TemplateStatement, EveryOperationLeavesTheErrorCellAtOk) {
  const std::string value = "x";
  std::vector<std::function<ErrorCode()>> operations = {
      [&] { return templates.beginTemplate("## \\\\"); },
      [&] { return templates.printTemplateInteger(0, 1, 0); },
      [&] { return templates.printTemplateUnsigned(0, 1, 0); },
      [&] { return templates.printTemplateDouble(0, 1, 0); },
      [&] { return templates.printTemplateSingle(0, 1, 0); },
      [&] { return templates.printTemplateText(0, value.data(), value.size(), 0); },
      [&] { return templates.printTemplateWideText(0, u"x", 0); },
      [&] { return templates.endTemplate(0); },
  };
  for (size_t i = 0; i < operations.size(); ++i) {
    files.setLastError(FileIO);
    EXPECT_EQ(operations[i](), Ok) << i;
    EXPECT_EQ(files.lastError(), Ok) << i;
  }
}

TEST_F(TemplateStatement, OutputGoesToTheGivenFileNumber) {
  begin("<##>");
  templates.printTemplateInteger(3, 1, ItemLineEnd);
  templates.endTemplate(3);
  for (const RecordingPrinter::Call& call : out.calls()) EXPECT_EQ(call.number, 3);
}

TEST_F(TemplateStatement, TextFieldsCutAndFill) {
  EXPECT_EQ(textIn("\\\\", "Mehl"), "Me");
  EXPECT_EQ(textIn("\\\\", "kg"), "kg");
  EXPECT_EQ(textIn("\\\\", "g"), "g ");
  EXPECT_EQ(textIn("\\\\", ""), "  ");
  EXPECT_EQ(textIn("\\  \\", "abcd"), "abcd");
  EXPECT_EQ(textIn("!", ""), " ");
  EXPECT_EQ(textIn("!", "xyz"), "x");
  EXPECT_EQ(textIn("&", "Mehl"), "Mehl");
  EXPECT_EQ(textIn("&", ""), "");
  EXPECT_TRUE(out.calls().empty());  // not even an empty piece
}

TEST_F(TemplateStatement, NulBytesAreBytesLikeAnyOther) {
  EXPECT_EQ(textIn("\\   \\", std::string("a\0b", 3)), std::string("a\0b  ", 5));
  EXPECT_EQ(textIn("\\\\", std::string("\0bc", 3)), std::string("\0b", 2));
  EXPECT_EQ(textIn("&", std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(textIn("!", std::string("\0", 1)), std::string("\0", 1));
}

TEST_F(TemplateStatement, WideTextCountsCharacters) {
  begin("\\\\|!|&|\\ \\");
  templates.printTemplateWideText(0, u"Mehl", 0);
  templates.printTemplateWideText(0, u"", 0);
  templates.printTemplateWideText(0, u"\u00e4\u20ac", 0);
  templates.printTemplateWideText(0, u"a", LastItem | ItemLineEnd);
  EXPECT_EQ(out.output(), "Me| |\xe4?|a  \r\n");
}

// Items larger than the staging buffer go out in pieces that fill it.
TEST_F(TemplateStatement, LongLiteralRunsAndWideFieldsArePrintedWhole) {
  const std::string run(20000, 'A');
  begin(run + "##");
  integer(5);
  EXPECT_EQ(out.output(), run + " 5");
  const std::string field = "\\" + std::string(17000, ' ') + "\\";
  EXPECT_EQ(textIn(field, "ab"), "ab" + std::string(17000, ' '));
  for (const std::string& piece : out.pieces()) EXPECT_LE(piece.size(), OutputCursor::kStagingSize);
}

struct TextFieldCase {
  const char* bytes;
  TextField::Kind kind;
  uint32_t taken;
  uint32_t width;
};

TEST(TextFieldReader, ReadsEachFormAndWhatABrokenOneTakes) {
  using Kind = TextField::Kind;
  const TextFieldCase cases[] = {
      {"!x", Kind::Columns, 1, 1},    {"&x", Kind::Whole, 1, 0},
      {"\\\\x", Kind::Columns, 2, 2}, {"\\   \\x", Kind::Columns, 5, 5},
      {"\\  x\\", Kind::None, 3, 0},  {"\\  ", Kind::None, 3, 0},
      {"\\x\\", Kind::None, 0, 0},    {"\\", Kind::None, 0, 0},
      {"##", Kind::None, 0, 0},       {"", Kind::None, 0, 0},
  };
  for (const TextFieldCase& c : cases) {
    const TextField field = readTextField(c.bytes, std::strlen(c.bytes));
    EXPECT_EQ(field.kind, c.kind) << c.bytes;
    EXPECT_EQ(field.taken, c.taken) << c.bytes;
    if (c.kind == Kind::Columns) {
      EXPECT_EQ(field.width, c.width) << c.bytes;
    }
  }
}

TEST_F(TemplateStatement, FieldsBeyondWhatAPlanHoldsAreReadWhereTheyStand) {
  // Forty one-column fields: the items past the planned ones read the rest.
  std::string form;
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    form += "!-";
    expected += static_cast<char>('a' + i % 26);
    expected += '-';
  }
  begin(form);
  for (int i = 0; i < 40; ++i) text(std::string(1, static_cast<char>('a' + i % 26)) + "zz");
  integer(7);
  templates.endTemplate(0);
  // The number starts the used-up template over and meets a text field.
  EXPECT_EQ(out.output(), expected + "%7");
}

TEST_F(TemplateStatement, EscapedLiteralTextBetweenPlannedFields) {
  begin("a_#b ## c_!_\\d \\ \\_");
  for (int round = 0; round < 2; ++round) {
    integer(5);
    text("xyz");
  }
  templates.endTemplate(0);
  EXPECT_EQ(out.output(), "a#b  5 c!\\d xyz_a#b  5 c!\\d xyz_");
}

// The program's table row: four statements.
constexpr char kLeftRowTemplate[] = "  ##   #### \\\\ \\                        \\  ";
constexpr char kRightNumberTemplate[] = "#### ";
constexpr char kRightShortTemplate[] = "\\\\ ";
constexpr char kRightLongTemplate[] = "\\                        \\";

struct Record {
  int32_t number;
  std::string shortText;
  std::string longText;
};

void printRow(TemplatePrinter& templates, int32_t row, const Record& left, const Record& right) {
  auto text = [&templates](const std::string& value, uint32_t flags) {
    templates.printTemplateText(0, value.data(), value.size(), flags);
  };
  templates.beginTemplate(kLeftRowTemplate);
  templates.printTemplateInteger(0, row, 0);
  templates.printTemplateInteger(0, left.number, 0);
  text(left.shortText, 0);
  text(left.longText, 0);
  templates.endTemplate(0);
  templates.beginTemplate(kRightNumberTemplate);
  templates.printTemplateInteger(0, right.number, 0);
  templates.endTemplate(0);
  templates.beginTemplate(kRightShortTemplate);
  text(right.shortText, 0);
  templates.endTemplate(0);
  templates.beginTemplate(kRightLongTemplate);
  text(right.longText, LastItem | ItemLineEnd);
  templates.endTemplate(0);
}

class TableRow : public TemplateStatement {
 protected:
  void printRow(int32_t row, const Record& left, const Record& right) {
    kp::printRow(templates, row, left, right);
  }
};

const Record kMehl = {250, "g", "Mehl"};
const Record kWeizenmehl = {12500, "kg", "Weizenmehl Type 405 extra fein gemahlen"};
const std::string kWideRow = "   3    250 g  Mehl" + std::string(22, ' ') + "  " + "%12500" + " " +
                             "kg" + " " + "Weizenmehl Type 405 extra ";

TEST_F(TableRow, TemplatesHaveTheirDocumentedLengths) {
  EXPECT_EQ(std::strlen(kLeftRowTemplate), 43u);
  EXPECT_EQ(std::strlen(kRightNumberTemplate), 5u);
  EXPECT_EQ(std::strlen(kRightShortTemplate), 3u);
  EXPECT_EQ(std::strlen(kRightLongTemplate), 26u);
}

TEST_F(TableRow, WorkedRunRows) {
  printRow(1, {250, "g", "Mehl"}, {250, "kg", "Mehl"});
  printRow(2, {3, "EL", "Zucker"}, {3, "EL", "Rohrzucker"});
  printRow(3, {1, "Pr", "Salz"}, {1, "Pr", "Salz"});
  EXPECT_EQ(out.output(),
            "   1    250 g  Mehl                         250 kg Mehl                      \r\n"
            "   2      3 EL Zucker                         3 EL Rohrzucker                \r\n"
            "   3      1 Pr Salz                           1 Pr Salz                      \r\n");
}

TEST_F(TableRow, RowSevenOnePieceAnItem) {
  printRow(7, {250, "g", "Mehl"}, {250, "kg", "Mehl"});
  EXPECT_EQ(out.pieces(),
            (std::vector<std::string>{"   7   ", " 250 ", "g  ", "Mehl" + std::string(24, ' '),
                                      " 250 ", "kg ", "Mehl" + std::string(22, ' ')}));
  EXPECT_EQ(out.output().size(), 77u + 2u);
  EXPECT_TRUE(out.calls().back().lineEnd);
}

TEST_F(TableRow, OverflowingNumberWidensTheRow) {
  printRow(3, kMehl, kWeizenmehl);
  EXPECT_EQ(out.output(), kWideRow + "\r\n");
  EXPECT_EQ(kWideRow.size(), 79u);
}

TEST_F(TableRow, NegativeNumbers) {
  printRow(12, {-5, "EL", "Zucker"}, {-1000, "TL", "Salz"});
  EXPECT_EQ(out.output(), "  12     -5 EL Zucker" + std::string(20, ' ') + "  " + "%-1000 " +
                              "TL " + "Salz" + std::string(22, ' ') + "\r\n");
}

TEST_F(TableRow, RowNumbersFromOneHundredShiftTheRow) {
  printRow(100, {1, "a", "b"}, {1, "a", "b"});
  EXPECT_EQ(out.output().substr(0, 6), "  %100");
  EXPECT_EQ(out.output().size(), 79u + 2u);
}

TEST_F(TableRow, TemplateCopyKeepsItsStorageFromRowToRow) {
  // The longest template first, so that later statements fit its capacity.
  printRow(1, {1, "a", "b"}, {2, "c", "d"});
  const char* storage = templates.state().templateCopy.data();
  for (int32_t row = 2; row < 200; ++row) {
    printRow(row, {row, "ab", "long text"}, {-row, "xy", "other"});
    EXPECT_EQ(templates.state().templateCopy.data(), storage);
  }
}

// The same rows through the console: its raw path and its screen cells.
TEST(TableRowOnTheConsole, RedirectedOutputIsTheRowsBytes) {
  FileTable files;
  test::MemoryScreen screen;
  screen.setRedirected(true);
  Console console(files, screen);
  TemplatePrinter templates(console, &files);
  printRow(templates, 3, kMehl, kWeizenmehl);
  printRow(templates, 7, kMehl, {250, "kg", "Mehl"});
  EXPECT_EQ(
      screen.rawOutput(),
      kWideRow + "\r\n" +
          "   7    250 g  Mehl                         250 kg Mehl                      \r\n");
}

TEST(TableRowOnTheConsole, WideRowTakesSeventyNineCells) {
  FileTable files;
  test::MemoryScreen screen(80, 25);
  Console console(files, screen);
  TemplatePrinter templates(console, &files);
  printRow(templates, 3, kMehl, kWeizenmehl);
  EXPECT_EQ(screen.rowText(0), kWideRow + " ");
  EXPECT_EQ(screen.cursor().y, 1);
  EXPECT_EQ(screen.cursor().x, 0);
}

}  // namespace
}  // namespace kp
