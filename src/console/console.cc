#include "console/console.h"

#include <algorithm>
#include <cstring>

namespace kp {
namespace {

constexpr size_t kGatherSize = 1024;
constexpr int32_t kTabWidth = 8;
constexpr int32_t kZoneWidth = 14;
constexpr char kLineEnd[] = "\r\n";
constexpr char kSpaces[] = "                ";  // enough for a tab or a zone
static_assert(sizeof(kSpaces) - 1 >= kZoneWidth && sizeof(kSpaces) - 1 >= kTabWidth);

constexpr int kBeepFrequencyHz = 1000;
constexpr int kBeepDurationMs = 250;

// What the writer assumes when the console cannot be asked.
constexpr int32_t kDefaultWidth = 80;
constexpr int32_t kDefaultHeight = 25;
constexpr uint16_t kDefaultAttribute = 7;
constexpr int32_t kDefaultLastViewRow = 24;
constexpr int32_t kDefaultLineWidth = 80;

constexpr int32_t kConsoleKind = 4;
constexpr int32_t kReadWriteAccess = 3;

CellPosition cellAt(int32_t x, int32_t y) {
  return {static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

// The bytes the text engine acts on instead of placing them as cells: BEL,
// BS, TAB, LF and CR. Every other byte, VT, FF and NUL included, is a cell.
constexpr bool actsOnCursor(unsigned char byte) {
  return byte == 7 || byte == 8 || byte == 9 || byte == 10 || byte == 13;
}

// The first byte below 0x20, or `length` where there is none.
size_t firstControl(const char* bytes, size_t length) {
  size_t i = 0;
  while (i + 8 <= length && !holdsControl(bytes + i)) i += 8;
  for (; i < length; ++i) {
    if (static_cast<unsigned char>(bytes[i]) < 0x20) return i;
  }
  return length;
}

// The first byte from `from` on that the writer acts on, or `length`.
size_t nextActing(const char* bytes, size_t from, size_t length) {
  for (;;) {
    const size_t at = from + firstControl(bytes + from, length - from);
    if (at == length || actsOnCursor(static_cast<unsigned char>(bytes[at]))) return at;
    from = at + 1;
  }
}

bool allCells(const char* bytes, size_t length) {
  return nextActing(bytes, 0, length) == length;
}

// Where the column starts again after a text: just after its last CR or LF,
// or 0 when it holds none. Looked for from the end, so that the many pieces
// counted at once from the lent buffer cost only their last line.
size_t lineStartAfter(const char* bytes, size_t length) {
  size_t i = length;
  while (i > 0) {
    if (i >= 8 && !holdsControl(bytes + i - 8)) {
      i -= 8;
      continue;
    }
    --i;
    if (bytes[i] == '\r' || bytes[i] == '\n') return i + 1;
  }
  return 0;
}

// Cut short of `length`, a stretch must not end inside a UTF-8 character:
// it ends before the character's first byte.
size_t characterEnd(const char* bytes, size_t cut, size_t length) {
  if (cut >= length) return length;
  while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

// The end of the UTF-8 character that starts at `at`.
size_t characterAfter(const char* bytes, size_t at, size_t length) {
  ++at;
  while (at < length && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80) ++at;
  return at;
}

bool answerUsable(const ScreenBufferInfo& info) {
  return info.size.x > 0 && info.size.y > 0;
}

}  // namespace

// One console write's view of the screen, built from the window cache and
// one query of the screen buffer.
struct Console::WriteContext {
  int32_t left = 0;  // the view, in buffer coordinates
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t x = 0;  // the cursor
  int32_t y = 0;
  int32_t width = kDefaultWidth;  // the screen buffer
  int32_t height = kDefaultHeight;
  uint16_t attribute = kDefaultAttribute;
  bool subView = false;  // the view is not the whole window: scroll only inside it
};

// Printable bytes waiting for one cell write, and the cursor they will leave.
struct Console::Gather {
  char bytes[kGatherSize];
  size_t count = 0;
  size_t counted = 0;  // bytes whose cells are in the predicted cursor
  int32_t column = 0;  // predicted cursor
  int32_t row = 0;
  bool moved = false;  // a control byte moved the cursor since the last flush
};

Console::Console(FileTable& files, ConsoleDevice& device)
    : files_(files), device_(device), textCells_(device.textCells()), hooks_{} {
  hooks_.writeBytes = &Console::writeHook;
  hooks_.context = this;
  showTextsWith(0, textCells_);
}

Console::~Console() {
  placeGathered();
  lendBuffer(0, nullptr);
  // The table outlives us in the program; leave it no hooks pointing here.
  FileSlot* slot = files_.slotForNumber(0);
  if (slot != nullptr && slot->hooks == &hooks_) *slot = FileSlot{};
}

void Console::start() {
  state_.started = true;
  device_.startUp();
}

// --- Printing to file numbers -------------------------------------------

void Console::printText(FileNumber number, const char* bytes, size_t length, int endFlags) {
  // A piece of redirected output that fits the lent buffer, the bulk of a
  // long table: copied there, its column counted when next asked for.
  const LentBuffer* lent = lentBuffer(number);
  if (lent == nullptr || endFlags != EndNothing || !lent->place(bytes, length)) {
    printTextGenerally(number, bytes, length, endFlags);
    return;
  }
  files_.setLastError(Ok);
}

// Kept out of printText: inlined there, its registers cost every piece of
// the redirected table 8 instructions (114 per row of 10^5, measured).
[[gnu::noinline]] void Console::printTextGenerally(FileNumber number, const char* bytes,
                                                   size_t length, int endFlags) {
  FileSlot* slot = resolveForPrint(number);
  if (slot == nullptr) return;
  if (length != 0) writeToSlot(*slot, bytes, length);
  if (endFlags != EndNothing) endAction(number, *slot, endFlags);
}

void Console::printText(FileNumber number, const char* text, int endFlags) {
  printText(number, text, text != nullptr ? std::strlen(text) : 0, endFlags);
}

void Console::printLineEnd(FileNumber number, int endFlags) {
  // The table's line end, after the row's pieces in the lent buffer.
  const LentBuffer* const lent = lentBuffer(number);
  if (lent != nullptr && endsLine(endFlags) && placeLineEnd(*lent)) {
    files_.setLastError(Ok);
    return;
  }
  FileSlot* slot = lent != nullptr ? files_.slotForNumber(number) : nullptr;
  if (slot != nullptr) {
    files_.setLastError(Ok);
  } else {
    slot = resolveForPrint(number);
    if (slot == nullptr) return;
  }
  endAction(number, *slot, endFlags);
}

int32_t Console::column(FileNumber number) {
  settleColumn();
  const FileSlot* slot = files_.slotForNumber(number);
  if (slot == nullptr) return 0;
  return slot->redirect != nullptr ? slot->redirect->column : slot->column;
}

FileSlot* Console::resolveForPrint(FileNumber number) {
  ensureStarted();
  if (!state_.slotPrepared) prepareSlot();
  FileSlot* slot = files_.slotForNumber(number);
  if (slot == nullptr || slot->hooks == nullptr || slot->hooks->writeBytes == nullptr) {
    files_.setLastError(IllegalCall);
    return nullptr;
  }
  files_.setLastError(Ok);
  return slot;
}

ErrorCode Console::writeToSlot(FileSlot& slot, const char* bytes, size_t length) {
  // Looked at once: a plain text is all cells, one a byte, and holds no line end.
  const bool plain = printableAscii(bytes, length);
  ErrorCode result = Ok;
  if (slot.hooks == &hooks_) {
    writeConsole(bytes, length, plain);  // our own hook, called without the indirection
  } else {
    result = slot.hooks->writeBytes(slot, bytes, length);
  }
  files_.setLastError(result);
  if (result != Ok) return result;
  advanceColumn(slot.redirect != nullptr ? *slot.redirect : slot, length,
                plain ? 0 : lineStartAfter(bytes, length));
  return Ok;
}

// The column after a text of `length` bytes counts from its last line end
// (just before lineStart; 0 for none), or grows by the whole text.
void Console::advanceColumn(FileSlot& target, size_t length, size_t lineStart) {
  int64_t column = lineStart == 0 ? int64_t{target.column} + static_cast<int64_t>(length)
                                  : static_cast<int64_t>(length - lineStart);
  if ((column >= target.lineWidth || column < 0) && target.lineWidth != 0) {
    column %= target.lineWidth;
  }
  target.column = static_cast<int32_t>(column);
}

void Console::endAction(FileNumber number, FileSlot& slot, int endFlags) {
  if (endsLine(endFlags)) {
    const LentBuffer* lent = lentBuffer(number);
    if (lent == nullptr || !placeLineEnd(*lent)) writeToSlot(slot, kLineEnd, 2);
    return;
  }
  if ((endFlags & EndZone) == 0) return;
  placeGathered();
  settleColumn();
  // Zones start at columns 1, 15, 29, ... counted from 1; one that would not
  // fit a whole zone before the line's end starts a new line instead.
  const FileSlot& target = slot.redirect != nullptr ? *slot.redirect : slot;
  const int64_t column = std::max<int64_t>(target.column, 0);
  const int64_t current = column + 1;
  const int64_t next = (column + kZoneWidth) / kZoneWidth * kZoneWidth + 1;
  if (target.lineWidth != 0 && next > target.lineWidth - kZoneWidth) {
    writeToSlot(slot, kLineEnd, 2);
  } else {
    writeToSlot(slot, kSpaces, static_cast<size_t>(next - current));
  }
}

ErrorCode Console::writeHook(FileSlot& slot, const char* bytes, size_t count) {
  static_cast<Console*>(slot.hooks->context)->writeConsole(bytes, count);
  return Ok;
}

void Console::prepareSlot() {
  placeGathered();  // the column starts where the cursor is once all is placed
  state_.slotPrepared = true;
  ScreenBufferInfo info;
  const bool console = fillWindowCache(&info);
  FileSlot* slot = files_.slotForNumber(0);
  if (slot == nullptr) return;
  *slot = FileSlot{};
  slot->mode = Append;
  slot->kind = kConsoleKind;
  slot->access = kReadWriteAccess;
  slot->hooks = &hooks_;
  updateLending();
  const CellRect& cache = state_.windowCache;
  if (console) {
    slot->column = std::max(0, info.cursor.x - cache.left);
    slot->lineWidth = cache.right - cache.left + 1;
  } else {
    slot->column = 0;
    slot->lineWidth = kDefaultLineWidth;
  }
}

bool Console::fillWindowCache(ScreenBufferInfo* info) {
  ScreenBufferInfo local;
  if (info == nullptr) info = &local;
  state_.windowCacheFilled = true;
  if (device_.getScreenBufferInfo(info) && answerUsable(*info)) {
    state_.windowCache = {0, info->window.top, static_cast<int16_t>(info->size.x - 1),
                          info->window.bottom};
    state_.consoleAnswered = true;
    return true;
  }
  state_.windowCache = CellRect{};
  state_.consoleAnswered = false;
  return false;
}

// --- The console writer --------------------------------------------------

// A line end in the lent buffer, counted with the pieces before it.
// On the screen a row goes out with its line end: no finished row waits.
bool Console::placeLineEnd(const LentBuffer& lent) {
  if (!lent.place(kLineEnd, 2)) return false;
  if (&lent == &runBuffer_) placeGathered();
  return true;
}

// Pieces to number 0 go to the device's buffer on redirected output, to
// the run on the screen, and nowhere but printText while the console's slot
// is not its own.
void Console::updateLending() {
  const FileSlot* slot = files_.slotForNumber(0);
  const bool ours = slot != nullptr && slot->hooks == &hooks_ && slot->redirect == nullptr;
  const LentBuffer* lent = nullptr;
  if (ours && rawBufferLent_) {
    lent = &rawBuffer_;
  } else if (ours && state_.onScreen) {
    lent = &runBuffer_;
  }
  if (lent == lentBuffer(0)) return;
  settleColumn();
  lendBuffer(0, lent);
  countedTo_ = lent != nullptr ? lent->used->load(std::memory_order_relaxed) : 0;
}

void Console::settleColumn() {
  const LentBuffer* const lent = lentBuffer(0);
  if (lent == nullptr) return;
  const size_t used = lent->used->load(std::memory_order_relaxed);
  // Only pieces printed to the console's own slot are in the buffer uncounted.
  if (used > countedTo_) {
    const char* const pieces = lent->data + countedTo_;
    advanceColumn(*files_.slotForNumber(0), used - countedTo_,
                  lineStartAfter(pieces, used - countedTo_));
  }
  countedTo_ = used;
}

void Console::writeConsole(const char* bytes, size_t length) {
  writeConsole(bytes, length, printableAscii(bytes, length));
}

void Console::writeConsole(const char* bytes, size_t length, bool plain) {
  // Whoever writes here counts the bytes (or, called directly, does not):
  // they stay out of the count of the lent buffer's pieces.
  if (rawBufferLent_) {
    settleColumn();
    const bool placed = rawBuffer_.place(bytes, length);
    countedTo_ = rawBuffer_.used->load(std::memory_order_relaxed);
    if (placed) return;
  } else if (state_.onScreen) {
    settleColumn();
    if (plain || allCells(bytes, length)) {
      if (runBuffer_.place(bytes, length)) {
        countedTo_ = runUsed();
        return;
      }
    } else if (const size_t used = runUsed(); used != 0 && length <= kRunCapacity - used) {
      // A text the writer acts on (a row's line end) goes with the run.
      std::memcpy(run_ + used, bytes, length);
      runUsed_.store(0, std::memory_order_relaxed);
      countedTo_ = 0;
      writeConsoleFully(run_, used + length);
      return;
    }
  }
  placeGathered();
  writeConsoleFully(bytes, length);
}

void Console::placeGathered() {
  const size_t length = runUsed();
  if (length == 0) return;
  settleColumn();  // the pieces printed into the run count in the column
  runUsed_.store(0, std::memory_order_relaxed);
  countedTo_ = 0;
  writeConsoleFully(run_, length);
}

void Console::writeConsoleFully(const char* bytes, size_t length) {
  if (length == 0) return;
  ensureStarted();
  if (!state_.windowCacheFilled) fillWindowCache(nullptr);
  const CellRect& cache = state_.windowCache;
  if (state_.lastViewRow < 0) {
    state_.lastViewRow = state_.consoleAnswered ? cache.bottom - cache.top : kDefaultLastViewRow;
  }

  if (cache.left == cache.right || cache.top == cache.bottom) {
    if (!outputBufferAsked_) {
      outputBufferAsked_ = true;
      const ConsoleDevice::OutputBuffer space = device_.outputBuffer();
      // The lent part leaves the buffer's last bytes as room for copies of fixed
      // size; a buffer with no more than that is not lent.
      if (space.data != nullptr && space.capacity > kCopySlack) {
        rawBuffer_ = LentBuffer{space.data, space.used, space.capacity - kCopySlack};
      }
      // From now on texts that fit the device's buffer are copied there.
      rawBufferLent_ = rawBuffer_.data != nullptr;
      updateLending();
    }
    if (state_.onScreen) {
      state_.onScreen = false;
      updateLending();
    }
    // The device may send its buffer now: what is in it is counted first.
    settleColumn();
    writeRawBytes(bytes, length);
    device_.endOfWrite();
    if (rawBufferLent_) countedTo_ = rawBuffer_.used->load(std::memory_order_relaxed);
    return;
  }

  WriteContext context;
  buildContext(context);
  const int32_t startTop = context.top;

  if (state_.pendingWrap) {
    state_.pendingWrap = false;
    context.x = context.left;
    ++context.y;
    if (context.y > context.bottom) scrollView(context, context.y - context.bottom);
  }

  runTextEngine(context, bytes, length);

  if (context.x == context.left && context.y == context.bottom + 1) {
    // Ended exactly on the bottom-right cell: keep the row, scroll on the next output.
    state_.pendingWrap = true;
    context.x = context.right;
    context.y = context.bottom;
  } else if (context.y > context.bottom) {
    scrollView(context, context.y - context.bottom);
  }

  device_.setCursorPosition(cellAt(context.x, context.y));
  if (!state_.onScreen) {
    state_.onScreen = true;
    updateLending();
  }
  if (context.top != startTop && !context.subView) {
    device_.setWindowInfo({static_cast<int16_t>(context.left), static_cast<int16_t>(context.top),
                           static_cast<int16_t>(context.right),
                           static_cast<int16_t>(context.bottom)});
  }
  fillWindowCache(nullptr);
  device_.endOfWrite();
}

void Console::writeRawBytes(const char* bytes, size_t length) {
  size_t done = 0;
  while (done < length) {
    size_t written = 0;
    // A write that fails, or that makes no progress, drops the rest.
    if (!device_.writeRaw(bytes + done, length - done, &written) || written == 0) return;
    done += std::min(written, length - done);
  }
}

void Console::buildContext(WriteContext& context) {
  const CellRect& cache = state_.windowCache;
  context.left = cache.left;
  context.right = cache.right;
  context.top = cache.top;
  context.bottom = cache.top + std::max(state_.lastViewRow, 0);

  int32_t windowTop = cache.top;
  int32_t windowBottom = cache.bottom;

  ScreenBufferInfo info;
  if (device_.getScreenBufferInfo(&info) && answerUsable(info)) {
    context.width = info.size.x;
    context.height = info.size.y;
    context.attribute = info.attribute;
    // The buffer may have changed size since the cache was taken (a resized
    // terminal): keep the view and the cursor inside it, so that no text is
    // written past its edges and no run is left without room. The cached
    // window moves the same way, so a view that was the window stays it.
    context.right = context.width - 1;
    const int32_t lastRow = context.height - 1;
    auto pullInside = [lastRow](int32_t& top, int32_t& bottom) {
      if (bottom <= lastRow) return;
      top = std::max(0, top - (bottom - lastRow));
      bottom = lastRow;
    };
    pullInside(context.top, context.bottom);
    pullInside(windowTop, windowBottom);
    context.x = std::clamp<int32_t>(info.cursor.x, 0, context.width - 1);
    context.y = std::clamp<int32_t>(info.cursor.y, 0, lastRow);
  } else {
    context.width = kDefaultWidth;
    context.height = kDefaultHeight;
    context.attribute = kDefaultAttribute;
    context.x = context.left;
    context.y = context.top;
  }
  context.subView = context.top != windowTop || context.bottom != windowBottom;
}

void Console::runTextEngine(WriteContext& context, const char* bytes, size_t length) {
  Gather gather;
  gather.column = context.x;
  gather.row = context.y;
  const int32_t viewWidth = context.right - context.left + 1;

  // The predicted cursor, which only a TAB asks for: the cells gathered
  // since it was last known are counted then, not at every stretch.
  auto predictedColumn = [&]() {
    gather.column += static_cast<int32_t>(
        cellsOf(gather.bytes + gather.counted, gather.count - gather.counted));
    gather.counted = gather.count;
    if (gather.column > context.right) {
      const int32_t offset = gather.column - context.left;
      gather.column = context.left + offset % viewWidth;
      gather.row += offset / viewWidth;
    }
    return gather.column;
  };
  auto flush = [&]() {
    if (gather.count > 0) writeRun(context, gather.bytes, gather.count);
    gather.count = 0;
    gather.counted = 0;
    gather.moved = false;
    gather.column = context.x;
    gather.row = context.y;
  };
  // After a control move the prediction restarts from the real cursor.
  auto moved = [&]() {
    gather.column = context.x;
    gather.row = context.y;
    gather.moved = true;
  };

  size_t i = 0;
  while (i < length) {
    // A stretch of cells, gathered as far as the buffer takes it; or written
    // as it lies when nothing waits before it and what ends it writes it anyway.
    const size_t end = nextActing(bytes, i, length);
    if (gather.count == 0 && end > i &&
        (end == length || (bytes[end] != '\a' && bytes[end] != '\t'))) {
      writeRun(context, bytes + i, end - i);
      gather.column = context.x;
      gather.row = context.y;
      gather.moved = false;
      i = end;
      if (i == length) break;
    }
    while (i < end) {
      const size_t k = characterEnd(bytes + i, kGatherSize - gather.count, end - i);
      if (k == 0) {
        flush();
        continue;
      }
      std::memcpy(gather.bytes + gather.count, bytes + i, k);
      gather.count += k;
      i += k;
    }
    if (i == length) break;
    switch (static_cast<unsigned char>(bytes[i])) {
      case 7:  // BEL sounds now, ahead of the text still gathered
        device_.beep(kBeepFrequencyHz, kBeepDurationMs);
        break;
      case 8:  // BS erases nothing and stops at the left edge
        flush();
        if (context.x > context.left) --context.x;
        moved();
        break;
      case 9: {
        int32_t offset = (predictedColumn() - context.left) % kTabWidth;
        if (offset < 0) offset += kTabWidth;
        const auto k = static_cast<size_t>(kTabWidth - offset);
        if (gather.count + k > kGatherSize) flush();
        std::memcpy(gather.bytes + gather.count, kSpaces, k);
        gather.count += k;
        break;
      }
      case 10:
        flush();
        context.x = context.left;
        ++context.y;
        moved();
        break;
      case 13:
        flush();
        context.x = context.left;
        moved();
        break;
    }
    ++i;
  }

  if (gather.count > 0) {
    flush();
  } else if (gather.moved && context.y > context.bottom) {
    scrollView(context, context.y - context.bottom);
  }
}

void Console::writeRun(WriteContext& context, const char* bytes, size_t length) {
  while (length > 0) {
    if (context.x > context.right) {  // only after a failed query; never loop without room
      context.x = context.left;
      ++context.y;
    }
    if (context.y > context.bottom) scrollView(context, context.y - context.bottom);
    const auto room = static_cast<size_t>(context.right - context.x + 1);
    size_t cells = 0;
    size_t piece = fitting(bytes, length, room, &cells);
    if (piece == 0 && context.x == context.left) {
      // A cluster wider than the whole row: it goes character by character,
      // as far as the row takes them and at least one, or it never would.
      do {
        const size_t end = characterAfter(bytes, piece, length);
        const size_t more = cellsOf(bytes + piece, end - piece);
        if (piece != 0 && cells + more > room) break;
        cells += more;
        piece = end;
      } while (piece < length);
    }
    if (piece == 0) {
      // A wide character does not fit the row's last cells: they stay blank
      // and the character goes on the next row.
      device_.fillCells(cellAt(context.x, context.y), static_cast<int>(room), ' ',
                        context.attribute);
      context.x = context.left;
      ++context.y;
      continue;
    }
    if (!device_.writeCells(cellAt(context.x, context.y), bytes, static_cast<int>(piece),
                            context.attribute)) {
      return;  // the rest of the run is dropped; the cursor keeps what was reached
    }
    context.x += static_cast<int32_t>(cells);
    bytes += piece;
    length -= piece;
    if (context.x == context.right + 1) {
      context.x = context.left;
      ++context.y;
    }
  }
}

void Console::scrollView(WriteContext& context, int32_t rows) {
  if (rows <= 0) return;
  if (!context.subView) {
    // First let the window travel down through the rows the buffer has below it.
    const int32_t room = context.height - 1 - context.bottom;
    if (room > 0) {
      const int32_t slide = std::min(rows, room);
      context.top += slide;
      context.bottom += slide;
      rows -= slide;
    }
    if (rows > 0) {
      if (rows >= context.height) {
        blankRows(context, context.top, context.bottom);
      } else {
        const CellRect source{0, static_cast<int16_t>(rows),
                              static_cast<int16_t>(context.width - 1),
                              static_cast<int16_t>(context.height - 1)};
        device_.scrollRect(source, cellAt(0, 0), ' ', context.attribute);
        // A move of more than half the height leaves rows that are neither
        // source nor destination; they would keep their old text.
        if (rows * 2 > context.height) {
          blankRows(context, context.height - rows, context.height - 1);
        }
      }
    }
  } else {
    const int32_t viewRows = context.bottom - context.top + 1;
    if (rows < viewRows) {
      const CellRect source{
          static_cast<int16_t>(context.left), static_cast<int16_t>(context.top + rows),
          static_cast<int16_t>(context.right), static_cast<int16_t>(context.bottom)};
      device_.scrollRect(source, cellAt(context.left, context.top), ' ', context.attribute);
      if (rows * 2 > viewRows) blankRows(context, context.bottom - rows + 1, context.bottom);
    } else {
      blankRows(context, context.top, context.bottom);
    }
  }
  context.y = context.bottom;
}

void Console::blankRows(WriteContext& context, int32_t firstRow, int32_t lastRow) {
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, context.height - 1);
  const int count = context.right - context.left + 1;
  for (int32_t row = firstRow; row <= lastRow; ++row) {
    device_.fillCells(cellAt(context.left, row), count, ' ', context.attribute);
  }
}

}  // namespace kp
