// The template printer with arbitrary templates and items, printing into a
// recorder: every operation answers Ok and leaves the error cell alone, the
// statement's state stays inside its template copy, a LastItem item releases
// the template, the printer prints what the rules read straight print
// (TemplateOracle), templates whose output is known print exactly that, and
// statements whose pieces go straight into the buffer the console lends
// print what their pieces print.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "console/console.h"
#include "console/template_printer.h"
#include "console/text_printer.h"
#include "fuzz_common.h"
#include "input/file_table.h"
#include "support/memory_screen.h"
#include "support/template_oracle.h"

namespace {

using kp::TemplatePrinter;

class RecordingPrinter : public kp::TextPrinter {
 public:
  void printText(kp::FileNumber number, const char* bytes, size_t length, int endFlags) override {
    KP_CHECK(number == expectedNumber);
    KP_CHECK(length == 0 || bytes != nullptr);
    output.append(bytes, length);
    lineEnd(endFlags);
  }
  void printLineEnd(kp::FileNumber number, int endFlags) override {
    KP_CHECK(number == expectedNumber);
    lineEnd(endFlags);
  }
  std::string output;
  kp::FileNumber expectedNumber = 0;

 private:
  void lineEnd(int endFlags) {
    if (endFlags & (kp::EndLine | kp::EndLineAlso)) {
      output += "\r\n";
    } else if (endFlags & kp::EndZone) {
      output += "<zone>";
    }
  }
};

void checkState(const TemplatePrinter& printer, const kp::FileTable& files) {
  const kp::TemplateState state = printer.state();
  KP_CHECK(files.lastError() == kp::Ok);
  KP_CHECK(state.remaining >= 0);
  if (state.active) {
    KP_CHECK(state.readPosition <= state.templateCopy.size());
    KP_CHECK(static_cast<size_t>(state.remaining) <=
             state.templateCopy.size() - state.readPosition);
  } else {
    KP_CHECK(state.remaining == 0);
  }
}

// Any template, any items, any flags, in any order.
void arbitraryStatements(FuzzedDataProvider& input) {
  kp::FileTable files;
  RecordingPrinter out;
  TemplatePrinter printer(out, &files);
  kp::test::TemplateOracle oracle("<zone>");
  while (input.remaining_bytes() > 0) {
    const uint32_t flags =
        input.ConsumeBool() ? input.ConsumeIntegral<uint32_t>()
                            : input.PickValueInArray<uint32_t>({0u, kp::ItemLineEnd, kp::ItemZone,
                                                                kp::LastItem | kp::ItemLineEnd});
    out.expectedNumber = input.ConsumeIntegralInRange<kp::FileNumber>(0, 3);
    const kp::FileNumber number = out.expectedNumber;
    kp::ErrorCode code = kp::Ok;
    const int operation = input.ConsumeIntegralInRange(0, 8);
    switch (operation) {
      case 0: {
        const std::string text = input.ConsumeRandomLengthString(3000);
        code = printer.beginTemplate(text.data(), text.size());
        oracle.begin(text.data(), text.size());
        KP_CHECK_EQ(printer.state().templateCopy, text);
        break;
      }
      case 1:
        code = printer.endTemplate(number);
        oracle.end();
        KP_CHECK(!printer.state().active || printer.state().remaining == 0 ||
                 printer.state().readPosition + printer.state().remaining ==
                     printer.state().templateCopy.size());
        break;
      case 2: {
        const int64_t value = input.ConsumeIntegral<int64_t>();
        code = printer.printTemplateInteger(number, value, flags);
        oracle.integer(value, flags);
        break;
      }
      case 3: {
        const uint64_t value = input.ConsumeIntegral<uint64_t>();
        code = printer.printTemplateUnsigned(number, value, flags);
        oracle.number(kp::decimalFromUnsigned(value), flags);
        break;
      }
      case 4: {
        const double value = input.ConsumeFloatingPoint<double>();
        code = printer.printTemplateDouble(number, value, flags);
        oracle.number(kp::decimalFromDouble(value), flags);
        break;
      }
      case 5: {
        const float value = input.ConsumeFloatingPoint<float>();
        code = printer.printTemplateSingle(number, value, flags);
        oracle.number(kp::decimalFromSingle(value), flags);
        break;
      }
      case 6: {
        const std::string text = input.ConsumeRandomLengthString(5000);
        code = printer.printTemplateText(number, text.data(), text.size(), flags);
        oracle.text(text.data(), text.size(), flags);
        break;
      }
      case 7: {
        std::u16string wide;
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, 300);
        for (size_t i = 0; i < length; ++i) {
          const char16_t c = input.ConsumeIntegral<char16_t>();
          if (c != 0) wide += c;
        }
        code = printer.printTemplateWideText(number, wide.c_str(), flags);
        oracle.wideText(wide.c_str(), flags);
        break;
      }
      case 8: {
        const std::string text = input.ConsumeRandomLengthString(100);
        // Up to the first NUL.
        code = printer.beginTemplate(text.c_str());
        oracle.begin(text.c_str(), std::strlen(text.c_str()));
        break;
      }
    }
    KP_CHECK(code == kp::Ok);
    checkState(printer, files);
    const kp::TemplateState state = printer.state();
    KP_CHECK(state.active == oracle.active() && state.readPosition == oracle.readPosition() &&
             state.remaining == oracle.remaining());
    KP_CHECK(out.output.size() == oracle.output().size());
    const bool item = operation >= 2 && operation <= 7;
    if (item && (flags & kp::LastItem) != 0) KP_CHECK(!printer.state().active);
  }
  KP_CHECK_EQ(out.output, oracle.output());
}

std::string decimal(uint64_t magnitude) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  return digits;
}

// Layouts whose output follows directly from the rules: literal-only
// templates, integers in '#' runs, texts in backslash fields.
void knownLayouts(FuzzedDataProvider& input) {
  kp::FileTable files;
  RecordingPrinter out;
  TemplatePrinter printer(out, &files);
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0: {
      // Letters and blanks never start a field. Up to one 2048-byte piece:
      // what lies beyond is the printer's own choice.
      std::string literal = input.ConsumeRandomLengthString(2048);
      for (char& c : literal) {
        const auto u = static_cast<unsigned char>(c);
        c = (u % 3 == 0) ? ' ' : static_cast<char>('a' + u % 26);
      }
      printer.beginTemplate(literal.data(), literal.size());
      printer.endTemplate(0);
      KP_CHECK_EQ(out.output, literal);
      KP_CHECK(!printer.state().active || printer.state().remaining == 0);
      break;
    }
    case 1: {
      const int width = input.ConsumeIntegralInRange(1, 24);
      const int64_t value = input.ConsumeIntegral<int64_t>();
      const bool negative = value < 0;
      const uint64_t magnitude =
          negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
      const std::string digits = (negative ? "-" : "") + decimal(magnitude);
      const std::string field(static_cast<size_t>(width), '#');
      const std::string form = "[" + field + "]";
      printer.beginTemplate(form.data(), form.size());
      printer.printTemplateInteger(0, value, kp::LastItem);
      const int k = static_cast<int>(digits.size());
      if (k <= width) {
        KP_CHECK_EQ(out.output, "[" + std::string(width - k, ' ') + digits + "]");
      } else if (k <= width + 3) {
        KP_CHECK_EQ(out.output, "[%" + digits + "]");
      } else {
        KP_CHECK(out.output.size() > 3 && out.output.compare(0, 2, "[%") == 0 &&
                 out.output.find("E+") != std::string::npos && out.output.back() == ']');
      }
      break;
    }
    case 2: {
      const size_t spaces = input.ConsumeIntegralInRange<size_t>(0, 2046);
      const std::string text = input.ConsumeRandomLengthString(5000);
      const std::string form = "<\\" + std::string(spaces, ' ') + "\\>";
      printer.beginTemplate(form.data(), form.size());
      printer.printTemplateText(0, text.data(), text.size(), kp::LastItem | kp::ItemLineEnd);
      const size_t width = spaces + 2;
      std::string shown = text.size() >= width ? text.substr(0, width)
                                               : text + std::string(width - text.size(), ' ');
      KP_CHECK_EQ(out.output, "<" + shown + ">\r\n");
      break;
    }
  }
  KP_CHECK(files.lastError() == kp::Ok);
}

// Statements printed to the console on redirected output, whose pieces go
// straight into the small buffer the device lends, print what the same
// statements print piece by piece.
void lentStatements(FuzzedDataProvider& input) {
  kp::FileTable files;
  kp::test::MemoryScreen screen;
  screen.setRedirected(true);
  screen.lendOutputBuffer(input.ConsumeIntegralInRange<size_t>(1, 300));
  kp::Console console(files, screen);
  TemplatePrinter lending(console, &files);
  RecordingPrinter out;
  TemplatePrinter recorded(out, nullptr);
  auto both = [&](auto operation) {
    operation(lending);
    operation(recorded);
  };
  while (input.remaining_bytes() > 0) {
    // Zones pad from the console's column, which the recorder does not keep.
    const uint32_t flags = input.ConsumeIntegral<uint32_t>() & ~uint32_t{kp::ItemZone};
    switch (input.ConsumeIntegralInRange(0, 4)) {
      case 0: {
        const std::string text = input.ConsumeRandomLengthString(60);
        both([&](TemplatePrinter& p) { p.beginTemplate(text.data(), text.size()); });
        break;
      }
      case 1:
        both([](TemplatePrinter& p) { p.endTemplate(0); });
        break;
      case 2: {
        const int64_t value = input.ConsumeIntegral<int64_t>();
        both([&](TemplatePrinter& p) { p.printTemplateInteger(0, value, flags); });
        break;
      }
      case 3: {
        const double value = input.ConsumeFloatingPoint<double>();
        both([&](TemplatePrinter& p) { p.printTemplateDouble(0, value, flags); });
        break;
      }
      default: {
        const std::string text = input.ConsumeRandomLengthString(80);
        both([&](TemplatePrinter& p) { p.printTemplateText(0, text.data(), text.size(), flags); });
        break;
      }
    }
    KP_CHECK(files.lastError() == kp::Ok);
  }
  console.flush();
  KP_CHECK_EQ(screen.rawOutput(), out.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
      knownLayouts(input);
      break;
    case 1:
      arbitraryStatements(input);
      break;
    default:
      lentStatements(input);
      break;
  }
  return 0;
}
