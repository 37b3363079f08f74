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

// Shows each NUL byte as a space, so that a text field keeps its width.
void blankNulBytes(char* bytes, size_t count) {
  char* const end = bytes + count;
  for (char* nul = bytes; (nul = static_cast<char*>(std::memchr(nul, 0, end - nul))) != nullptr;) {
    *nul = ' ';
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

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell, FieldLookup lookup)
    : out_(out), errorCell_(errorCell), lookup_(lookup) {
  for (size_t i = 0; i < kKeptTemplates; ++i) kept_[i].following = &kept_[(i + 1) % kKeptTemplates];
  nextKept_ = &kept_[0];
  std::memset(columns_ + kFieldBufferSize, ' ', kFieldBufferSize);
}

ErrorCode TemplatePrinter::done() {
  if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
  return Ok;
}

void TemplatePrinter::consume(size_t count) {
  state_.readPosition += count;
  state_.remaining -= static_cast<int32_t>(count);
}

void TemplatePrinter::release() {
  state_.templateCopy.size_ = 0;  // the bytes stay kept for the next statement
  state_.active = false;
  state_.readPosition = 0;
  state_.remaining = 0;
  held_ = nullptr;
  stop_ = nullptr;
  place_ = Place::NoTemplate;
}

// The kept template after the last one begun is tried first: a program that
// prints its rows with a few statements in turn finds each at the first try.
inline TemplatePrinter::KeptTemplate* TemplatePrinter::findKept(const char* text, size_t length) {
  KeptTemplate* const kept = nextKept_;
  if (kept->length == length && (length == 0 || std::memcmp(kept->bytes.get(), text, length) == 0)) {
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
    if (kept->length == length && (length == 0 || std::memcmp(kept->bytes.get(), text, length) == 0)) {
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
  if (kept.bytes == nullptr || length > kept.capacity) {
    // The old bytes go only after the copy, since text may lie in them.
    const size_t capacity = std::max<size_t>(length, 64);
    std::unique_ptr<char[]> bytes(new char[capacity]);
    if (length != 0) std::memcpy(bytes.get(), text, length);
    kept.bytes = std::move(bytes);
    kept.capacity = capacity;
  } else if (length != 0) {
    std::memmove(kept.bytes.get(), text, length);  // text may lie in a kept template
  }
  kept.length = length;
  plan(kept);
  return &kept;
}

// Reads the template as the items will meet it, with the same readers an
// item uses on a template it reads itself: the literal text at the start,
// then at each field start reached what a numeric and what a text item find
// there and where each leaves the statement. Stops beyond kMaxStops are left
// for the items to read.
void TemplatePrinter::plan(KeptTemplate& kept) const {
  kept.stopCount = 0;
  if (lookup_ == FieldLookup::EveryItem) {
    kept.leading = Outcome();
    return;
  }
  kept.leading = outcomeAt(kept, 0);
  const char* const bytes = kept.bytes.get();
  for (uint32_t i = 0; i < kept.stopCount; ++i) {  // outcomeAt adds the stops it reaches
    Stop& stop = kept.stops[i];
    const char* const at = bytes + stop.position;
    const size_t left = kept.length - stop.position;
    const size_t taken = readNumericField(at, left, stop.numeric);
    if (taken == 0) stop.numeric = NumericField::none();
    stop.afterNumber = outcomeAt(kept, stop.position + taken);
    stop.text = readTextField(at, left);
    stop.afterText = outcomeAt(kept, stop.position + stop.text.taken);
  }
}

TemplatePrinter::Outcome TemplatePrinter::outcomeAt(KeptTemplate& kept, size_t fieldEnd) const {
  size_t printed = 0;
  const size_t walked = walkLiteral(kept.bytes.get() + fieldEnd, kept.length - fieldEnd,
                                    [&printed](char) { ++printed; });
  Outcome outcome;
  outcome.fieldEnd = static_cast<uint32_t>(fieldEnd);
  outcome.end = static_cast<uint32_t>(fieldEnd + walked);
  outcome.remainingAfter = static_cast<int32_t>(kept.length - outcome.end);
  outcome.onePiece = printed == walked && walked <= kFieldBufferSize;
  if (outcome.end == kept.length) {
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

ErrorCode TemplatePrinter::beginTemplate(const char* text, size_t length) {
  if (text == nullptr) length = 0;
  KeptTemplate* const kept = findKept(text, length);
  held_ = kept;
  state_.templateCopy.data_ = kept->bytes.get();
  state_.templateCopy.size_ = kept->length;
  state_.active = true;
  state_.readPosition = 0;
  state_.remaining = static_cast<int32_t>(kept->length);
  stop_ = nullptr;
  place_ = Place::Fresh;
  return done();
}

ErrorCode TemplatePrinter::endTemplate(FileNumber number) {
  // Every item ends on a field start or at the end, so only a template no
  // item has touched has literal text left to print before its first field.
  if (place_ == Place::Fresh) follow(number, held_->leading);
  if (state_.active) release();
  return done();
}

const TemplatePrinter::Stop* TemplatePrinter::arrive(FileNumber number) {
  return stop_ != nullptr ? stop_ : arriveOffPlan(number);
}

const TemplatePrinter::Stop* TemplatePrinter::arriveOffPlan(FileNumber number) {
  // A used-up template starts over, its leading literal text included.
  if (place_ == Place::UsedUp) {
    state_.readPosition = 0;
    state_.remaining = static_cast<int32_t>(state_.templateCopy.size());
    place_ = Place::Fresh;
  }
  if (place_ == Place::Fresh) follow(number, held_->leading);
  return stop_;
}

inline void TemplatePrinter::follow(FileNumber number, const Outcome& outcome) {
  if (!outcome.onePiece) {
    followInPieces(number, outcome);
    return;
  }
  if (outcome.end != outcome.fieldEnd) {
    out_.printText(number, state_.templateCopy.data() + outcome.fieldEnd,
                   outcome.end - outcome.fieldEnd, EndNothing);
  }
  state_.readPosition = outcome.end;
  state_.remaining = outcome.remainingAfter;
  stop_ = outcome.next;
  place_ = outcome.otherwise;
}

// Literal text with '_' in it, or longer than one piece: gathered as an item
// off the plan gathers it.
void TemplatePrinter::followInPieces(FileNumber number, const Outcome& outcome) {
  state_.readPosition = outcome.fieldEnd;
  state_.remaining = static_cast<int32_t>(state_.templateCopy.size() - outcome.fieldEnd);
  emitLiteral(number);
  stop_ = outcome.next;
  place_ = state_.remaining == 0 ? Place::UsedUp : outcome.otherwise;
}

NumericField TemplatePrinter::takeNumericField() {
  NumericField field;
  size_t taken = 0;
  if (place_ == Place::Unplanned) {
    taken = readNumericField(state_.templateCopy.data() + state_.readPosition,
                             static_cast<size_t>(state_.remaining), field);
  }
  if (taken == 0) return NumericField::none();
  consume(taken);
  return field;
}

TextField TemplatePrinter::takeTextField() {
  if (place_ != Place::Unplanned) return TextField();
  const TextField field = readTextField(state_.templateCopy.data() + state_.readPosition,
                                        static_cast<size_t>(state_.remaining));
  consume(field.taken);
  return field;
}

void TemplatePrinter::finishUnplanned(FileNumber number) {
  if (place_ != Place::Unplanned) return;
  emitLiteral(number);
  if (state_.remaining == 0) place_ = Place::UsedUp;
}

void TemplatePrinter::emitLiteral(FileNumber number) {
  if (state_.remaining <= 0) return;
  size_t gathered = 0;
  const size_t walked = walkLiteral(state_.templateCopy.data() + state_.readPosition,
                                    static_cast<size_t>(state_.remaining), [&](char c) {
                                      work_[gathered++] = c;
                                      if (gathered == sizeof work_) {
                                        out_.printText(number, work_, gathered, EndNothing);
                                        gathered = 0;
                                      }
                                    });
  consume(walked);
  if (gathered != 0) out_.printText(number, work_, gathered, EndNothing);
}

// A numeric item: the field it meets, planned or read now, and the piece
// format(field, &length) lays out there; then what follows the field.
template <typename Format>
void TemplatePrinter::printNumeric(FileNumber number, uint32_t flags, Format format) {
  const Stop* const stop = arrive(number);
  size_t length = 0;
  if (stop != nullptr) {
    const char* const piece = format(stop->numeric, &length);
    out_.printText(number, piece, length, EndNothing);
    follow(number, stop->afterNumber);
  } else {
    const char* const piece = format(takeNumericField(), &length);
    out_.printText(number, piece, length, EndNothing);
    finishUnplanned(number);
  }
  if ((flags & 3u) != 0) out_.printLineEnd(number, static_cast<int>(flags & 3u));
  if ((flags & LastItem) != 0) release();
}
ErrorCode TemplatePrinter::printTemplateInteger(FileNumber number, int64_t value, uint32_t flags) {
  // Unsigned arithmetic takes the most negative value's magnitude too.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0 - magnitude;
  printNumeric(number, flags, [&](const NumericField& field, size_t* length) {
    return formatInteger(field, magnitude, value < 0, work_, length);
  });
  return done();
}

ErrorCode TemplatePrinter::printTemplateUnsigned(FileNumber number, uint64_t value,
                                                 uint32_t flags) {
  printNumeric(number, flags, [&](const NumericField& field, size_t* length) {
    return formatInteger(field, value, false, work_, length);
  });
  return done();
}

ErrorCode TemplatePrinter::printTemplateDouble(FileNumber number, double value, uint32_t flags) {
  const DecimalValue decimal = decimalFromDouble(value);
  printNumeric(number, flags, [&](const NumericField& field, size_t* length) {
    return formatNumber(field, decimal, work_, length);
  });
  return done();
}

ErrorCode TemplatePrinter::printTemplateSingle(FileNumber number, float value, uint32_t flags) {
  const DecimalValue decimal = decimalFromSingle(value);
  printNumeric(number, flags, [&](const NumericField& field, size_t* length) {
    return formatNumber(field, decimal, work_, length);
  });
  return done();
}

template <typename Char>
void TemplatePrinter::printColumns(FileNumber number, const Char* text, size_t length,
                                   size_t width) {
  char* const spaces = columns_ + kFieldBufferSize;
  for (size_t column = 0; column < width;) {
    const size_t piece = std::min(width - column, kFieldBufferSize);
    const size_t shown = column < length ? std::min(length - column, piece) : 0;
    const Char* const from = text + column;
    char* const at = spaces - shown;  // the rest of the piece is spaces
    const char* start = at;
    if constexpr (sizeof(Char) == 1) {
      // A NUL byte shows as a space, so that the field keeps its width; a
      // text without one that covers the piece is its own piece.
      if (shown != 0 && std::memchr(from, 0, shown) != nullptr) {
        std::memcpy(at, from, shown);
        blankNulBytes(at, shown);
      } else if (shown == piece) {
        start = from;
      } else if (shown != 0) {
        std::memcpy(at, from, shown);
      }
    } else {
      // One byte a character: the console's 8-bit code page holds the first
      // 256 characters; anything beyond shows as '?'.
      for (size_t i = 0; i < shown; ++i) at[i] = from[i] < 256 ? static_cast<char>(from[i]) : '?';
    }
    out_.printText(number, start, piece, EndNothing);
    column += piece;
  }
}

// A text item: the field it meets, planned or read now; the text cut or
// filled to it; then what follows the field.
template <typename Char>
void TemplatePrinter::printText(FileNumber number, const Char* text, size_t length,
                                uint32_t flags) {
  const Stop* const stop = arrive(number);
  const TextField field = stop != nullptr ? stop->text : takeTextField();
  if (field.kind != TextField::Kind::None) {
    printColumns(number, text, length, field.kind == TextField::Kind::Whole ? length : field.width);
  }
  if (stop != nullptr) {
    follow(number, stop->afterText);
  } else {
    finishUnplanned(number);
  }
  if ((flags & LastItem) != 0) {
    if ((flags & ItemLineEnd) != 0) out_.printLineEnd(number, EndLine);
    release();
  }
}

ErrorCode TemplatePrinter::printTemplateText(FileNumber number, const char* text, size_t length,
                                             uint32_t flags) {
  if (text == nullptr) length = 0;
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
