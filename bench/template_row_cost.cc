// Instruction cost of one table row in the template printer alone: the four
// statements of a row, run for many rows into a printer that only counts.
// Meant for callgrind, whose counts repeat from run to run:
//   g++ -std=c++20 -O2 -g -Isrc bench/template_row_cost.cc src/console/template_printer.cc
//       src/console/template_plan.cc src/console/template_number.cc -o /tmp/row_cost
//   valgrind --tool=callgrind --toggle-collect='*printRows*' /tmp/row_cost 100000 [first row]
//   [lend]
// From row 100,000 on the row number takes the exponent form ("% 1E+5").
// With "lend" the printer lends a buffer, as the console does on redirected
// output, and the statements place their pieces there; without, every item
// is a printText call. Both count the same bytes.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/template_printer.h"

namespace {

class CountingPrinter : public kp::TextPrinter {
 public:
  // Lends a buffer for number 0, which is emptied into the count when full.
  void lend() {
    lent_ = kp::LentBuffer{buffer_, &used_, sizeof buffer_ - kp::kCopySlack};
    lendBuffer(0, &lent_);
  }
  void printText(kp::FileNumber, const char*, size_t length, int) override {
    takeLent();
    bytes += length;
  }
  void printLineEnd(kp::FileNumber, int) override {
    takeLent();
    bytes += 2;
  }
  size_t total() {
    takeLent();
    return bytes;
  }

 private:
  void takeLent() {
    bytes += used_.load();
    used_.store(0);
  }
  size_t bytes = 0;
  char buffer_[1 << 16];
  std::atomic<size_t> used_{0};
  kp::LentBuffer lent_;
};

struct Record {
  int32_t number;
  const char* shortText;
  const char* longText;
  size_t shortLength = std::strlen(shortText);
  size_t longLength = std::strlen(longText);
};

// Texts of 1 to 30 bytes and numbers of 1 to 4 digits, as recipes hold them.
const Record kRecords[] = {
    {250, "g", "Mehl"},
    {12, "EL", "Zucker"},
    {1, "TL", "Salz"},
    {500, "ml", "Milch"},
    {3, "St", "Eier"},
    {1000, "g", "Weizenmehl Type 405"},
    {-5, "EL", "Butter, weich"},
    {75, "g", "Zartbitterschokolade, gehackt"},
    {2, "Pr", "Muskatnuss, frisch gerieben"},
    {40, "g", "Hefe"},
    {7, "kg", "Kartoffeln, mehligkochend"},
    {125, "ml", "Sahne"},
};
constexpr size_t kRecordCount = sizeof kRecords / sizeof kRecords[0];

constexpr char kLeft[] = "  ##   #### \\\\ \\                        \\  ";
constexpr char kNumber[] = "#### ";
constexpr char kShort[] = "\\\\ ";
constexpr char kLong[] = "\\                        \\";

__attribute__((noinline)) void printRows(kp::TemplatePrinter& out, int64_t first, int64_t rows) {
  for (int64_t row = first; row < first + rows; ++row) {
    const Record& one = kRecords[row % kRecordCount];
    const Record& two = kRecords[(row * 7 + 3) % kRecordCount];
    out.beginTemplate(kLeft);
    out.printTemplateInteger(0, row, 0);
    out.printTemplateInteger(0, one.number, 0);
    out.printTemplateText(0, one.shortText, one.shortLength, 0);
    out.printTemplateText(0, one.longText, one.longLength, 0);
    out.endTemplate(0);
    out.beginTemplate(kNumber);
    out.printTemplateInteger(0, two.number, 0);
    out.endTemplate(0);
    out.beginTemplate(kShort);
    out.printTemplateText(0, two.shortText, two.shortLength, 0);
    out.endTemplate(0);
    out.beginTemplate(kLong);
    out.printTemplateText(0, two.longText, two.longLength, kp::LastItem | kp::ItemLineEnd);
    out.endTemplate(0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int64_t first = argc > 2 ? std::atoll(argv[2]) : 1;
  CountingPrinter printer;
  if (argc > 3 && std::strcmp(argv[3], "lend") == 0) printer.lend();
  kp::TemplatePrinter templates(printer, nullptr);
  printRows(templates, first, rows);
  std::printf("%lld rows, %zu bytes\n", static_cast<long long>(rows), printer.total());
  return 0;
}
