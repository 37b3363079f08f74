// Text on a terminal: how a recipe's text shows in a field (UTF-8 by its
// cells and clusters, legacy texts by their code page), and that nothing
// shown can steer the terminal.
#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>

#include "platform/posix/text_cells-posix.h"

namespace kp::posix {
namespace {

struct Layout {
  bool utf8;
  const char* text;
  size_t columns;
  const char* shown;
  size_t cells;
};

TEST(TerminalTextCells, LaysTextsOutByTheirCells) {
  const Layout cases[] = {
      {true, "Mehl", 2, "Me", 2},
      {true, "M\xc3\xb6hren", 4, "M\xc3\xb6hr", 4},                        // UTF-8
      {true, "M\xf6hren", 26, "M\xc3\xb6hren", 6},                         // Windows-1252
      {true, "M\x94hren \x84pfel", 26, "M\xc3\xb6hren \xc3\xa4pfel", 12},  // code page 850
      {true, "\x84 \xe4", 3, "\xe2\x80\x9e \xc3\xa4", 3},                  // 1252: its letter wins
      {true, "\xe5\xaf\xbf\xe5\x8f\xb8", 3, "\xe5\xaf\xbf", 2},            // wide: no half
      {true,
       "e\xcc\x81"
       "e\xcc\x81",
       1, "e\xcc\x81", 1},  // a cluster whole
      {true, "\xf0\x9f\x8d\xb0 x", 2, "\xf0\x9f\x8d\xb0", 2},
      {true, "a\x1b[2Jb\tc", 26, "a?[2Jb?c", 8},  // C0
      {true, "x\xc2\x9by\x7f", 26, "x?y?", 4},    // C1 as UTF-8, DEL
      {true,
       "\xe2\x80\xae"
       "ab\xe2\x81\xa6",
       26, "?ab?", 4},                                    // bidi
      {true, "\xc0\x9b", 26, "\xc3\x80\xe2\x80\xba", 2},  // overlong: legacy
      {true,
       "x\x9d"
       "0\x9cy",
       26, "x?0\xc5\x93y", 5},                // 1252 has no 9D
      {false, "M\xf6hren", 4, "M\xf6hr", 4},  // one cell a byte
      {false,
       "x\x9b"
       "2J\x1b\xc2\x9d",
       26, "x?2J?\xc2?", 7},
  };
  for (const Layout& c : cases) {
    const TerminalTextCells cells(c.utf8);
    const std::string text(c.text);
    std::string out(TextCells::mostBytes(text.size()) + 1, '\0');
    size_t shownCells = 99;
    const size_t length =
        cells.layoutText(text.data(), text.size(), c.columns, out.data(), &shownCells);
    EXPECT_EQ(out.substr(0, length), c.shown) << testing::PrintToString(text);
    EXPECT_EQ(shownCells, c.cells) << testing::PrintToString(text);
  }
}

// The code pages' characters against the C library's own tables.
TEST(TerminalTextCells, CodePagesAreThoseOfTheCLibrary) {
  struct CodePage {
    const char* name;
    char32_t (*table)(unsigned char);
  };
  for (const CodePage& page :
       {CodePage{"CP1252", fromWindows1252}, CodePage{"CP850", fromCodePage850}}) {
    iconv_t convert = iconv_open("UTF-32LE", page.name);
    if (convert == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << page.name << " not in iconv";
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      char in[1] = {static_cast<char>(byte)};
      char32_t out = 0;
      char* from = in;
      char* to = reinterpret_cast<char*>(&out);
      size_t inLeft = 1;
      size_t outLeft = sizeof out;
      const bool converted =
          iconv(convert, &from, &inLeft, &to, &outLeft) != static_cast<size_t>(-1);
      EXPECT_EQ(page.table(static_cast<unsigned char>(byte)), converted ? out : 0)
          << page.name << " byte " << byte;
    }
    iconv_close(convert);
  }
}

// Whatever the bytes: what is shown holds no control and, in UTF-8, is
// well-formed; the cells counted are those shown; a field's layout takes no
// more cells than it has; what fits is a whole prefix.
TEST(TerminalTextCells, WhateverTheBytesNothingShownSteers) {
  std::mt19937 random(11);
  const std::string pieces[] = {"a",
                                " ",
                                "\xc3\xa4",
                                "\xe5\xaf\xbf",
                                "\xcc\x81",
                                "\xf0\x9f\x8d\xb0",
                                "\x1b",
                                "\x9b",
                                "\xc2\x9b",
                                "\xe2\x80\xae",
                                "\xc0",
                                "\x80",
                                "\xff",
                                "\xed\xa0\x80",
                                "\xe2\x80\x8d",
                                "\r",
                                "\x7f"};
  for (bool utf8 : {true, false}) {
    const TerminalTextCells cells(utf8);
    for (int round = 0; round < 3000; ++round) {
      std::string text;
      for (int k = random() % 12; k > 0; --k) text += pieces[random() % std::size(pieces)];
      std::string out(text.size() + 1, '\0');
      size_t shownCells = 0;
      const size_t length = cells.shown(text.data(), text.size(), out.data(), &shownCells);
      const std::string shown = out.substr(0, length);
      EXPECT_EQ(shownCells, cells.cellsOf(text.data(), text.size()));
      for (unsigned char b : shown)
        ASSERT_FALSE(b < 0x20 || b == 0x7F) << testing::PrintToString(text);
      if (utf8) {
        size_t again = 0;
        std::string check(shown.size() + 1, '\0');
        // Well-formed and harmless: shown again, it is itself.
        ASSERT_EQ(cells.shown(shown.data(), shown.size(), check.data(), &again), shown.size());
        ASSERT_EQ(check.substr(0, shown.size()), shown) << testing::PrintToString(text);
      } else {
        for (unsigned char b : shown) ASSERT_FALSE(b >= 0x80 && b <= 0x9F);
      }
      const size_t columns = random() % 8;
      std::string field(TextCells::mostBytes(text.size()) + 1, '\0');
      size_t fieldCells = 0;
      cells.layoutText(text.data(), text.size(), columns, field.data(), &fieldCells);
      EXPECT_LE(fieldCells, columns);
      size_t fitCells = 0;
      const size_t fit = cells.fitting(text.data(), text.size(), columns, &fitCells);
      EXPECT_LE(fitCells, columns);
      EXPECT_EQ(fitCells, cells.cellsOf(text.data(), fit));
    }
  }
}

}  // namespace
}  // namespace kp::posix
