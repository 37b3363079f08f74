// Statements printed to redirected output: pieces that the template printer
// places straight in the buffer the console lends must print what the same
// statements print piece by piece through printText, and leave the console's
// column where those pieces leave it, however often the buffer fills.
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

// A console on redirected output with its template printer; `lent` bytes of
// buffer lent to the console, none for 0.
struct Redirected {
  explicit Redirected(size_t lent) {
    screen.setRedirected(true);
    if (lent != 0) screen.lendRawSpace(lent);
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
  explicit Printers(size_t lent) : laned(lent), plain(0) {}
  template <typename Operation>
  void all(Operation operation) {
    operation(recorded);
    operation(laned.templates);
    operation(plain.templates);
  }

  RecordingPrinter recording;
  TemplatePrinter recorded{recording, nullptr};
  Redirected laned;
  Redirected plain;
};

const char* const kRowTemplates[] = {"  ##   #### \\\\ \\                        \\  ", "#### ",
                                     "\\\\ ", "\\                        \\"};

TEST(TemplateLane, PlacesWhatPiecesPrint) {
  const std::string alphabet = "####   \\\\\\a,.^+-$*!&__x\r\n";
  std::mt19937_64 random(7);
  auto pick = [&random](size_t count) { return static_cast<size_t>(random() % count); };
  const uint32_t flagChoices[] = {0, 0, 0, ItemLineEnd, LastItem, LastItem | ItemLineEnd};

  for (int script = 0; script < 1500; ++script) {
    // Small buffers, so that a statement often meets a full one.
    Printers printers(1 + pick(script % 3 == 0 ? 4000 : 120));
    std::vector<std::string> texts;
    for (const char* row : kRowTemplates) texts.emplace_back(row);
    for (int i = 0; i < 2; ++i) {
      std::string text(pick(30), ' ');
      for (char& c : text) c = alphabet[pick(alphabet.size())];
      texts.push_back(text);
    }
    std::string trace;
    for (int statement = 0, statements = 1 + static_cast<int>(pick(12)); statement < statements;
         ++statement) {
      const std::string& text = texts[pick(texts.size())];
      printers.all([&](TemplatePrinter& p) { p.beginTemplate(text.data(), text.size()); });
      trace += "begin [" + text + "]";
      for (size_t item = 0, items = pick(6); item < items; ++item) {
        const uint32_t flags = flagChoices[pick(std::size(flagChoices))];
        auto value = static_cast<int64_t>(random() >> pick(64));
        if (pick(2) == 0) value = -value;
        std::string words(pick(40), 'w');
        for (char& c : words) c = static_cast<char>('a' + pick(26));
        if (pick(8) == 0 && !words.empty()) words[pick(words.size())] = '\0';
        if (pick(2) == 0) {
          printers.all([&](TemplatePrinter& p) { p.printTemplateInteger(0, value, flags); });
          trace += " " + std::to_string(value);
        } else {
          printers.all([&](TemplatePrinter& p) {
            p.printTemplateText(0, words.data(), words.size(), flags);
          });
          trace += " '" + words + "'";
        }
        ASSERT_EQ(printers.laned.files.lastError(), Ok);
        ASSERT_EQ(printers.laned.console.column(), printers.plain.console.column()) << trace;
      }
      if (pick(4) != 0) {
        printers.all([](TemplatePrinter& p) { p.endTemplate(0); });
        trace += " end";
      }
      trace += "; ";
    }
    const std::string laned = printers.laned.output();
    ASSERT_EQ(laned, printers.recording.output()) << trace;
    ASSERT_EQ(laned, printers.plain.output()) << trace;
  }
}

// A text with no zero byte and spaces after it prints in every field what
// the same text prints without the promise of its padding, whether its
// bytes go as they lie (fields up to the padding's width, in the lent
// buffer) or the general way.
TEST(TemplateLane, PaddedTextsPrintWhatTheirTextsPrint) {
  const std::string fields[] = {"!",
                                "&",
                                "\\\\",
                                "\\ \\",
                                "<\\              \\>",
                                "[\\" + std::string(29, ' ') + "\\]",
                                "\\" + std::string(30, ' ') + "\\",
                                "\\" + std::string(31, ' ') + "\\",
                                "## \\  \\ ##",
                                "<\\ \\|\\  \\>"};
  const std::string padding(TemplatePrinter::kTextPadding, ' ');
  for (size_t lent : {size_t{0}, size_t{5}, size_t{4096}}) {
    Redirected padded(lent);
    Redirected plain(lent);
    for (int round = 0; round < 3; ++round) {  // the console lends its buffer from the second
      for (const std::string& field : fields) {
        for (size_t length : {size_t{0}, size_t{1}, size_t{2}, size_t{16}, size_t{31}, size_t{32},
                              size_t{33}, size_t{40}}) {
          std::string text(length, ' ');
          for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i + round) % 26);
          const std::string stored = text + padding;
          padded.templates.beginTemplate(field.data(), field.size());
          padded.templates.printTemplatePaddedText(0, stored.data(), length, 0);
          padded.templates.printTemplatePaddedText(0, stored.data(), length,
                                                   LastItem | ItemLineEnd);
          plain.templates.beginTemplate(field.data(), field.size());
          plain.templates.printTemplateText(0, text.data(), length, 0);
          plain.templates.printTemplateText(0, text.data(), length, LastItem | ItemLineEnd);
          ASSERT_EQ(padded.console.column(), plain.console.column()) << field << " " << length;
        }
      }
    }
    EXPECT_EQ(padded.output(), plain.output()) << lent;
  }
}

// Integers in runs across the edges where their exponent form in a plain
// '#' field changes, some negated and some into another field, now and then
// with every kept template pushed out by others, so that the rows' two
// templates come back in other places: the exponent forms the printer keeps
// print what the numbers print laid out afresh.
TEST(TemplateLane, KeptExponentFormsPrintWhatTheirNumbersPrint) {
  Printers printers(1 << 16);
  std::string trace;
  const int64_t edges[] = {99990, 149990, 949990, 999990, 1049990, 9499999990};
  const char* const others[] = {"(#)", "[##]", "<###>", "{#}"};
  for (int64_t edge : edges) {
    for (int64_t value = edge; value < edge + 30; ++value) {
      const char* row = value % 10 == 6 ? "#" : "##";
      printers.all([&](TemplatePrinter& p) {
        for (const char* other : others) {
          if (value % 7 != 0) break;
          p.beginTemplate(other);
          p.printTemplateInteger(0, value % 10, LastItem);
        }
        p.beginTemplate(row);
        if (edge > 1000000000) {
          p.printTemplateUnsigned(0, static_cast<uint64_t>(value) * 1000000000, LastItem);
        } else {
          p.printTemplateInteger(0, value % 10 == 3 ? -value : value, LastItem);
        }
      });
      trace += " " + std::to_string(value);
    }
  }
  // The last of four templates in turn takes the place of the one whose
  // form is kept, with its field where that one's lay.
  printers.all([](TemplatePrinter& p) {
    for (const char* text : {"##", "##", "a#", "b#", "c#", "#"}) {
      p.beginTemplate(text);
      p.printTemplateInteger(0, text[0] == '#' ? 100003 : 1, LastItem);
    }
  });
  const std::string laned = printers.laned.output();
  ASSERT_EQ(laned, printers.recording.output()) << trace;
  ASSERT_EQ(laned, printers.plain.output()) << trace;
}

// Zone padding reads the column: after pieces placed in the lent buffer it
// must count them, as it counts pieces printed one by one.
TEST(TemplateLane, ZonesAfterPlacedPiecesPadFromTheirColumn) {
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
