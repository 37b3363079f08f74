// Template statements against the rules read straight (TemplateOracle):
// whatever the templates and items, the printer prints what the rules
// print, into a recorder piece by piece and into the console's buffer on
// redirected output however often it fills, and leaves the statement and
// the console's column where the rules leave them.
#include "support/template_oracle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/template_printer.h"
#include "support/memory_screen.h"
#include "support/recording_printer.h"

namespace kp {
namespace {

using test::MemoryScreen;
using test::RecordingPrinter;
using test::TemplateOracle;

// A console on redirected output with its template printer; `lent` bytes of
// buffer lent to the console, none for 0.
struct Redirected {
  explicit Redirected(size_t lent) {
    screen.setRedirected(true);
    if (lent != 0) screen.lendOutputBuffer(lent);
  }
  std::string output() {
    console.flush();
    return screen.rawOutput();
  }

  FileTable files;
  MemoryScreen screen;
  Console console{files, screen};
  TemplatePrinter templates{console, &files};
};

// The same operation on every printer.
struct Printers {
  explicit Printers(size_t lent) : lending(lent), plain(0) {}
  template <typename Operation>
  void all(Operation operation) {
    operation(recorded);
    operation(lending.templates);
    operation(plain.templates);
  }

  RecordingPrinter recording;
  TemplatePrinter recorded{recording, nullptr};
  Redirected lending;
  Redirected plain;
};

const char* const kRowTemplates[] = {"  ##   #### \\\\ \\                        \\  ", "#### ",
                                     "\\\\ ", "\\                        \\"};

TEST(TemplateStatements, PrintWhatTheRulesPrint) {
  const std::string alphabet = "####   \\\\\\a,.^+-$*!&__x\r\n";
  std::mt19937_64 random(7);
  auto pick = [&random](size_t count) { return static_cast<size_t>(random() % count); };
  const uint32_t flagChoices[] = {0, 0, 0, ItemLineEnd, LastItem, LastItem | ItemLineEnd};
  // Templates begun from one buffer with other lengths: the same bytes at
  // the same place are another template.
  const std::string shared = "#|## \\ \\|&x##";

  for (int script = 0; script < 3000; ++script) {
    // Small buffers, so that a statement often meets a full one.
    Printers printers(1 + pick(script % 3 == 0 ? 4000 : 120));
    TemplateOracle oracle("");
    std::vector<std::string> texts;
    for (const char* row : kRowTemplates) texts.emplace_back(row);
    for (int i = 0; i < 2; ++i) {
      std::string text(pick(script % 10 == 0 ? 80 : 24), ' ');
      for (char& c : text) c = alphabet[pick(alphabet.size())];
      // Literal runs and text fields longer than a piece of output.
      if (script % 97 == 0) text.insert(pick(text.size() + 1), std::string(17000, 'L'));
      if (script % 89 == 0) text += "\\" + std::string(16500, ' ') + "\\";
      texts.push_back(text);
    }
    std::string trace;
    for (int statement = 0, statements = 1 + static_cast<int>(pick(12)); statement < statements;
         ++statement) {
      const char* text = nullptr;
      size_t length = 0;
      if (pick(5) == 0) {
        text = shared.data();
        length = pick(shared.size() + 1);
      } else {
        const std::string& chosen = texts[pick(texts.size())];
        text = chosen.data();
        length = chosen.size();
      }
      printers.all([&](TemplatePrinter& p) { p.beginTemplate(text, length); });
      oracle.begin(text, length);
      trace += "begin [" + std::string(text, length) + "]";
      for (size_t item = 0, items = pick(7); item < items; ++item) {
        const uint32_t flags = flagChoices[pick(std::size(flagChoices))];
        auto value = static_cast<int64_t>(random() >> pick(64));
        if (pick(2) == 0) value = -value;
        std::string words(pick(pick(30) == 0 ? 17000 : 40), 'w');
        for (char& c : words) c = static_cast<char>('a' + pick(26));
        if (pick(8) == 0 && !words.empty()) words[pick(words.size())] = '\0';
        switch (pick(8)) {
          case 0:
          case 1:
          case 2:
            printers.all([&](TemplatePrinter& p) { p.printTemplateInteger(0, value, flags); });
            oracle.integer(value, flags);
            trace += " " + std::to_string(value);
            break;
          case 3:
            printers.all([&](TemplatePrinter& p) {
              p.printTemplateUnsigned(0, static_cast<uint64_t>(value), flags);
            });
            oracle.number(decimalFromUnsigned(static_cast<uint64_t>(value)), flags);
            trace += " u" + std::to_string(static_cast<uint64_t>(value));
            break;
          case 4:
            printers.all(
                [&](TemplatePrinter& p) { p.printTemplateDouble(0, value / 64.0, flags); });
            oracle.number(decimalFromDouble(value / 64.0), flags);
            trace += " " + std::to_string(value / 64.0);
            break;
          case 5:
            printers.all(
                [&](TemplatePrinter& p) { p.printTemplateWideText(0, u"w\u00e4\u20ac", flags); });
            oracle.wideText(u"w\u00e4\u20ac", flags);
            trace += " wide";
            break;
          default:
            printers.all([&](TemplatePrinter& p) {
              p.printTemplateText(0, words.data(), words.size(), flags);
            });
            oracle.text(words.data(), words.size(), flags);
            trace += " '" + words.substr(0, 50) + "'";
        }
        const TemplateState state = printers.recorded.state();
        ASSERT_EQ(state.active, oracle.active()) << trace;
        ASSERT_EQ(state.readPosition, oracle.readPosition()) << trace;
        ASSERT_EQ(state.remaining, oracle.remaining()) << trace;
        ASSERT_EQ(printers.lending.files.lastError(), Ok);
        ASSERT_EQ(printers.lending.console.column(), printers.plain.console.column()) << trace;
      }
      if (pick(4) != 0) {
        printers.all([](TemplatePrinter& p) { p.endTemplate(0); });
        oracle.end();
        trace += " end";
      }
      trace += "; ";
    }
    ASSERT_EQ(printers.recording.output(), oracle.output()) << trace;
    ASSERT_EQ(printers.lending.output(), oracle.output()) << trace;
    ASSERT_EQ(printers.plain.output(), oracle.output()) << trace;
  }
}

// Zone padding reads the column: after pieces placed in the lent buffer it
// must count them, as it counts pieces printed one by one.
TEST(TemplateStatements, ZonesPadFromTheColumnThePiecesLeave) {
  for (size_t lent : {size_t{0}, size_t{7}, size_t{64}, size_t{4096}}) {
    Redirected rig(lent);
    rig.templates.beginTemplate("ab ## \\  \\|");
    rig.templates.printTemplateInteger(0, 42, 0);
    rig.templates.printTemplateText(0, "xy", 2, ItemZone);  // a text item ignores the zone
    rig.templates.endTemplate(0);
    rig.templates.beginTemplate("###");
    rig.templates.printTemplateInteger(0, 7, ItemZone);
    rig.templates.printTemplateInteger(0, 8, ItemLineEnd | LastItem);
    // 14 columns before the zone, which pads to column 29 counted from 1.
    EXPECT_EQ(rig.output(), "ab 42 xy  |  7" + std::string(14, ' ') + "  8\r\n") << lent;
    EXPECT_EQ(rig.console.column(), 0) << lent;
  }
}

}  // namespace
}  // namespace kp
