// Microbenchmarks of the per-byte and per-row paths: the field reader over a
// file in the page cache, and one table row through the template printer and
// the console writer to raw (redirected) output.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/console_device.h"
#include "console/template_printer.h"
#include "console/text_printer.h"
#include "input/field_reader.h"
#include "input/file_table.h"

namespace {

constexpr size_t kFileBytes = 4 << 20;

// A temporary file of `line` repeated to about kFileBytes; removed at exit.
class TempFile {
 public:
  explicit TempFile(const std::string& line) {
    char pattern[] = "/tmp/kp-bench-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    path_ = pattern;
    std::string block;
    while (block.size() < (64 << 10)) block += line;
    while (size_ < kFileBytes) {
      if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
        std::abort();
      }
      size_ += block.size();
    }
    close(fd);
  }
  ~TempFile() { unlink(path_.c_str()); }
  const char* path() const { return path_.c_str(); }
  size_t size() const { return size_; }

 private:
  std::string path_;
  size_t size_ = 0;
};

// Single fields go byte by byte; whole records, as the comparison reads
// them, take the usual fields straight from the stream buffer.
enum class Fields { Integers, Texts, Records };

template <Fields kind>
void BM_FieldReader(benchmark::State& state) {
  static const TempFile file(kind == Fields::Integers ? "1234,-56,789\r\n"
                             : kind == Fields::Texts
                                 ? "Weizenmehl Type 405,EL,Zitronenschale abgerieben\r\n"
                                 : "250,kg,Weizenmehl Type 405\r\n");
  kp::FileTable files;
  kp::FieldReader reader(files);
  int32_t number = 0;
  std::string text;
  std::string text2;
  text.reserve(64);
  text2.reserve(64);
  int64_t fields = 0;
  for (auto _ : state) {
    files.openFile(file.path(), kp::Input, 0, 0, 1, 0);
    while (files.atEndOfFile(1) == 0) {
      reader.beginFileInput(1);
      if (kind == Fields::Integers) {
        for (int i = 0; i < 3; ++i) reader.readIntegerField(number);
      } else if (kind == Fields::Texts) {
        for (int i = 0; i < 3; ++i) reader.readTextField(text);
      } else {
        reader.readRecord(number, text, text2);
      }
      fields += 3;
      benchmark::DoNotOptimize(number);
      benchmark::DoNotOptimize(text.data());
    }
    files.closeFile(1);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.size()));
  state.counters["fields/s"] =
      benchmark::Counter(static_cast<double>(fields), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FieldReader<Fields::Integers>)
    ->Name("FieldReader/IntegerFields")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FieldReader<Fields::Texts>)
    ->Name("FieldReader/TextFields")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FieldReader<Fields::Records>)
    ->Name("FieldReader/RecipeRecords")
    ->Unit(benchmark::kMillisecond);

// Standard output redirected: the writer takes the raw path, which lands here.
class DiscardingDevice : public kp::ConsoleDevice {
 public:
  void startUp() override {}
  bool writeRaw(const char*, size_t count, size_t* written) override {
    bytes += count;
    *written = count;
    return true;
  }
  bool getScreenBufferInfo(kp::ScreenBufferInfo*) override { return false; }
  bool setTextAttribute(uint16_t) override { return true; }
  bool writeCells(kp::CellPosition, const char*, int, uint16_t) override { return true; }
  bool scrollRect(kp::CellRect, kp::CellPosition, char, uint16_t) override { return true; }
  bool fillCells(kp::CellPosition, int, char, uint16_t) override { return true; }
  bool setCursorPosition(kp::CellPosition) override { return true; }
  bool setWindowInfo(kp::CellRect) override { return true; }
  void beep(int, int) override {}
  size_t bytes = 0;
};

// Only counts what the template printer hands on, to separate its own cost.
class CountingPrinter : public kp::TextPrinter {
 public:
  void printText(kp::FileNumber, const char*, size_t length, int endFlags) override {
    bytes += length + (endFlags & (kp::EndLine | kp::EndLineAlso) ? 2 : 0);
  }
  void printLineEnd(kp::FileNumber, int) override { bytes += 2; }
  size_t bytes = 0;
};

const std::string kShort1 = "kg";
const std::string kLong1 = "Weizenmehl Type 405";
const std::string kShort2 = "g";
const std::string kLong2 = "Weizenmehl Type 550";

// The table row's four statements, as the comparison prints them.
template <typename SetColour>
void printRow(kp::TemplatePrinter& out, int64_t row, SetColour setColour) {
  out.beginTemplate("  ##   #### \\\\ \\                        \\  ");
  out.printTemplateInteger(0, row, 0);
  out.printTemplateInteger(0, 250, 0);
  out.printTemplateText(0, kShort1.data(), kShort1.size(), 0);
  out.printTemplateText(0, kLong1.data(), kLong1.size(), 0);
  out.endTemplate(0);
  setColour(7);
  out.beginTemplate("#### ");
  out.printTemplateInteger(0, 250, 0);
  out.endTemplate(0);
  setColour(12);
  out.beginTemplate("\\\\ ");
  out.printTemplateText(0, kShort2.data(), kShort2.size(), 0);
  out.endTemplate(0);
  setColour(12);
  out.beginTemplate("\\                        \\");
  out.printTemplateText(0, kLong2.data(), kLong2.size(), kp::LastItem | kp::ItemLineEnd);
  out.endTemplate(0);
  setColour(7);
}

void BM_RowThroughConsoleToRawOutput(benchmark::State& state) {
  kp::FileTable files;
  DiscardingDevice device;
  kp::Console console(files, device);
  kp::TemplatePrinter templates(console, &files);
  auto setColour = [&console](int colour) { console.setColour(colour, 0, kp::kBackgroundOmitted); };
  int64_t row = 1;
  for (auto _ : state) {
    printRow(templates, row, setColour);
    row = row == 99 ? 1 : row + 1;  // keeps the row 77 bytes wide
  }
  console.flush();
  state.SetBytesProcessed(static_cast<int64_t>(device.bytes));
}
BENCHMARK(BM_RowThroughConsoleToRawOutput)->Name("TableRow/TemplatesConsoleRaw");

void BM_RowThroughTemplatesOnly(benchmark::State& state) {
  CountingPrinter printer;
  kp::TemplatePrinter templates(printer, nullptr);
  int64_t row = 1;
  for (auto _ : state) {
    printRow(templates, row, [](int) {});
    row = row == 99 ? 1 : row + 1;
  }
  state.SetBytesProcessed(static_cast<int64_t>(printer.bytes));
}
BENCHMARK(BM_RowThroughTemplatesOnly)->Name("TableRow/TemplatesOnly");

}  // namespace

BENCHMARK_MAIN();
