// The whole comparison over two arbitrary recipe files against the in-memory
// screen, with a key waiting so that the run ends. Redirected, the output is
// the heading, one whole row for each record pair the field reader finds,
// the closing note that fits how the files ended, and the prompt; output
// that fails part-way leaves a prefix of that and the run still ends. On a
// screen, the cursor stays in the buffer and the prompt stands on the row
// above it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "driver/comparison.h"
#include "driver/program.h"
#include "fuzz_common.h"
#include "support/memory_screen.h"
#include "support/scripted_key_source.h"

namespace {

const std::string kHeading =
    "\r\n --> KOCHBUCHPRUEFER <--\r\n\r\n"
    "  Z#   Rezept 1                            Rezept 2\r\n"
    " -----------------------------------------------------------------------------\r\n";
const std::string kUnequalNote =
    "\r\n\r\n Fehler! Die Dateien sind nicht gleich lang!\r\n"
    " Kann nur bis zum Ende der kuerzeren lesen.\r\n";
const std::string kEndReachedNote =
    "\r\n\r\n Ende der Rezeptdateien erreicht.\r\n"
    " Die Abweichungen im 2. Rezept wurden, sofern vorhanden, rot hervorgehoben.\r\n";
const std::string kPromptText = " -> Beliebige Taste zum Beenden druecken.";
const std::string kPrompt = "\r\n\r\n" + kPromptText + "\r\n";

// Records of one file as the field reader delivers them; a file that is not
// there counts as empty.
size_t countRecords(const std::string& path, bool present) {
  if (!present) return 0;
  kp::FileTable files;
  kp::FieldReader reader(files);
  KP_CHECK(files.openFile(path.c_str(), kp::Input, 0, 0, 1, 0) == kp::Ok);
  int32_t number = 0;
  std::string text;
  size_t records = 0;
  while (files.atEndOfFile(1) == 0) {
    reader.beginFileInput(1);
    reader.readIntegerField(number);
    reader.readTextField(text);
    reader.readTextField(text);
    ++records;
  }
  return records;
}

std::string runOnce(const std::string& dir, kp::test::MemoryScreen& screen) {
  kp::test::ScriptedKeySource keys;
  keys.addKeyPress(0, 'A');
  keys.onSleep([](int nowMs) { KP_CHECK(nowMs < 60 * 60 * 1000); });  // the wait must end
  kp::Program program(screen, keys);
  kp::runComparisonSteps(program, dir, '/');
  program.console.flush();
  return screen.rawOutput();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kp::fuzz::ScratchDir scratch;
  FuzzedDataProvider input(data, size);
  const uint8_t shape = input.ConsumeIntegral<uint8_t>();
  const bool present1 = (shape & 1) == 0 || (shape & 6) != 0;  // mostly present
  const bool present2 = (shape & 8) == 0 || (shape & 48) != 0;
  const bool redirected = (shape & 64) == 0;
  const std::string first = input.ConsumeRandomLengthString(size);
  const std::string second = input.ConsumeRemainingBytesAsString();
  const std::string path1 = scratch.path() + "/Rezept1.txt";
  const std::string path2 = scratch.path() + "/Rezept2.txt";
  if (present1) {
    scratch.write("Rezept1.txt", reinterpret_cast<const uint8_t*>(first.data()), first.size());
  } else {
    scratch.remove("Rezept1.txt");
  }
  if (present2) {
    scratch.write("Rezept2.txt", reinterpret_cast<const uint8_t*>(second.data()), second.size());
  } else {
    scratch.remove("Rezept2.txt");
  }
  const size_t records1 = countRecords(path1, present1);
  const size_t records2 = countRecords(path2, present2);
  const size_t rows = records1 < records2 ? records1 : records2;

  if (redirected) {
    kp::test::MemoryScreen screen;
    screen.setRedirected(true);
    const std::string output = runOnce(scratch.path(), screen);
    const std::string tail = (records1 == records2 ? kEndReachedNote : kUnequalNote) + kPrompt;
    KP_CHECK(output.size() >= kHeading.size() + tail.size());
    KP_CHECK(output.compare(0, kHeading.size(), kHeading) == 0);
    KP_CHECK(output.compare(output.size() - tail.size(), tail.size(), tail) == 0);
    // Between them only whole rows: at least 77 columns, one line end each.
    // Fields never hold CR or LF, so every line end closes a row.
    const std::string table =
        output.substr(kHeading.size(), output.size() - kHeading.size() - tail.size());
    size_t printed = 0;
    for (size_t at = 0; at < table.size();) {
      const size_t end = table.find("\r\n", at);
      KP_CHECK(end != std::string::npos);
      KP_CHECK(end - at >= 77);
      KP_CHECK(printed != 0 || table.compare(at, 5, "   1 ") == 0);
      ++printed;
      at = end + 2;
    }
    KP_CHECK(printed == rows);

    // The same run with output that fails part-way still ends, and what got
    // out is the start of the whole.
    kp::test::MemoryScreen failing;
    failing.setRedirected(true);
    failing.failRawAfter(shape * output.size() / 256);
    const std::string cut = runOnce(scratch.path(), failing);
    KP_CHECK(cut.size() <= output.size() && output.compare(0, cut.size(), cut) == 0);
  } else {
    const int width = 42 + (shape & 63);
    const int height = 2 + (first.size() + second.size()) % 40;
    kp::test::MemoryScreen screen(width, height, 0);
    runOnce(scratch.path(), screen);
    const kp::CellPosition cursor = screen.cursor();
    KP_CHECK(cursor.x == 0 && cursor.y >= 1 && cursor.y < screen.height());
    KP_CHECK_EQ(screen.trimmedRow(cursor.y - 1), kPromptText);
  }
  return 0;
}
