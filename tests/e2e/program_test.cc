// The built program, run as a user runs it with its output redirected.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "e2e/run_program.h"

namespace kp::test {
namespace {

const std::string kHeading = crlf(
    "\n"
    " --> KOCHBUCHPRUEFER <--\n"
    "\n"
    "  Z#   Rezept 1                            Rezept 2\n"
    " -----------------------------------------------------------------------------\n");

const std::string kUnequalNote = crlf(
    "\n\n"
    " Fehler! Die Dateien sind nicht gleich lang!\n"
    " Kann nur bis zum Ende der kuerzeren lesen.\n");

const std::string kEndReachedNote = crlf(
    "\n\n"
    " Ende der Rezeptdateien erreicht.\n"
    " Die Abweichungen im 2. Rezept wurden, sofern vorhanden, rot hervorgehoben.\n");

const std::string kPrompt = crlf("\n\n -> Beliebige Taste zum Beenden druecken.\n");

std::string table(const std::string& rows, bool endedTogether) {
  return kHeading + crlf(rows) + (endedTogether ? kEndReachedNote : kUnequalNote) + kPrompt;
}

void expectFinished(const RunResult& result) {
  EXPECT_FALSE(result.timedOut) << "the program did not end by itself";
  EXPECT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exitStatus, 0);
}

const char kWorkedRecipe1[] = "250,g,Mehl\r\n3,EL,Zucker\r\n1,Pr,Salz\r\n";
const char kWorkedRecipe2[] = "250,kg,Mehl\r\n3,EL,Rohrzucker\r\n1,Pr,Salz\r\n2,St,Eier\r\n";

TEST(Program, WorkedRunIsExactToTheByte) {
  RunResult result = runProgram(RecipeFile::of(kWorkedRecipe1), RecipeFile::of(kWorkedRecipe2));
  expectFinished(result);
  EXPECT_EQ(result.output,
            table("   1    250 g  Mehl                         250 kg Mehl                      \n"
                  "   2      3 EL Zucker                         3 EL Rohrzucker                \n"
                  "   3      1 Pr Salz                           1 Pr Salz                      \n",
                  false));
}

struct TableCase {
  const char* name;
  RecipeFile recipe1;
  RecipeFile recipe2;
  std::string rows;
  bool endedTogether;
};

class ProgramTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(ProgramTable, PrintsTheExpectedTable) {
  const TableCase& c = GetParam();
  RunResult result = runProgram(c.recipe1, c.recipe2);
  expectFinished(result);
  EXPECT_EQ(result.output, table(c.rows, c.endedTogether));
}

const std::string kThreeRows = "1,EL,Zucker\r\n2,g,Mehl\r\n3,Pr,Salz\r\n";
const std::string kThreeRowsPrinted =
    "   1      1 EL Zucker                         1 EL Zucker                    \n"
    "   2      2 g  Mehl                           2 g  Mehl                      \n"
    "   3      3 Pr Salz                           3 Pr Salz                      \n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramTable,
    ::testing::Values(
        TableCase{"IdenticalFiles", RecipeFile::of(kThreeRows), RecipeFile::of(kThreeRows),
                  kThreeRowsPrinted, true},
        TableCase{"EmptyFiles", RecipeFile::of(""), RecipeFile::of(""), "", true},
        // A recipe that cannot be opened reads like an empty file, whichever side it is on.
        TableCase{"Recipe1MissingRecipe2Empty", RecipeFile::missing(), RecipeFile::of(""), "",
                  true},
        TableCase{"Recipe1MissingRecipe2Full", RecipeFile::missing(), RecipeFile::of(kThreeRows),
                  "", false},
        TableCase{"Recipe2MissingRecipe1Empty", RecipeFile::of(""), RecipeFile::missing(), "",
                  true},
        TableCase{"Recipe2MissingRecipe1Full", RecipeFile::of(kThreeRows), RecipeFile::missing(),
                  "", false},
        TableCase{"BothMissing", RecipeFile::missing(), RecipeFile::missing(), "", true},
        TableCase{"Recipe1IsADirectory", RecipeFile::directory(), RecipeFile::of(kThreeRows), "",
                  false},
        TableCase{"Recipe2IsAFifoWithNoWriter", RecipeFile::of(""), RecipeFile::fifo(), "", true},
        TableCase{"Recipe1IsADevice", RecipeFile::deviceLink(), RecipeFile::of(""), "", true},
        // The empty line after the last record is one more record (0, empty, empty).
        TableCase{"TrailingEmptyLineMakesFilesUnequal", RecipeFile::of("1,a,b\r\n"),
                  RecipeFile::of("1,a,b\r\n\r\n"),
                  "   1      1 a  b                              1 a  b                         \n",
                  false},
        TableCase{
            "NumbersTooWideForTheirColumn", RecipeFile::of("12500,kg,Mehl\r\n"),
            RecipeFile::of("10000000,-1000,x\r\n"),
            "   1   %12500 kg Mehl                        % 100E+5 -1 x                         "
            "\n",
            true},
        TableCase{"TextsCutToTheirColumns",
                  RecipeFile::of("1,Kilogramm,Weizenmehl Type 405 extra fein gemahlen\r\n"),
                  RecipeFile::of("1,Kilo,Weizenmehl Type 405 extra grob\r\n"),
                  "   1      1 Ki Weizenmehl Type 405 extra      1 Ki Weizenmehl Type 405 extra \n",
                  true},
        // Every line end ends one field, so three make one empty record.
        TableCase{"FileOfOnlyLineEnds", RecipeFile::of("\r\n\r\n\r\n"), RecipeFile::of("\n\n\n"),
                  "   1      0                                   0                              \n",
                  true}),
    [](const ::testing::TestParamInfo<TableCase>& info) { return info.param.name; });

TEST(Program, RowNumbersFromHundredCarryTheOverflowMark) {
  std::string recipe;
  for (int i = 0; i < 100; ++i) recipe += "7,g,x\r\n";
  RunResult result = runProgram(RecipeFile::of(recipe), RecipeFile::of(recipe));
  expectFinished(result);
  const std::string row100 =
      crlf("  %100      7 g  x                              7 g  x                         \n");
  const std::string row99 =
      crlf("  99      7 g  x                              7 g  x                         \n");
  EXPECT_NE(result.output.find(row99), std::string::npos);
  EXPECT_NE(result.output.find(row100 + kEndReachedNote), std::string::npos);
}

TEST(Program, HostileBytesEndWithStatusZero) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
  const std::vector<std::string> contents = {
      binary,
      std::string(1000, '\0'),
      std::string(100000, ','),
      std::string(3 * 1024 * 1024, 'x'),
      "\"unclosed quote, still one field\r\n",
  };
  for (const std::string& content : contents) {
    RunResult result = runProgram(RecipeFile::of(content), RecipeFile::of(content));
    expectFinished(result);
    EXPECT_NE(result.output.find(kEndReachedNote + kPrompt), std::string::npos);
  }
}

TEST(Program, SurvivesOutputThatCannotBeWritten) {
  std::string recipe;
  for (int i = 0; i < 5000; ++i) recipe += "1,EL,Zucker\r\n";
  for (OutputTo to : {OutputTo::DevFull, OutputTo::ClosedPipe}) {
    RunResult result = runProgram(RecipeFile::of(recipe), RecipeFile::of(recipe), to);
    expectFinished(result);
  }
}

}  // namespace
}  // namespace kp::test
