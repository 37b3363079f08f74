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

  Record record() {
    Record r;
    EXPECT_EQ(reader.readIntegerField(r.number), Ok);
    EXPECT_EQ(reader.readTextField(r.shortText), Ok);
    EXPECT_EQ(reader.readTextField(r.longText), Ok);
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
  std::string bytes;
  for (const Case& c : cases) bytes += c.field + "\n";
  open(bytes);
  for (const Case& c : cases) EXPECT_EQ(integerField(), c.value) << '"' << c.field << '"';
  EXPECT_EQ(files.atEndOfFile(1), -1);
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

// Records read straight from the stream buffer (where whole simple fields
// are copied at once) must equal those read byte by byte through readBytes,
// for any bytes, also where fields cross the buffer's refills.
TEST(FieldReaderRoads, BufferAndByteRoadsReadTheSameRecords) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const char alphabet[] = "0123456789,,,\r\n\n  \t\"\"&H.EedDx-+ab";
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int round = 0; round < 60; ++round) {
    std::string bytes;
    const size_t size = round < 50 ? next() % 300 : 8192 * 2 + next() % 5000;
    for (size_t i = 0; i < size; ++i) {
      bytes += next() % 97 == 0 ? '\0' : alphabet[next() % (sizeof alphabet - 1)];
    }
    const std::string path = dir.write("roads.txt", bytes);
    std::vector<std::string> fields[2];
    for (int road = 0; road < 2; ++road) {
      FileTable files;
      FieldReader reader(files);
      ASSERT_EQ(files.openFile(path.c_str(), Input, 0, 0, 1, 0), Ok);
      if (road == 1) files.slotForNumber(1)->hooks = &slowDiskHooks;
      for (int record = 0; files.atEndOfFile(1) == 0 && record < 5000; ++record) {
        reader.beginFileInput(1);
        int32_t number = 0;
        std::string text;
        reader.readIntegerField(number);
        fields[road].push_back(std::to_string(number));
        reader.readTextField(text);
        fields[road].push_back(text);
        reader.readTextField(text);
        fields[road].push_back(text);
      }
    }
    ASSERT_EQ(fields[0], fields[1]) << "round " << round;
  }
}

}  // namespace
}  // namespace kp
