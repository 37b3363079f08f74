#include "input/field_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_files.h"

namespace kp {
namespace {

using testing::TempDir;

struct Record {
  int32_t number;
  std::string shortText;
  std::string longText;
  bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
  return out << '{' << r.number << ", \"" << r.shortText << "\", \"" << r.longText << "\"}";
}

// A slow twin of the disk hooks: same operations, different table, so the
// reader takes the readBytes road for every byte.
const DeviceHooks slowDiskHooks = diskFileHooks;

class FieldReaderTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }

  // Opens bytes as a file under number and makes it the reader's source.
  void open(const std::string& bytes, FileNumber number = 1) {
    const std::string path = dir.write("f" + std::to_string(number) + ".txt", bytes);
    ASSERT_EQ(files.openFile(path.c_str(), Input, 0, 0, number, 0), Ok);
    if (GetParam()) files.slotForNumber(number)->hooks = &slowDiskHooks;
    ASSERT_EQ(reader.beginFileInput(number), Ok);
  }

  // A record the comparison's way.
  Record record() {
    Record r;
    EXPECT_EQ(reader.readRecord(r.number, r.shortText, r.longText), Ok);
    return r;
  }

  // Reads records the way the comparison does, until the file is at its end.
  std::vector<Record> records(FileNumber number = 1) {
    std::vector<Record> all;
    while (files.atEndOfFile(number) == 0 && all.size() < 100) {
      reader.beginFileInput(number);
      all.push_back(record());
    }
    return all;
  }

  int32_t integerField() {
    int32_t value = 12345;
    reader.readIntegerField(value);
    return value;
  }

  std::string textField() {
    std::string text = "old content";
    reader.readTextField(text);
    return text;
  }

  TempDir dir;
  FileTable files;
  FieldReader reader{files};
};

INSTANTIATE_TEST_SUITE_P(BothRoads, FieldReaderTest, ::testing::Values(false, true),
                         [](const auto& info) {
                           return info.param ? "ReadBytes" : "StreamBuffer";
                         });

TEST_P(FieldReaderTest, FiveLineExample) {
  open(
      "1,EL,Zucker\r\n"
      "  2 ,  g , \"Mehl, fein\"  \r\n"
      "2.5,,Eier\r\n"
      "&H10,kg,Salz\r\n"
      "4,Pr\r\n");
  const std::vector<Record> expected = {
      {1, "EL", "Zucker"}, {2, "g ", "Mehl, fein"}, {2, "", "Eier"},
      {16, "kg", "Salz"},  {4, "Pr", ""},
  };
  EXPECT_EQ(records(), expected);
  EXPECT_EQ(files.atEndOfFile(1), -1);
}

TEST_P(FieldReaderTest, RecordLayouts) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<Record> expected;
  };
  const Case cases[] = {
      {"empty line then end", "\r\n", {{0, "", ""}}},
      {"blank line then end", "   \t \n", {{0, "", ""}}},
      {"extra empty line", "1,a,b\n\n", {{1, "a", "b"}, {0, "", ""}}},
      {"empty fields", ",,\n5,,x", {{0, "", ""}, {5, "", "x"}}},
      {"record over lines", "1\na\nb\n2,c\nd\n", {{1, "a", "b"}, {2, "c", "d"}}},
      {"LF only", "1,a,b\n2,c,d\n", {{1, "a", "b"}, {2, "c", "d"}}},
      {"lone CR", "1,a,b\r2,c,d\r", {{1, "a", "b"}, {2, "c", "d"}}},
      {"CR CR is two line ends", "1,a\r\r2,b\r", {{1, "a", ""}, {2, "b", ""}}},
      {"CR at the very end", "1,a,b\r", {{1, "a", "b"}}},
      {"no final line end", "1,a,b", {{1, "a", "b"}}},
      {"blank ends a number", "4 2,x\n", {{4, "2", "x"}}},
      {"blanks around a number", "  42  ,x,y", {{42, "x", "y"}}},
      {"inner and trailing blanks kept", "1, a b  ,\tc\t\n", {{1, "a b  ", "c\t"}}},
      {"quoted number", "\"42\",x,y", {{42, "x", "y"}}},
      {"quoted number goes on", "\"12\"34,x,y", {{1234, "x", "y"}}},
      {"quote inside unquoted text", "1,a\"b\",c", {{1, "a\"b\"", "c"}}},
      {"quoted text then a byte", "1,\"ab\"cd,e\n", {{1, "ab", "cd"}, {0, "", ""}}},
      {"quoted text then blanks", "1,\"a,b\"   ,c", {{1, "a,b", "c"}}},
      {"quoted text with line end", "1,\"a\nb\",c\n", {{1, "a", "b\""}, {0, "", ""}}},
      {"no escape for quotes", "1,\"a\"\"b\",c", {{1, "a", "b"}, {0, "", ""}}},
      {"D as exponent", "1d3,x,y\n1D3,x,y", {{1000, "x", "y"}, {1000, "x", "y"}}},
      {"D kept in text", "1,2d3,D", {{1, "2d3", "D"}}},
      {"E alone", "E5,x,y", {{0, "x", "y"}}},
      {"radix keeps E", "&HE5,x,y", {{229, "x", "y"}}},
      {"radix keeps D", "&HD,x,y", {{13, "x", "y"}}},
      {"control bytes", std::string("1,\x01\x7f\xe4,x"), {{1, "\x01\x7f\xe4", "x"}}},
      {"byte-order mark",
       "\xef\xbb\xbf"
       "7,a,b",
       {{0, "a", "b"}}},
      {"zero byte cuts a text", std::string("1,ab\0cd,e", 9), {{1, "ab", "e"}}},
      {"zero byte ends a number", std::string("12\0003,a,b", 8), {{12, "a", "b"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    files.closeAllFiles();
    open(c.bytes);
    EXPECT_EQ(records(), c.expected);
    EXPECT_EQ(files.atEndOfFile(1), -1);
  }
}

TEST_P(FieldReaderTest, IntegerFieldTable) {
  struct Case {
    std::string field;
    int32_t value;
  };
  const Case cases[] = {
      {"42", 42},
      {" 42 ", 42},
      {"\"42\"", 42},
      {"-7", -7},
      {"+7", 7},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"2147483648", INT32_MIN},
      {"3000000000", -1294967296},
      {"99999999999", -1},
      {"&H1F", 31},
      {"&h1f", 31},
      {"&HFFFFFFFF", -1},
      {"&H100000000", 0},
      {"&O17", 15},
      {"&o17", 15},
      {"&17", 15},
      {"&B101", 5},
      {"&b101", 5},
      {"&H", 0},
      {"&8", 0},
      {"&", 0},
      {"&HE5", 229},
      {"1e3", 1000},
      {"1d3", 1000},
      {"E5", 0},
      {"2.5", 2},
      {"3.5", 4},
      {"0.5", 0},
      {"-2.5", -2},
      {"-99999999999", 1},
      {"2147483647.5", INT32_MIN},
  };
  std::string fields;
  std::string records;
  for (const Case& c : cases) {
    fields += c.field + "\n";
    records += c.field + ",x,y\n";
  }
  open(fields, 1);
  for (const Case& c : cases) EXPECT_EQ(integerField(), c.value) << '"' << c.field << '"';
  EXPECT_EQ(files.atEndOfFile(1), -1);
  open(records, 2);
  for (const Case& c : cases) {
    EXPECT_EQ(record(), (Record{c.value, "x", "y"})) << '"' << c.field << '"';
  }
  EXPECT_EQ(files.atEndOfFile(2), -1);
}

TEST_P(FieldReaderTest, OverlongFieldsContinueAsTheNextField) {
  open(std::string(67, '9') + "901,x\n" + std::string(4100, 'a') + ",b\n" + std::string(67, '1') +
       " ,z\n" + std::string(4096, 'c') + "  ,d\n");
  // 67 digits saturate; the next field starts with the remaining three.
  EXPECT_EQ(integerField(), -1);
  EXPECT_EQ(textField(), "901");
  EXPECT_EQ(textField(), "x");

  EXPECT_EQ(textField(), std::string(4096, 'a'));
  EXPECT_EQ(textField(), "aaaa");
  EXPECT_EQ(textField(), "b");

  // A blank or separator right after the limit goes as after any field.
  EXPECT_EQ(integerField(), -1);
  EXPECT_EQ(textField(), "z");
  EXPECT_EQ(textField(), std::string(4096, 'c'));
  EXPECT_EQ(textField(), "d");
  EXPECT_EQ(files.atEndOfFile(1), -1);
}

TEST_P(FieldReaderTest, ReadingPastTheEndGivesEmptyFieldsForever) {
  open("1,a");
  EXPECT_EQ(record(), (Record{1, "a", ""}));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(record(), (Record{0, "", ""}));
  EXPECT_EQ(files.atEndOfFile(1), -1);
}

TEST_P(FieldReaderTest, PushedBackByteStaysWithItsFile) {
  open("4 2,x\n", 1);
  open("\"a\"b,c\n", 2);
  reader.beginFileInput(1);
  EXPECT_EQ(integerField(), 4);
  EXPECT_EQ(files.slotForNumber(1)->putBackCount, 1);
  EXPECT_EQ(files.atEndOfFile(1), 0);
  reader.beginFileInput(2);
  EXPECT_EQ(textField(), "a");
  EXPECT_EQ(files.slotForNumber(2)->putBackCount, 1);
  reader.beginFileInput(1);
  EXPECT_EQ(integerField(), 2);
  EXPECT_EQ(textField(), "x");
  reader.beginFileInput(2);
  EXPECT_EQ(textField(), "b");
  EXPECT_EQ(textField(), "c");
  EXPECT_EQ(files.atEndOfFile(1), -1);
  EXPECT_EQ(files.atEndOfFile(2), -1);
}

// A record that ends by leaving a byte for the next one, read in turns with
// another file: the byte waits with its own file.
TEST_P(FieldReaderTest, RecordsLeaveTheirNextByteWithTheirFile) {
  open("1,a,\"b\"7,c,d\n", 1);
  open("2,x,y\r8,z\r\n", 2);
  reader.beginFileInput(1);
  EXPECT_EQ(record(), (Record{1, "a", "b"}));
  reader.beginFileInput(2);
  EXPECT_EQ(record(), (Record{2, "x", "y"}));
  EXPECT_EQ(files.atEndOfFile(1), 0);
  EXPECT_EQ(files.atEndOfFile(2), 0);
  reader.beginFileInput(1);
  EXPECT_EQ(record(), (Record{7, "c", "d"}));
  reader.beginFileInput(2);
  EXPECT_EQ(record(), (Record{8, "z", ""}));
  EXPECT_EQ(files.atEndOfFile(1), -1);
  EXPECT_EQ(files.atEndOfFile(2), -1);
}

TEST_P(FieldReaderTest, BeginFileInputRefusesNumbersThatAreNotOpen) {
  open("1,a,b\n2,c,d\n");
  EXPECT_EQ(record(), (Record{1, "a", "b"}));
  for (FileNumber number : {0, -1, 2, 255, 256, -2}) {
    EXPECT_EQ(reader.beginFileInput(number), IllegalCall) << number;
    EXPECT_EQ(files.lastError(), IllegalCall);
  }
  EXPECT_EQ(record(), (Record{2, "c", "d"})) << "the previous source stays";
  EXPECT_EQ(files.lastError(), Ok);
}

TEST_P(FieldReaderTest, ClosedSourceReadsAsTheEnd) {
  open("1,a,b\n");
  ASSERT_EQ(files.closeFile(1), Ok);
  EXPECT_EQ(record(), (Record{0, "", ""}));
}

TEST_P(FieldReaderTest, TextFieldReusesTheCallersStorage) {
  open(std::string(100, 'a') + "," + std::string(50, 'b') + ",\n");
  std::string text;
  reader.readTextField(text);
  EXPECT_EQ(text.size(), 100u);
  const char* storage = text.data();
  reader.readTextField(text);
  EXPECT_EQ(text, std::string(50, 'b'));
  EXPECT_EQ(text.data(), storage);
  reader.readTextField(text);
  EXPECT_EQ(text, "");
}

TEST(FieldReaderText, ReadsFromSourceTextWithoutAnOpenFile) {
  FileTable files;
  FieldReader reader(files);
  reader.cursor().sourceText = "7, x ,\"y,z\"\r\n8";
  int32_t number = 0;
  std::string shortText, longText;
  reader.readIntegerField(number);
  reader.readTextField(shortText);
  reader.readTextField(longText);
  EXPECT_EQ(number, 7);
  EXPECT_EQ(shortText, "x ");
  EXPECT_EQ(longText, "y,z");
  reader.readIntegerField(number);
  EXPECT_EQ(number, 8);
  reader.readIntegerField(number);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(reader.nextInputChar(), -1);
  reader.putBackInputChar(-1);
  EXPECT_EQ(reader.nextInputChar(), -1) << "the end is never pushed back";
}

TEST(FieldReaderText, BeginFileInputEmptiesTheSourceText) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  FileTable files;
  FieldReader reader(files);
  ASSERT_EQ(files.openFile(dir.write("r.txt", "5\n").c_str(), Input, 0, 0, 1, 0), Ok);
  for (const std::string& text : {std::string(), std::string("12"), std::string(100, '9')}) {
    for (size_t taken : {size_t{0}, size_t{1}}) {
      reader.cursor().sourceText = text;
      reader.cursor().sourceText.reserve(taken == 0 ? 200 : 0);
      reader.cursor().textPosition = taken;
      ASSERT_EQ(reader.beginFileInput(1), Ok);
      EXPECT_TRUE(reader.cursor().sourceText.empty());
      EXPECT_EQ(reader.cursor().sourceText.capacity(), std::string().capacity()) << "released";
      EXPECT_EQ(reader.cursor().textPosition, 0u);
      EXPECT_EQ(reader.cursor().source, files.slotForNumber(1));
    }
  }
}

// A text held in place takes a field of any length up to the limit, and a
// short one from bytes with room behind them as one from bytes without.
TEST(FieldTextHeldInPlace, TakesWhatAStringTakes) {
  std::string roomy(FieldText::kCapacity + FieldText::kShort, '\0');
  for (size_t i = 0; i < roomy.size(); ++i) roomy[i] = static_cast<char>('a' + i % 26);
  FieldText text;
  for (size_t length : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{4096}}) {
    text.assign("previous content", 16);
    text.assignPlainFromRoomy(roomy.data() + 1, length);
    EXPECT_EQ(text.view(), std::string_view(roomy.data() + 1, length)) << length;
    text.assign(roomy.data() + 2, length);
    EXPECT_EQ(text.view(), std::string_view(roomy.data() + 2, length)) << length;
  }
  text.assign(roomy.data(), FieldText::kCapacity + 1);
  EXPECT_EQ(text.size(), FieldText::kCapacity) << "nothing beyond the capacity";
}


TEST(FieldReaderText, ZeroLimitReadsNothingAndOverrunsNothing) {
  FileTable files;
  FieldReader reader(files);
  reader.cursor().sourceText = "abc";
  char buffer[1] = {'x'};
  bool looksFloating = true;
  EXPECT_EQ(reader.readFieldToken(0, FieldKind::Text, buffer, &looksFloating), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_FALSE(looksFloating);
}

TEST(FieldReaderToken, ReportsFractionLookingTokens) {
  struct Case {
    const char* input;
    FieldKind kind;
    const char* token;
    bool looksFloating;
  };
  const Case cases[] = {
      {"1.5", FieldKind::Integer, "1.5", true},    {"1d3", FieldKind::Integer, "1e3", true},
      {"1D3", FieldKind::Integer, "1E3", true},    {"1d3", FieldKind::Text, "1d3", true},
      {"&HE5", FieldKind::Integer, "&HE5", false}, {"&hd", FieldKind::Integer, "&hd", false},
      {"42", FieldKind::Integer, "42", false},     {"e", FieldKind::Text, "e", true},
  };
  for (const Case& c : cases) {
    FileTable files;
    FieldReader reader(files);
    reader.cursor().sourceText = c.input;
    char buffer[FieldReader::kTextFieldLimit + 1];
    bool looksFloating = !c.looksFloating;
    reader.readFieldToken(FieldReader::kTextFieldLimit, c.kind, buffer, &looksFloating);
    EXPECT_STREQ(buffer, c.token) << c.input;
    EXPECT_EQ(looksFloating, c.looksFloating) << c.input;
  }
}

}  // namespace
}  // namespace kp

namespace kp {
namespace {

// The ways of reading the same file: whole records, where the usual fields
// are taken straight from the stream buffer, into strings or into texts held
// in place; field by field from the buffer, byte by byte; and field by field
// through readBytes, one byte per call.
enum class Way { Records, RecordsInPlace, FieldsFromBuffer, FieldsThroughReadBytes };

std::vector<Record> readEveryWay(const std::string& path, Way way) {
  FileTable files;
  FieldReader reader(files);
  EXPECT_EQ(files.openFile(path.c_str(), Input, 0, 0, 1, 0), Ok);
  if (way == Way::FieldsThroughReadBytes) files.slotForNumber(1)->hooks = &slowDiskHooks;
  std::vector<Record> records;
  FieldText inPlace[2];
  while (files.atEndOfFile(1) == 0 && records.size() < 100000) {
    reader.beginFileInput(1);
    Record r;
    if (way == Way::Records) {
      reader.readRecord(r.number, r.shortText, r.longText);
    } else if (way == Way::RecordsInPlace) {
      reader.readRecord(r.number, inPlace[0], inPlace[1]);
      r.shortText = inPlace[0].view();
      r.longText = inPlace[1].view();
    } else {
      reader.readIntegerField(r.number);
      reader.readTextField(r.shortText);
      reader.readTextField(r.longText);
    }
    records.push_back(std::move(r));
  }
  return records;
}

void expectEveryWayAlike(const std::string& path, const std::string& what) {
  const std::vector<Record> records = readEveryWay(path, Way::Records);
  EXPECT_EQ(records, readEveryWay(path, Way::RecordsInPlace)) << what;
  EXPECT_EQ(records, readEveryWay(path, Way::FieldsFromBuffer)) << what;
  EXPECT_EQ(records, readEveryWay(path, Way::FieldsThroughReadBytes)) << what;
}

// Pieces of recipe files: mostly usual fields, and every kind of field and
// separator that the record path must leave to the byte-by-byte one.
using namespace std::string_literals;
const std::string kNumberPieces[] = {
    "855",   "4",    "-7",          "+12",          " 42 ",          "\t3",    "&H1F", "&HE5",
    "2.5",   "1d3",  "E5",          "12abc",        "\"12\"34",      "4 2",    "",     "  ",
    "\"7\"", "1\"2", "99999999999", "-99999999999", "\357\273\2777", "1\0002"s};
const std::string kTextPieces[] = {"EL",         "g",
                                   "Pk",         "Haselnuesse gemahlen",
                                   "g ",         " Mehl",
                                   "a b  ",      "\t",
                                   "",           "\"Mehl, fein\"",
                                   "\"ab\"cd",   "a\"b\"",
                                   "\"a\"\"b\"", "\"open",
                                   "2d3",        "&H1",
                                   "\xe4\xf6",   "\x01\x7f",
                                   ".",          "E",
                                   "ab\0cd"s};
const std::string kSeparators[] = {",",    ",",  ",",  " ,",     "\t, ",
                                   "\r\n", "\n", "\r", "  \r\n", "\r\r"};
const std::string kLineEnds[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "", "\r\n\r\n", ",", " \n"};

class RecipeBytes {
 public:
  explicit RecipeBytes(uint32_t seed) : seed_(seed) {}

  // One record's bytes, now and then with a field at or over its limit, or a
  // field missing.
  std::string record() {
    std::string bytes = pick(40) == 0 ? std::string(66 + pick(4), '9') : pickFrom(kNumberPieces);
    for (int field = 0; field < 2; ++field) {
      if (pick(8) == 0) continue;
      bytes += pickFrom(kSeparators);
      bytes += pick(60) == 0 ? std::string(4094 + pick(5), 'a') : pickFrom(kTextPieces);
    }
    return bytes + pickFrom(kLineEnds);
  }

 private:
  uint32_t pick(uint32_t count) {
    seed_ = seed_ * 1103515245u + 12345u;
    return (seed_ >> 8) % count;
  }
  template <size_t N>
  const std::string& pickFrom(const std::string (&pieces)[N]) {
    return pieces[pick(N)];
  }

  uint32_t seed_;
};

// Random recipe files of two to five stream buffers, so that fields, line
// ends and blanks fall on the refills at every kind of place.
TEST(FieldReaderWays, RecordsReadAsFieldByFieldOnRandomFiles) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (uint32_t round = 0; round < 40; ++round) {
    RecipeBytes pieces(round);
    std::string bytes;
    const size_t size = 2 * FileStream::kBufferSize + round * 700;
    while (bytes.size() < size) bytes += pieces.record();
    expectEveryWayAlike(dir.write("random.txt", bytes), "round " + std::to_string(round));
  }
}

// The worked example and the edge cases, started at each place just before a
// refill, so that each of their bytes is once the buffer's last.
TEST(FieldReaderWays, RecordsReadAsFieldByFieldAcrossARefill) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string records =
      "1,EL,Zucker\r\n  2 ,  g , \"Mehl, fein\"  \r\n2.5,,Eier\r\n&H10,kg,Salz\r\n4,Pr\r\n"
      "4 2,x\n1,\"ab\"cd,e\n\r\n7,a\rb\r\r9,\t,  \r\n";
  const std::string filler = "1,a,\r\n";  // lengthened to place the records
  for (size_t before = 1; before <= records.size() + 2; ++before) {
    std::string bytes = filler;
    bytes.insert(4, FileStream::kBufferSize - before - filler.size(), 'x');
    bytes += records;
    expectEveryWayAlike(dir.write("refill.txt", bytes),
                        "starting " + std::to_string(before) + " bytes before the refill");
  }
}

}  // namespace
}  // namespace kp
