#include "console/template_printer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kp {

namespace {

// Walks the literal text at bytes[0] up to the next field start or the end:
// each byte stands for itself, except that '_' makes the byte after it
// literal, field start or not. Hands each byte to be printed to take(c);
// returns the template bytes walked.
template <typename Take>
size_t walkLiteral(const char* bytes, size_t length, Take take) {
  size_t i = 0;
  while (i < length && !startsTemplateField(bytes + i, length - i)) {
    if (bytes[i] == '_' && i + 1 < length) ++i;
    take(bytes[i]);
    ++i;
  }
  return i;
}

// The characters a text field shows of its text: a NUL byte as a space, so
// that the field keeps its width.
void placeShown(char* at, const char* from, size_t shown) {
  for (size_t i = 0; i < shown; ++i) at[i] = from[i] != 0 ? from[i] : ' ';
}

// One byte a character: the console's 8-bit code page holds the first 256
// characters; anything beyond shows as '?'.
void placeShown(char* at, const char16_t* from, size_t shown) {
  for (size_t i = 0; i < shown; ++i) at[i] = from[i] < 256 ? static_cast<char>(from[i]) : '?';
}

// What fills a text field after its text.
void placeFill(char* at, size_t count) {
  std::memset(at, ' ', count);
}

// One piece of a text field at `at`: `shown` characters of the text from
// `from`, then the fill up to `piece` columns.
template <typename Char>
void placeColumns(char* at, const Char* from, size_t shown, size_t piece) {
  placeShown(at, from, shown);
  placeFill(at + shown, piece - shown);
}

// Bytes each buffer a planned item copies from or to has beyond what it
// copies: room for copyShort's fixed-size copies.
constexpr size_t kSlack = 32;

// Copies `length` bytes where both sides have kSlack bytes of room past
// them: up to kSlack bytes as a copy of fixed size, which the compiler makes
// plain moves instead of a call that chooses a way by the length. The bytes
// past `length` are copied too; whatever comes next is written over them,
// or they lie beyond the part of the lent space that is committed. 181
// instructions less a table row (callgrind, 10^5 rows).
inline void copyShort(char* to, const char* from, size_t length) {
  if (length <= kSlack / 2) {
    std::memcpy(to, from, kSlack / 2);
  } else if (length <= kSlack) {
    std::memcpy(to, from, kSlack);
  } else {
    std::memcpy(to, from, length);
  }
}

}  // namespace

TextField readTextField(const char* bytes, size_t length) {
  TextField field;
  if (length == 0) return field;
  if (bytes[0] == '!') {
    field.kind = TextField::Kind::Columns;
    field.taken = 1;
    field.width = 1;
    return field;
  }
  if (bytes[0] == '&') {
    field.kind = TextField::Kind::Whole;
    field.taken = 1;
    return field;
  }
  if (bytes[0] != '\\' || length < 2 || (bytes[1] != ' ' && bytes[1] != '\\')) return field;
  size_t spaces = 0;
  while (1 + spaces < length && bytes[1 + spaces] == ' ') ++spaces;
  // The backslash and its spaces are read even when no backslash closes them.
  field.taken = static_cast<uint32_t>(1 + spaces);
  if (1 + spaces < length && bytes[1 + spaces] == '\\') {
    field.kind = TextField::Kind::Columns;
    field.taken += 1;
    field.width = field.taken;
  }
  return field;
}

const TemplatePrinter::Outcome TemplatePrinter::kNoStatement{0,     0,       0,
                                                             false, nullptr, Place::NoTemplate};

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell, FieldLookup lookup)
    : out_(out), errorCell_(errorCell), lookup_(lookup) {
  for (size_t i = 0; i < kKeptTemplates; ++i) kept_[i].following = &kept_[(i + 1) % kKeptTemplates];
  nextKept_ = &kept_[0];
  placeFill(columns_ + kFieldBufferSize, kFieldBufferSize);
}

TemplateState TemplatePrinter::state() const {
  TemplateState state;
  state.templateCopy = copy_;
  state.active = held_ != nullptr;
  if (held_ != nullptr) {
    state.readPosition = at_->end;
    state.remaining = at_->remaining;
  }
  return state;
}

// The kept template after the last one begun is tried first: a program that
// prints its rows with a few statements in turn finds each at the first try.
inline TemplatePrinter::KeptTemplate* TemplatePrinter::findKept(const char* text, size_t length) {
  KeptTemplate* const kept = nextKept_;
  if (kept->length == length &&
      (length == 0 || std::memcmp(kept->bytes.get(), text, length) == 0)) {
    nextKept_ = kept->following;
    return kept;
  }
  return findOtherKept(text, length);
}

// The others in turn; when none holds these bytes, they are kept in place of
// the oldest.
TemplatePrinter::KeptTemplate* TemplatePrinter::findOtherKept(const char* text, size_t length) {
  KeptTemplate* kept = nextKept_->following;
  for (size_t tries = 1; tries < kKeptTemplates; ++tries, kept = kept->following) {
    if (kept->length == length &&
        (length == 0 || std::memcmp(kept->bytes.get(), text, length) == 0)) {
      nextKept_ = kept->following;
      return kept;
    }
  }
  return keep(text, length);
}

// Copies a new template over the kept one in turn and plans it.
TemplatePrinter::KeptTemplate* TemplatePrinter::keep(const char* text, size_t length) {
  // The count of remaining bytes is 32-bit; a longer template is cut there.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (length > limit) length = limit;
  KeptTemplate& kept = *nextKept_;
  nextKept_ = kept.following;
  if (kept.bytes == nullptr || length + kSlack > kept.capacity) {
    // The old bytes go only after the copy, since text may lie in them.
    const size_t capacity = std::max<size_t>(length + kSlack, 64);
    std::unique_ptr<char[]> bytes(new char[capacity]());
    if (length != 0) std::memcpy(bytes.get(), text, length);
    kept.bytes = std::move(bytes);
    kept.capacity = capacity;
  } else if (length != 0) {
    std::memmove(kept.bytes.get(), text, length);  // text may lie in a kept template
  }
  kept.length = length;
  kept.fixedText = nullptr;
  exponentForm_.stop = nullptr;  // its stop may now be another template's
  plan(kept);
  return &kept;
}

// Reads the template as the items will meet it, with the same readers an
// item uses on a template it reads itself: the literal text at the start,
// then at each field start reached what a numeric and what a text item find
// there and where each leaves the statement. Stops beyond kMaxStops are left
// for the items to read.
void TemplatePrinter::plan(KeptTemplate& kept) const {
  kept.start = Outcome();
  kept.start.remaining = static_cast<int32_t>(kept.length);
  kept.start.otherwise = Place::Fresh;
  kept.stopCount = 0;
  kept.entry = &kept.start;
  if (lookup_ == FieldLookup::EveryItem) {
    kept.leading = Outcome();  // read when the statement starts
    return;
  }
  kept.leading = outcomeAt(kept, 0);
  // A template that starts with a field stands on it at once.
  kept.entry = kept.leading.onePiece && kept.leading.end == 0 ? &kept.leading : &kept.start;
  if (kept.leading.onePiece && kept.leading.end <= kSlack && kept.leading.next != nullptr) {
    kept.start.leadingPiece = &kept.leading;
  }
  const char* const bytes = kept.bytes.get();
  for (uint32_t i = 0; i < kept.stopCount; ++i) {  // outcomeAt adds the stops it reaches
    Stop& stop = kept.stops[i];
    const char* const at = bytes + stop.position;
    const size_t left = kept.length - stop.position;
    const size_t taken = readNumericField(at, left, stop.numeric);
    if (taken == 0) stop.numeric = NumericField::none();
    stop.afterNumber = outcomeAt(kept, stop.position + taken);
    stop.integerInPlace = stop.numeric.plainDigits && stop.afterNumber.onePiece &&
                          stop.afterNumber.end - stop.afterNumber.fieldEnd <= kSlack;
    stop.text = readTextField(at, left);
    stop.afterText = outcomeAt(kept, stop.position + stop.text.taken);
    stop.paddedInPlace = stop.text.kind == TextField::Kind::Columns &&
                         stop.text.width <= kTextPadding && stop.afterText.onePiece &&
                         stop.afterText.end - stop.afterText.fieldEnd <= kSlack;
  }
  readyBlanks(kept);
}

// For each text field of fixed width followed by literal text of one piece:
// the field's fill and that text, ready for an item to copy and lay its text
// over.
void TemplatePrinter::readyBlanks(KeptTemplate& kept) const {
  auto blankSize = [](const Stop& stop) -> size_t {
    const Outcome& next = stop.afterText;
    if (stop.text.kind != TextField::Kind::Columns || !next.onePiece) return 0;
    return stop.text.width + (next.end - next.fieldEnd);
  };
  size_t total = 0;
  for (uint32_t i = 0; i < kept.stopCount; ++i) total += blankSize(kept.stops[i]);
  kept.blanks.reset(total != 0 ? new char[total + kSlack]() : nullptr);
  char* at = kept.blanks.get();
  for (uint32_t i = 0; i < kept.stopCount; ++i) {
    Stop& stop = kept.stops[i];
    const size_t size = blankSize(stop);
    stop.blank = nullptr;
    if (size == 0) continue;
    placeFill(at, stop.text.width);
    std::memcpy(at + stop.text.width, kept.bytes.get() + stop.afterText.fieldEnd,
                size - stop.text.width);
    stop.blank = at;
    at += size;
  }
}

TemplatePrinter::Outcome TemplatePrinter::outcomeAt(KeptTemplate& kept, size_t fieldEnd) const {
  size_t printed = 0;
  const size_t walked = walkLiteral(kept.bytes.get() + fieldEnd, kept.length - fieldEnd,
                                    [&printed](char) { ++printed; });
  Outcome outcome;
  outcome.fieldEnd = static_cast<uint32_t>(fieldEnd);
  outcome.end = static_cast<uint32_t>(fieldEnd + walked);
  outcome.remaining = static_cast<int32_t>(kept.length - outcome.end);
  outcome.onePiece = printed == walked && walked <= kFieldBufferSize;
  if (outcome.remaining == 0) {
    outcome.otherwise = Place::UsedUp;
    return outcome;
  }
  for (uint32_t i = 0; i < kept.stopCount; ++i) {
    if (kept.stops[i].position == outcome.end) {
      outcome.next = &kept.stops[i];
      return outcome;
    }
  }
  if (kept.stopCount < kMaxStops) {
    kept.stops[kept.stopCount].position = outcome.end;
    outcome.next = &kept.stops[kept.stopCount++];
  }
  return outcome;
}

ErrorCode TemplatePrinter::beginOtherTemplate(const char* text, size_t length) {
  if (text == nullptr) length = 0;
  hold(*findKept(text, length));
  return done();
}

ErrorCode TemplatePrinter::beginOtherFixedTemplate(const char* text, size_t length) {
  if (text == nullptr) length = 0;
  KeptTemplate* const kept = findKept(text, length);
  kept->fixedText = text;
  hold(*kept);
  return done();
}

ErrorCode TemplatePrinter::endUntouched(FileNumber number) {
  lane_ = out_.lentSpace(number);
  follow(number, held_->leading);
  release();
  return done();
}

inline const TemplatePrinter::Stop* TemplatePrinter::arrive(FileNumber number) {
  return at_->next != nullptr ? at_->next : arriveOffPlan(number);
}

const TemplatePrinter::Stop* TemplatePrinter::arriveOffPlan(FileNumber number) {
  lane_ = out_.lentSpace(number);
  // A used-up template starts over, its leading literal text included.
  if (at_->otherwise == Place::UsedUp) at_ = &held_->start;
  if (at_->otherwise == Place::Fresh) follow(number, held_->leading);
  return at_->next;
}

inline void TemplatePrinter::follow(FileNumber number, const Outcome& outcome) {
  if (!outcome.onePiece) {
    followInPieces(number, outcome);
    return;
  }
  if (outcome.end != outcome.fieldEnd) {
    put(number, copy_.data() + outcome.fieldEnd, outcome.end - outcome.fieldEnd);
  }
  at_ = &outcome;
}

inline void TemplatePrinter::put(FileNumber number, const char* bytes, size_t length) {
  if (lane_ != nullptr && lane_->place(bytes, length)) return;
  out_.printText(number, bytes, length, EndNothing);
  lane_ = out_.lentSpace(number);
}

// Literal text with '_' in it, or longer than one piece, is gathered the way
// an item off the plan gathers it.
void TemplatePrinter::followInPieces(FileNumber number, const Outcome& outcome) {
  emitLiteral(number, outcome.fieldEnd, outcome);
}

NumericField TemplatePrinter::takeNumericField(size_t* taken) const {
  NumericField field;
  *taken = 0;
  if (at_->otherwise == Place::Unplanned) {
    *taken = readNumericField(copy_.data() + at_->end, static_cast<size_t>(at_->remaining), field);
  }
  return *taken != 0 ? field : NumericField::none();
}

TextField TemplatePrinter::takeTextField() const {
  if (at_->otherwise != Place::Unplanned) return TextField();
  return readTextField(copy_.data() + at_->end, static_cast<size_t>(at_->remaining));
}

// After an item off the plan that took `taken` bytes of its field.
void TemplatePrinter::finishOffPlan(FileNumber number, size_t taken) {
  if (at_->otherwise != Place::Unplanned) return;  // no template, or it is used up
  emitLiteral(number, at_->end + taken, Outcome());
}

// The general literal scan, from `from` up to the next field start: gathered
// into pieces of the working buffer's size. The statement then stands after
// it, where `planned` says it goes next (the plan's own outcome, when the
// plan knows this literal text).
void TemplatePrinter::emitLiteral(FileNumber number, size_t from, const Outcome& planned) {
  const size_t length = copy_.size();
  size_t gathered = 0;
  const size_t walked = walkLiteral(copy_.data() + from, length - from, [&](char c) {
    work_[gathered++] = c;
    if (gathered == kFieldBufferSize) {
      put(number, work_, gathered);
      gathered = 0;
    }
  });
  if (gathered != 0) put(number, work_, gathered);
  offPlan_ = planned;
  offPlan_.end = static_cast<uint32_t>(from + walked);
  offPlan_.remaining = static_cast<int32_t>(length - offPlan_.end);
  if (offPlan_.remaining == 0) offPlan_.otherwise = Place::UsedUp;
  at_ = &offPlan_;
}

inline TemplatePrinter::Arrival TemplatePrinter::arrivePlanned(FileNumber number) const {
  Arrival arrival;
  arrival.lane = out_.lentSpace(number);
  if (arrival.lane == nullptr) return arrival;  // the general way, piece by piece
  arrival.stop = at_->next;
  if (arrival.stop == nullptr && at_->otherwise == Place::Fresh && held_->leading.onePiece) {
    arrival.before = &held_->leading;
    arrival.stop = arrival.before->next;
  }
  return arrival;
}

// A planned item's piece, which write(at) builds at `at` and whose length it
// returns (at most `most` bytes), and the literal text around its field,
// both straight into the space the printer lent, with one look at its room. False, with nothing
// written, when there is no such space or they do not fit it: the item then prints its piece and
// the literal text the general way.
template <typename Write>
inline bool TemplatePrinter::placeInLane(const Arrival& arrival, size_t most, const Outcome& next,
                                         Write write, bool writesAfter) {
  const PieceSpace* const lane = arrival.lane;
  if (!next.onePiece) return false;
  const size_t before = arrival.before != nullptr ? arrival.before->end : 0;  // from the start
  const size_t after = next.end - next.fieldEnd;
  char* at = lane->room(before + most + after + kSlack);
  if (at == nullptr) return false;
  if (before != 0) copyShort(at, copy_.data(), before);
  const size_t length = write(at + before);
  if (!writesAfter && after != 0)
    copyShort(at + before + length, copy_.data() + next.fieldEnd, after);
  lane->commit(before + length + after);
  at_ = &next;
  return true;
}

// An integer in a plain '#' field: laid out in place, or else its piece
// from formatInteger's other ways (or kept) copied there.
inline size_t TemplatePrinter::placeInteger(const Stop& stop, uint64_t magnitude, bool negative,
                                            char* at) {
  const size_t length = formatIntegerAt(stop.numeric, magnitude, negative, at);
  return length != 0 ? length : placeExponentForm(stop, magnitude, negative, at);
}

// Row numbers beyond their field take one exponent form for thousands of
// rows in turn: the last one is kept with the magnitudes that take it, and
// copied while the numbers stay among them. Only an integer the in-place
// layout declines looks here, so those that fit pay nothing for it. At 10^6
// rows, where nine row numbers in ten take that form: 231 instructions a row
// less (callgrind: 1977.7 M against 2209.1 M), 0.127 s instead of 0.140 to
// /dev/null (median of 25 runs each, side by side).
size_t TemplatePrinter::placeExponentForm(const Stop& stop, uint64_t magnitude, bool negative,
                                          char* at) {
  KeptExponentForm& kept = exponentForm_;
  if (kept.stop == &stop && kept.negative == negative && magnitude >= kept.low &&
      magnitude <= kept.high) {
    copyShort(at, kept.piece, kept.length);
    return kept.length;
  }
  size_t length = 0;
  const char* const piece = formatInteger(stop.numeric, magnitude, negative, work_, &length);
  copyShort(at, piece, length);
  if (length + kSlack <= sizeof kept.piece &&
      number_layout::sameExponentForm(stop.numeric, magnitude, negative, &kept.low, &kept.high)) {
    copyShort(kept.piece, piece, length);
    kept.length = length;
    kept.negative = negative;
    kept.stop = &stop;
  }
  return length;
}

// A numeric item the general way: the field it meets, planned or read now,
// and the piece format(field, &length) lays out there; then what follows
// the field. Kept out of the item, whose usual way then saves fewer
// registers: 22 instructions a table row less (callgrind, 10^5 rows).
template <typename Format>
[[gnu::noinline]] void TemplatePrinter::printNumericGenerally(FileNumber number, Format format) {
  lane_ = out_.lentSpace(number);
  const Stop* const stop = arrive(number);
  size_t taken = 0;
  size_t length = 0;
  const char* const piece =
      format(stop != nullptr ? stop->numeric : takeNumericField(&taken), &length);
  put(number, piece, length);
  if (stop != nullptr) {
    follow(number, stop->afterNumber);
  } else {
    finishOffPlan(number, taken);
  }
}

// A numeric item: on a planned field, its piece and the literal text around
// it placed whole in the lent space; else the general way.
template <typename Format, typename FormatAt>
inline void TemplatePrinter::printNumeric(FileNumber number, uint32_t flags, Format format,
                                          FormatAt formatAt) {
  const Arrival arrival = arrivePlanned(number);
  bool placed = false;
  if (arrival.stop != nullptr && arrival.stop->numeric.plainDigits) {
    // An integer laid out where it goes, or else copied there.
    const Stop& stop = *arrival.stop;
    placed = placeInLane(
        arrival, static_cast<size_t>(stop.numeric.width + kPlainIntegerGrowth), stop.afterNumber,
        [&](char* at) {
          size_t length = formatAt(stop, at);
          if (length == 0) {
            const char* const piece = format(stop.numeric, &length);
            copyShort(at, piece, length);
          }
          return length;
        },
        false);
  } else if (arrival.stop != nullptr) {
    size_t length = 0;
    const char* const piece = format(arrival.stop->numeric, &length);
    placed = placeInLane(
        arrival, length, arrival.stop->afterNumber,
        [&](char* at) {
          copyShort(at, piece, length);
          return length;
        },
        false);
  }
  if (!placed) printNumericGenerally(number, format);
  if ((flags & 3u) != 0) out_.printLineEnd(number, static_cast<int>(flags & 3u));
  if ((flags & LastItem) != 0) release();
}

// An item without flags on a planned plain '#' field, with the leading
// literal text before it at a statement's start, goes into the lent space
// with copies of fixed size for the literal text around it, and calls
// nothing but for an exponent form; the others go on out of line. 79
// instructions a table row less (callgrind, 10^5 rows: 181.9 M against
// 189.8 M).
ErrorCode TemplatePrinter::printTemplateInteger(FileNumber number, int64_t value, uint32_t flags) {
  const PieceSpace* const lane = out_.lentSpace(number);
  size_t before = 0;
  const Stop* const stop = usualStop(&before);
  if (lane != nullptr && stop != nullptr && stop->integerInPlace && flags == 0) {
    const Outcome& next = stop->afterNumber;
    const size_t after = next.end - next.fieldEnd;
    char* const at = lane->room(before + static_cast<size_t>(stop->numeric.width) +
                                kPlainIntegerGrowth + after + kSlack);
    if (at != nullptr) {
      if (before != 0) std::memcpy(at, copy_.data(), kSlack);
      uint64_t magnitude = static_cast<uint64_t>(value);
      if (value < 0) magnitude = 0 - magnitude;
      const size_t length = placeInteger(*stop, magnitude, value < 0, at + before);
      std::memcpy(at + before + length, copy_.data() + next.fieldEnd, kSlack);
      lane->commit(before + length + after);
      at_ = &next;
      return done();
    }
  }
  return printIntegerOutOfLine(number, value, flags);
}

ErrorCode TemplatePrinter::printIntegerOutOfLine(FileNumber number, int64_t value, uint32_t flags) {
  // Unsigned arithmetic takes the most negative value's magnitude too.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0 - magnitude;
  printNumeric(
      number, flags,
      [&](const NumericField& field, size_t* length) {
        return formatInteger(field, magnitude, value < 0, work_, length);
      },
      [&](const Stop& stop, char* at) { return placeInteger(stop, magnitude, value < 0, at); });
  return done();
}

ErrorCode TemplatePrinter::printTemplateUnsigned(FileNumber number, uint64_t value,
                                                 uint32_t flags) {
  printNumeric(
      number, flags,
      [&](const NumericField& field, size_t* length) {
        return formatInteger(field, value, false, work_, length);
      },
      [&](const Stop& stop, char* at) { return placeInteger(stop, value, false, at); });
  return done();
}

ErrorCode TemplatePrinter::printTemplateDouble(FileNumber number, double value, uint32_t flags) {
  const DecimalValue decimal = decimalFromDouble(value);
  printNumeric(
      number, flags,
      [&](const NumericField& field, size_t* length) {
        return formatNumber(field, decimal, work_, length);
      },
      [](const Stop&, char*) { return size_t{0}; });
  return done();
}

ErrorCode TemplatePrinter::printTemplateSingle(FileNumber number, float value, uint32_t flags) {
  const DecimalValue decimal = decimalFromSingle(value);
  printNumeric(
      number, flags,
      [&](const NumericField& field, size_t* length) {
        return formatNumber(field, decimal, work_, length);
      },
      [](const Stop&, char*) { return size_t{0}; });
  return done();
}

// The text's columns in pieces of at most the working buffer's size, each
// built where it goes: in the lent space when it fits there, else in the
// buffer handed to printText.
template <typename Char>
void TemplatePrinter::printColumns(FileNumber number, const Char* text, size_t length,
                                   size_t width) {
  for (size_t column = 0; column < width;) {
    const size_t piece = std::min(width - column, kFieldBufferSize);
    const size_t shown = column < length ? std::min(length - column, piece) : 0;
    char* const at = lane_ != nullptr ? lane_->room(piece) : nullptr;
    if (at != nullptr) {
      placeColumns(at, text + column, shown, piece);
      lane_->commit(piece);
    } else {
      out_.printText(number, stageColumns(text + column, shown, piece), piece, EndNothing);
      lane_ = out_.lentSpace(number);
    }
    column += piece;
  }
}

// A piece of a text field for printText: the characters shown go just
// before the second half of the staging buffer, which holds the fill for
// good, so that a short text needs no fill of its own; a text without a
// NUL byte that covers the piece is its own piece.
template <typename Char>
const char* TemplatePrinter::stageColumns(const Char* from, size_t shown, size_t piece) {
  if constexpr (sizeof(Char) == 1) {
    if (shown == piece && std::memchr(from, 0, shown) == nullptr) return from;
  }
  char* const at = columns_ + kFieldBufferSize - shown;
  placeShown(at, from, shown);
  return at;
}

// A text item on a planned field, placed whole in the lent space: the ready
// fill and the literal text after it with the text laid over, or the text
// cut or filled to a field of another kind. False, with nothing printed,
// when the item takes the general way.
template <typename Char>
inline bool TemplatePrinter::placeText(FileNumber number, const Char* text, size_t length) {
  const Arrival arrival = arrivePlanned(number);
  const Stop* const stop = arrival.stop;
  if (stop == nullptr) return false;
  if (stop->blank != nullptr) {
    const size_t width = stop->text.width;
    const size_t after = stop->afterText.end - stop->afterText.fieldEnd;
    return placeInLane(
        arrival, width, stop->afterText,
        [&](char* at) {
          copyShort(at, stop->blank, width + after);
          placeShown(at, text, std::min(length, width));
          return width;
        },
        true);
  }
  if (stop->text.kind == TextField::Kind::None) return false;
  const size_t width = stop->text.kind == TextField::Kind::Whole ? length : stop->text.width;
  return width <= kFieldBufferSize && placeInLane(
                                          arrival, width, stop->afterText,
                                          [&](char* at) {
                                            placeColumns(at, text, std::min(length, width), width);
                                            return width;
                                          },
                                          false);
}

// A text item the general way: the field it meets, planned or read now; the
// text cut or filled to it; then what follows the field. Kept out of the
// item, which then calls no helper on its usual way and saves fewer
// registers: 39 instructions a table row less (callgrind, 10^5 rows).
template <typename Char>
[[gnu::noinline]] void TemplatePrinter::printTextGenerally(FileNumber number, const Char* text,
                                                           size_t length) {
  lane_ = out_.lentSpace(number);
  const Stop* const stop = arrive(number);
  const TextField field = stop != nullptr ? stop->text : takeTextField();
  if (field.kind != TextField::Kind::None) {
    printColumns(number, text, length, field.kind == TextField::Kind::Whole ? length : field.width);
  }
  if (stop != nullptr) {
    follow(number, stop->afterText);
  } else {
    finishOffPlan(number, field.taken);
  }
}

template <typename Char>
inline void TemplatePrinter::printText(FileNumber number, const Char* text, size_t length,
                                       uint32_t flags) {
  if (!placeText(number, text, length)) printTextGenerally(number, text, length);
  if ((flags & LastItem) != 0) endWithText(number, flags);
}

// After the statement's last item, a text: the line end it asks for, and
// the template released.
ErrorCode TemplatePrinter::endWithText(FileNumber number, uint32_t flags) {
  if ((flags & ItemLineEnd) != 0) out_.printLineEnd(number, EndLine);
  release();
  return done();
}

ErrorCode TemplatePrinter::printTemplateText(FileNumber number, const char* text, size_t length,
                                             uint32_t flags) {
  if (text == nullptr) length = 0;
  printText(number, text, length, flags);
  return done();
}

// A padded text on a planned field of its usual kind goes into the lent
// space as its bytes as they lie, which spares the look at each byte for a
// zero (and the loop's end, which the branch predictor misses at texts of
// every length), and the literal text after it: two copies of fixed size.
// It calls nothing but to end the statement, so that the item saves next
// to no registers; the others go on out of line, the general way for a
// text. 122 instructions a table row less than the padded text placed
// by the general item (callgrind, 10^5 rows: 189.8 M against 198.6 M
// before the statement's last item, 178.5 M against 181.9 M with it).
ErrorCode TemplatePrinter::printTemplatePaddedText(FileNumber number, const char* text,
                                                   size_t length, uint32_t flags) {
  const PieceSpace* const lane = out_.lentSpace(number);
  const Stop* const stop = at_->next;
  if (lane != nullptr && stop != nullptr && stop->paddedInPlace) {
    const Outcome& next = stop->afterText;
    const size_t width = stop->text.width;
    const size_t after = next.end - next.fieldEnd;
    char* const at = lane->room(width + after + kSlack);
    if (at != nullptr) {
      static_assert(kTextPadding <= kSlack);
      std::memcpy(at, text, kTextPadding);
      std::memcpy(at + width, copy_.data() + next.fieldEnd, kSlack);
      lane->commit(width + after);
      at_ = &next;
      return (flags & LastItem) != 0 ? endWithText(number, flags) : done();
    }
  }
  return printPaddedTextOutOfLine(number, text, length, flags);
}

ErrorCode TemplatePrinter::printPaddedTextOutOfLine(FileNumber number, const char* text,
                                                    size_t length, uint32_t flags) {
  printText(number, text, length, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateWideText(FileNumber number, const char16_t* text,
                                                 uint32_t flags) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  printText(number, text, length, flags);
  return done();
}

}  // namespace kp
