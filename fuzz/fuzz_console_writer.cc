// The console writer on the in-memory screen with arbitrary bytes, buffer
// sizes, windows, cursor positions and end flags. While the geometry stays
// as it was at the first write, every cell write, fill, scroll and cursor
// placement the writer asks for lies inside the screen buffer; once the
// window or buffer changes under it (sub-views, a resized terminal) it must
// still neither crash nor touch memory it does not own. Redirected, the raw
// output is exactly the bytes printed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "console/console.h"
#include "fuzz_common.h"
#include "input/file_table.h"
#include "support/memory_screen.h"

namespace {

class CheckingScreen : public kp::test::MemoryScreen {
 public:
  using MemoryScreen::MemoryScreen;
  bool strict = true;  // the geometry is still the one of the first write

  bool setCursorPosition(kp::CellPosition at) override {
    if (strict) KP_CHECK(inBuffer(at.x, at.y));
    return MemoryScreen::setCursorPosition(at);
  }
  bool writeCells(kp::CellPosition at, const char* bytes, int count, uint16_t attribute) override {
    KP_CHECK(count >= 0);
    if (strict) {
      KP_CHECK(inBuffer(at.x, at.y));
      KP_CHECK(at.x + count <= width());
    }
    return MemoryScreen::writeCells(at, bytes, count, attribute);
  }
  bool fillCells(kp::CellPosition at, int count, char ch, uint16_t attribute) override {
    if (strict) {
      KP_CHECK(inBuffer(at.x, at.y));
      KP_CHECK(count >= 0 && at.y * width() + at.x + count <= width() * height());
    }
    return MemoryScreen::fillCells(at, count, ch, attribute);
  }
  bool scrollRect(kp::CellRect source, kp::CellPosition destination, char fillChar,
                  uint16_t fillAttribute) override {
    if (strict) {
      KP_CHECK(inBuffer(source.left, source.top) && inBuffer(source.right, source.bottom));
      KP_CHECK(source.left <= source.right && source.top <= source.bottom);
    }
    return MemoryScreen::scrollRect(source, destination, fillChar, fillAttribute);
  }

 private:
  bool inBuffer(int x, int y) const { return x >= 0 && y >= 0 && x < width() && y < height(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int width = input.ConsumeIntegralInRange(1, 200);
  const int height = input.ConsumeIntegralInRange(1, 100);
  CheckingScreen screen(width, height, input.ConsumeIntegralInRange(0, height));
  const bool redirected = input.ConsumeBool();
  screen.setRedirected(redirected);
  {
    const int top = input.ConsumeIntegralInRange(0, height - 1);
    screen.placeWindow(top, input.ConsumeIntegralInRange(top, height - 1));
    screen.placeCursor(input.ConsumeIntegralInRange(0, width - 1),
                       input.ConsumeIntegralInRange(0, height - 1));
  }
  screen.setCurrentAttribute(input.ConsumeIntegral<uint8_t>());
  if (input.ConsumeBool()) screen.setRawChunk(input.ConsumeIntegralInRange<size_t>(1, 64));

  kp::FileTable files;
  kp::Console console(files, screen);
  std::string expectedRaw;
  bool rawKnown = true;  // zone padding depends on the column; not modelled here

  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0: {
        const std::string text = input.ConsumeRandomLengthString(3000);
        console.writeConsole(text.data(), text.size());
        expectedRaw += text;
        break;
      }
      case 1:
      case 2: {
        const std::string text = input.ConsumeRandomLengthString(300);
        const int flags = input.ConsumeIntegralInRange(0, 7);
        console.printText(0, text.data(), text.size(), flags);
        expectedRaw += text;
        if (flags & (kp::EndLine | kp::EndLineAlso)) {
          expectedRaw += "\r\n";
        } else if (flags & kp::EndZone) {
          rawKnown = false;
        }
        break;
      }
      case 3:
        console.printLineEnd(0, kp::EndLine);
        expectedRaw += "\r\n";
        break;
      case 4:
        console.setColour(input.ConsumeIntegral<int32_t>(), input.ConsumeIntegral<int32_t>(),
                          input.ConsumeIntegralInRange(0, 3));
        break;
      case 5: {
        // The user or another program moves the cursor between writes.
        screen.placeCursor(input.ConsumeIntegralInRange(0, screen.width() - 1),
                           input.ConsumeIntegralInRange(0, screen.height() - 1));
        break;
      }
      case 6: {
        // A window that no longer matches the rows of the first write: a sub-view.
        const int top = input.ConsumeIntegralInRange(0, screen.height() - 1);
        screen.placeWindow(top, input.ConsumeIntegralInRange(top, screen.height() - 1));
        screen.strict = false;
        break;
      }
      case 7:
        screen.resize(input.ConsumeIntegralInRange(1, 200), input.ConsumeIntegralInRange(1, 100));
        screen.strict = false;
        break;
    }
    const kp::CellPosition cursor = screen.cursor();
    KP_CHECK(cursor.x >= 0 && cursor.x < screen.width());
    KP_CHECK(cursor.y >= 0 && cursor.y < screen.height());
    KP_CHECK(files.lastError() == kp::Ok);
  }
  console.flush();
  if (redirected && rawKnown) KP_CHECK_EQ(screen.rawOutput(), expectedRaw);
  return 0;
}
