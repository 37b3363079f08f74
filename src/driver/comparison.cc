#include "driver/comparison.h"

#include <cstring>

namespace kp {
namespace {

constexpr FileNumber kConsole = 0;

constexpr char kBannerLine[] = " --> KOCHBUCHPRUEFER <--";
constexpr char kHeaderLine[] = "  Z#   Rezept 1                            Rezept 2";
constexpr char kSeparatorLine[] =
    " -----------------------------------------------------------------------------";
constexpr char kUnequalLine1[] = " Fehler! Die Dateien sind nicht gleich lang!";
constexpr char kUnequalLine2[] = " Kann nur bis zum Ende der kuerzeren lesen.";
constexpr char kEndReachedLine1[] = " Ende der Rezeptdateien erreicht.";
constexpr char kEndReachedLine2[] =
    " Die Abweichungen im 2. Rezept wurden, sofern vorhanden, rot hervorgehoben.";
constexpr char kPromptLine[] = " -> Beliebige Taste zum Beenden druecken.";

constexpr char kRecipe1Name[] = "Rezept1.txt";
constexpr char kRecipe2Name[] = "Rezept2.txt";

// The row as four statements, so that recipe 2's fields can change colour
// between them. Text fields are a backslash, spaces and a backslash.
constexpr char kLeftRowTemplate[] = "  ##   #### \\\\ \\                        \\  ";
constexpr char kRightNumberTemplate[] = "#### ";
constexpr char kRightShortTemplate[] = "\\\\ ";
constexpr char kRightLongTemplate[] = "\\                        \\";

static_assert(sizeof(kHeaderLine) - 1 == 51);
static_assert(sizeof(kSeparatorLine) - 1 == 78);
static_assert(sizeof(kEndReachedLine2) - 1 == 75);
static_assert(sizeof(kLeftRowTemplate) - 1 == 43);
static_assert(sizeof(kRightLongTemplate) - 1 == 26);

template <size_t N>
void beginStatement(TemplatePrinter& out, const char (&text)[N]) {
  out.beginTemplate(text, N - 1);
}

void setForeground(Console& console, ColourIndex colour) {
  console.setColour(colour, 0, kBackgroundOmitted);
}

template <size_t N>
void printLine(Console& console, const char (&text)[N]) {
  console.printText(kConsole, text, N - 1, EndLine);
}

void printEmptyLine(Console& console) {
  console.printLineEnd(kConsole, EndLine);
}

// The number recipe 2 is opened under. A failed open of recipe 1 leaves its
// number free; handing that same number to recipe 2 would make both sides of
// the table read recipe 2 and report success, so recipe 1 keeps its number
// and a recipe that cannot be opened reads like an empty file.
FileNumber freeNumberBesides(const FileTable& files, FileNumber taken) {
  FileNumber number = files.findFreeFileNumber();
  if (number != taken || number == 0) return number;
  for (FileNumber n = taken + 1; n <= FileTable::kLastFile; ++n) {
    const FileSlot* slot = files.slotForNumber(n);
    if (slot->hooks == nullptr) return n;
  }
  return 0;
}

void readEntry(FieldReader& reader, FileNumber number, RecipeEntry& entry) {
  reader.beginFileInput(number);
  reader.readRecord(entry.number, entry.shortText, entry.longText);
}

void printField(TemplatePrinter& out, const FieldText& text, uint32_t flags) {
  out.printTemplateText(kConsole, text.data(), text.size(), flags);
}

bool differs(const FieldText& first, const FieldText& second) {
  return compareTexts(first.view(), second.view()) != 0;
}

ColourIndex colourFor(bool differs) {
  return differs ? kLightRed : kLightGrey;
}

[[gnu::noinline]] void printRow(Program& program, int64_t rowNumber, const RecipeEntry& recipe1,
              const RecipeEntry& recipe2) {
  Console& console = program.console;
  TemplatePrinter& out = program.templates;

  beginStatement(out, kLeftRowTemplate);
  out.printTemplateInteger(kConsole, rowNumber, 0);
  out.printTemplateInteger(kConsole, recipe1.number, 0);
  printField(out, recipe1.shortText, 0);
  printField(out, recipe1.longText, 0);
  out.endTemplate(kConsole);

  setForeground(console, colourFor(recipe1.number != recipe2.number));
  beginStatement(out, kRightNumberTemplate);
  out.printTemplateInteger(kConsole, recipe2.number, 0);
  out.endTemplate(kConsole);

  setForeground(console, colourFor(differs(recipe1.shortText, recipe2.shortText)));
  beginStatement(out, kRightShortTemplate);
  printField(out, recipe2.shortText, 0);
  out.endTemplate(kConsole);

  setForeground(console, colourFor(differs(recipe1.longText, recipe2.longText)));
  beginStatement(out, kRightLongTemplate);
  printField(out, recipe2.longText, LastItem | ItemLineEnd);
  out.endTemplate(kConsole);

  setForeground(console, kLightGrey);
}

}  // namespace

std::string executableDirectory(const std::string& executablePath, char separator) {
  size_t last = executablePath.rfind(separator);
  if (last == std::string::npos) return std::string();
  return executablePath.substr(0, last);
}

int compareTexts(std::string_view first, std::string_view second) {
  size_t common = first.size() < second.size() ? first.size() : second.size();
  int order = std::memcmp(first.data(), second.data(), common);  // compares as unsigned char
  if (order != 0) return order > 0 ? 1 : -1;
  if (first.size() == second.size()) return 0;
  return first.size() > second.size() ? 1 : -1;
}

void runComparisonSteps(Program& program, const std::string& directory, char separator) {
  FileTable& files = program.files;
  Console& console = program.console;

  const std::string recipe1Path = directory + separator + kRecipe1Name;
  const std::string recipe2Path = directory + separator + kRecipe2Name;

  // Recipe 2's number is asked for only after recipe 1's open.
  const FileNumber recipe1File = files.findFreeFileNumber();
  files.openFile(recipe1Path.c_str(), Input, 0, 0, recipe1File, 0);
  const FileNumber recipe2File = freeNumberBesides(files, recipe1File);
  files.openFile(recipe2Path.c_str(), Input, 0, 0, recipe2File, 0);

  setForeground(console, kLightGrey);
  printEmptyLine(console);
  printLine(console, kBannerLine);
  printEmptyLine(console);
  printLine(console, kHeaderLine);
  printLine(console, kSeparatorLine);

  // One record of each file in memory; rows are counted in 64 bits so that
  // no file is too long for the count.
  RecipeEntry recipe1;
  RecipeEntry recipe2;
  int64_t rowNumber = 1;
  int endedCount = 0;
  for (;;) {
    // Both tests are made in every pass: 2 means both files ended together.
    if (files.atEndOfFile(recipe1File)) ++endedCount;
    if (files.atEndOfFile(recipe2File)) ++endedCount;
    if (endedCount >= 1) break;
    readEntry(program.reader, recipe1File, recipe1);
    readEntry(program.reader, recipe2File, recipe2);
    printRow(program, rowNumber, recipe1, recipe2);
    ++rowNumber;
  }

  printEmptyLine(console);
  printEmptyLine(console);
  if (endedCount == 1) {
    setForeground(console, kLightRed);
    printLine(console, kUnequalLine1);
    printLine(console, kUnequalLine2);
    setForeground(console, kLightGrey);
  } else {
    printLine(console, kEndReachedLine1);
    printLine(console, kEndReachedLine2);
  }

  files.closeFile(recipe1File);
  files.closeFile(recipe2File);

  printEmptyLine(console);
  printEmptyLine(console);
  printLine(console, kPromptLine);

  console.flush();
  program.keyWait.waitForKey(-1);
}

}  // namespace kp
