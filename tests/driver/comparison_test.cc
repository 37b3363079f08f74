// The comparison driver running against a console screen in memory.
#include "driver/comparison.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/memory_screen.h"
#include "support/scripted_key_source.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using test::MemoryScreen;
using test::ScriptedKeySource;

TEST(CompareTexts, EqualOnlyWithTheSameBytesAndLength) {
  struct Case {
    std::string first, second;
    int expected;
  } cases[] = {
      {"", "", 0},
      {"Mehl", "Mehl", 0},
      {"Mehl", "mehl", -1},          // case matters
      {"Mehl ", "Mehl", 1},          // a trailing blank counts
      {" Mehl", "Mehl", -1},         // a leading one too
      {"Mehl", "Mehlschwitze", -1},  // a prefix sorts first
      {"\xE4", "a", 1},              // bytes compare unsigned
      {std::string("a\0b", 3), std::string("a\0c", 3), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareTexts(c.first, c.second), c.expected) << c.first << " / " << c.second;
    EXPECT_EQ(compareTexts(c.second, c.first), -c.expected) << c.second << " / " << c.first;
  }
}

TEST(ExecutableDirectory, CutsBeforeTheLastSeparator) {
  EXPECT_EQ(executableDirectory("/opt/kb/kochbuchpruefer", '/'), "/opt/kb");
  EXPECT_EQ(executableDirectory("/kochbuchpruefer", '/'), "");
  EXPECT_EQ(executableDirectory("kochbuchpruefer", '/'), "");
  EXPECT_EQ(executableDirectory("", '/'), "");
  EXPECT_EQ(executableDirectory("C:\\Programme\\kb.exe", '\\'), "C:\\Programme");
  EXPECT_EQ(executableDirectory("C:\\kb.exe", '\\'), "C:");
}

// A directory with the two recipe files, removed afterwards.
class RecipeDirectory {
 public:
  RecipeDirectory() {
    char pattern[] = "/tmp/kp-driver-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~RecipeDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  void write(const char* name, const std::string& bytes) {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }
  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
};

struct ScreenRun {
  MemoryScreen screen{80, 40};
  ScriptedKeySource keys;
};

void runOn(ScreenRun& run, const std::string& recipe1, const std::string& recipe2) {
  RecipeDirectory dir;
  dir.write("Rezept1.txt", recipe1);
  dir.write("Rezept2.txt", recipe2);
  run.keys.addKeyPress(0, 'A', 0, 'a');
  Program program(run.screen, run.keys);
  runComparisonSteps(program, dir.path(), '/');
}

// Attributes of the cells x0..x1 (0-based, inclusive) of row y.
void expectColour(const MemoryScreen& screen, int y, int x0, int x1, uint16_t attribute) {
  for (int x = x0; x <= x1; ++x)
    EXPECT_EQ(screen.attributeAt(x, y), attribute) << "row " << y << " column " << x + 1;
}

TEST(Driver, WorkedRunShowsTheDifferencesInLightRed) {
  ScreenRun run;
  runOn(run, "250,g,Mehl\r\n3,EL,Zucker\r\n1,Pr,Salz\r\n",
        "250,kg,Mehl\r\n3,EL,Rohrzucker\r\n1,Pr,Salz\r\n2,St,Eier\r\n");
  const MemoryScreen& s = run.screen;
  const char* expected[] = {
      "",
      " --> KOCHBUCHPRUEFER <--",
      "",
      "  Z#   Rezept 1                            Rezept 2",
      " -----------------------------------------------------------------------------",
      "   1    250 g  Mehl                         250 kg Mehl",
      "   2      3 EL Zucker                         3 EL Rohrzucker",
      "   3      1 Pr Salz                           1 Pr Salz",
      "",
      "",
      " Fehler! Die Dateien sind nicht gleich lang!",
      " Kann nur bis zum Ende der kuerzeren lesen.",
      "",
      "",
      " -> Beliebige Taste zum Beenden druecken.",
  };
  for (int y = 0; y < 15; ++y) EXPECT_EQ(s.trimmedRow(y), expected[y]) << "row " << y;

  // Row 1: "kg" and the space behind it; row 2: the long text and its fill.
  expectColour(s, 5, 0, 47, 7);
  expectColour(s, 5, 48, 50, 12);
  expectColour(s, 5, 51, 79, 7);
  expectColour(s, 6, 0, 50, 7);
  expectColour(s, 6, 51, 76, 12);
  expectColour(s, 6, 77, 79, 7);
  expectColour(s, 7, 0, 79, 7);
  expectColour(s, 10, 0, 43, 12);
  expectColour(s, 11, 0, 42, 12);
  for (int y : {0, 1, 2, 3, 4, 14}) expectColour(s, y, 0, 79, 7);
  // The prompt leaves the cursor on the next line; the key is still buffered.
  EXPECT_EQ(s.cursor().y, 15);
  EXPECT_EQ(s.cursor().x, 0);
}

struct ColourCase {
  const char* name;
  const char* recipe1;
  const char* recipe2;
  uint16_t number, shortText, longText;  // attributes of recipe 2's columns
};

class DriverColours : public ::testing::TestWithParam<ColourCase> {};

TEST_P(DriverColours, MarkEveryDifferingFieldOfRecipe2) {
  const ColourCase& c = GetParam();
  ScreenRun run;
  runOn(run, c.recipe1, c.recipe2);
  const MemoryScreen& s = run.screen;
  expectColour(s, 5, 0, 42, 7);
  expectColour(s, 5, 43, 47, c.number);
  expectColour(s, 5, 48, 50, c.shortText);
  expectColour(s, 5, 51, 76, c.longText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverColours,
    ::testing::Values(
        ColourCase{"Equal", "1,EL,Zucker\r\n", "1,EL,Zucker\r\n", 7, 7, 7},
        ColourCase{"NumberDiffers", "1,EL,Zucker\r\n", "2,EL,Zucker\r\n", 12, 7, 7},
        // Numbers compare as the integers read, however they are written.
        ColourCase{"SameNumberOtherSpelling", "16,EL,Zucker\r\n", "&H10,EL,Zucker\r\n", 7, 7, 7},
        ColourCase{"ShortDiffersAfterItsColumn", "1,ELX,Zucker\r\n", "1,ELY,Zucker\r\n", 7, 12, 7},
        ColourCase{"LongDiffersAfterItsColumn", "1,EL,Weizenmehl Type 405 extra fein\r\n",
                   "1,EL,Weizenmehl Type 405 extra grob\r\n", 7, 7, 12},
        ColourCase{"CaseDiffers", "1,EL,Zucker\r\n", "1,el,zucker\r\n", 7, 12, 12},
        ColourCase{"TrailingBlankDiffers", "1,EL,Zucker\r\n", "1,EL,Zucker \r\n", 7, 7, 12}),
    [](const ::testing::TestParamInfo<ColourCase>& info) { return info.param.name; });

TEST(Driver, RedirectedOutputCarriesNoColour) {
  ScreenRun run;
  run.screen.setRedirected(true);
  runOn(run, "1,EL,Zucker\r\n", "2,EL,Salz\r\n");
  const std::string& out = run.screen.rawOutput();
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  EXPECT_NE(out.find("   1      1 EL Zucker                         2 EL Salz"
                     "                      \r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace kp
