#include "console/template_printer.h"

#include <cstring>
#include <limits>

// The per-item path is a few dozen instructions; a call and its register
// saves would be a good part of it. Rare paths stay out of line.
#if defined(__GNUC__)
#define KP_HOT inline __attribute__((always_inline))
#define KP_COLD __attribute__((noinline, cold))
#define KP_APART __attribute__((noinline))
#else
#define KP_HOT inline
#define KP_COLD
#define KP_APART
#endif

namespace kp {

namespace {

// How the literal scan treats a byte: most bytes are plain text; four always
// start a field; the rest start a field or escape the next byte only
// depending on what follows them.
enum ByteClass : uint8_t { Plain, AlwaysField, DependsOnNext };

struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    for (unsigned char c : {'#', '!', '&', '\\'}) of[c] = AlwaysField;
    for (unsigned char c : {'$', '*', '.', '+', '_'}) of[c] = DependsOnNext;
  }
};
constexpr ByteClasses kByteClasses;

KP_HOT uint8_t classOf(char c) {
  return kByteClasses.of[static_cast<unsigned char>(c)];
}

// Bytes that may turn a run of '#' into more than a plain digit field:
// grouping, a point, exponent marks and trailing signs.
struct RunExtenders {
  bool of[256] = {};
  constexpr RunExtenders() {
    for (unsigned char c : {',', '.', '^', '+', '-'}) of[c] = true;
  }
};
constexpr RunExtenders kRunExtenders;

// "00" to "99", so that digits go out two at a time.
struct DigitPairs {
  char of[200] = {};
  constexpr DigitPairs() {
    for (int i = 0; i < 100; ++i) {
      of[2 * i] = static_cast<char>('0' + i / 10);
      of[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kDigitPairs;

KP_HOT char* putPair(char* end, uint32_t pair) {
  end -= 2;
  std::memcpy(end, kDigitPairs.of + 2 * pair, 2);
  return end;
}

// Writes the digits of a magnitude right to left, ending before `end`.
KP_HOT char* putDigits(char* end, uint64_t magnitude) {
  while (magnitude > std::numeric_limits<uint32_t>::max()) {
    *--end = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  // Narrower division is cheaper, and row values are small: four digits a
  // step, then what is left in pairs.
  auto narrow = static_cast<uint32_t>(magnitude);
  while (narrow >= 10000) {
    const uint32_t low = narrow % 10000;
    narrow /= 10000;
    end = putPair(end, low % 100);
    end = putPair(end, low / 100);
  }
  if (narrow >= 100) {
    end = putPair(end, narrow % 100);
    narrow /= 100;
  }
  if (narrow >= 10) return putPair(end, narrow);
  *--end = static_cast<char>('0' + narrow);
  return end;
}

constexpr uint64_t kEightSpaces = 0x2020202020202020ull;
constexpr uint64_t kLowBits = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Nonzero when one of the eight bytes is zero.
KP_HOT uint64_t zeroByteIn(uint64_t eight) {
  return (eight - kLowBits) & ~eight & kHighBits;
}

KP_HOT uint64_t load8(const char* from) {
  uint64_t eight;
  std::memcpy(&eight, from, sizeof eight);
  return eight;
}

KP_HOT void store8(char* to, uint64_t eight) {
  std::memcpy(to, &eight, sizeof eight);
}

KP_HOT uint32_t load4(const char* from) {
  uint32_t four;
  std::memcpy(&four, from, sizeof four);
  return four;
}

KP_HOT void store4(char* to, uint32_t four) {
  std::memcpy(to, &four, sizeof four);
}

// Nonzero when one of the four bytes is zero.
KP_HOT uint32_t zeroByteIn4(uint32_t four) {
  return (four - 0x01010101u) & ~four & 0x80808080u;
}

// Short runs (under 8 bytes) are read as two overlapping words of 4, or as
// first, middle and last byte, rather than byte by byte.

// True when bytes[0..count) holds a NUL byte; reads nothing outside them.
KP_HOT bool holdsNul(const char* bytes, size_t count) {
  if (count >= 8) {
    uint64_t zero = zeroByteIn(load8(bytes)) | zeroByteIn(load8(bytes + count - 8));
    for (size_t i = 8; i + 8 < count; i += 8) zero |= zeroByteIn(load8(bytes + i));
    return zero != 0;
  }
  if (count >= 4) return (zeroByteIn4(load4(bytes)) | zeroByteIn4(load4(bytes + count - 4))) != 0;
  if (count == 0) return false;
  return bytes[0] == 0 || bytes[count / 2] == 0 || bytes[count - 1] == 0;
}

// Copies count bytes and says whether they held a NUL byte.
KP_HOT bool copyNoting(char* to, const char* from, size_t count) {
  if (count >= 8) {
    // The first and the last word, which ends at the last byte, and any
    // between them.
    const uint64_t first = load8(from);
    const uint64_t last = load8(from + count - 8);
    uint64_t zero = zeroByteIn(first) | zeroByteIn(last);
    for (size_t i = 8; i + 8 < count; i += 8) {
      const uint64_t eight = load8(from + i);
      zero |= zeroByteIn(eight);
      store8(to + i, eight);
    }
    store8(to, first);
    store8(to + count - 8, last);
    return zero != 0;
  }
  if (count >= 4) {
    const uint32_t first = load4(from);
    const uint32_t last = load4(from + count - 4);
    store4(to, first);
    store4(to + count - 4, last);
    return (zeroByteIn4(first) | zeroByteIn4(last)) != 0;
  }
  if (count == 0) return false;
  const char first = from[0];
  const char middle = from[count / 2];
  const char last = from[count - 1];
  to[0] = first;
  to[count / 2] = middle;
  to[count - 1] = last;
  return first == 0 || middle == 0 || last == 0;
}

// Counts the spaces from `at` on, eight at a time while they last.
KP_HOT size_t countSpaces(const char* at, size_t limit) {
  size_t count = 0;
  while (limit - count >= 8 && load8(at + count) == kEightSpaces) count += 8;
  while (count < limit && at[count] == ' ') ++count;
  return count;
}

// Spaces over [to, to + count), and up to kFillOvershoot bytes beyond,
// which the caller has room for.
constexpr size_t kFillOvershoot = 15;
KP_HOT void fillSpacesOver(char* to, size_t count) {
  for (size_t i = 0; i < count; i += 16) {
    store8(to + i, kEightSpaces);
    store8(to + i + 8, kEightSpaces);
  }
}

// Shows each NUL byte as a space, so that a text field keeps its width.
KP_COLD void blankNulBytes(char* bytes, size_t count) {
  char* const end = bytes + count;
  for (char* nul = bytes; (nul = static_cast<char*>(std::memchr(nul, 0, end - nul))) != nullptr;) {
    *nul = ' ';
  }
}

KP_HOT uint64_t differ16(const char* a, const char* b) {
  return (load8(a) ^ load8(b)) | (load8(a + 8) ^ load8(b + 8));
}

// Equal bytes, compared two words at a time.
KP_HOT bool sameBytes(const char* a, const char* b, size_t count) {
  if (count >= 16) {
    uint64_t differ = differ16(a + count - 16, b + count - 16);
    for (size_t i = 0; i + 16 < count; i += 16) differ |= differ16(a + i, b + i);
    return differ == 0;
  }
  if (count >= 8)
    return ((load8(a) ^ load8(b)) | (load8(a + count - 8) ^ load8(b + count - 8))) == 0;
  if (count >= 4) {
    return ((load4(a) ^ load4(b)) | (load4(a + count - 4) ^ load4(b + count - 4))) == 0;
  }
  if (count == 0) return true;
  return a[0] == b[0] && a[count / 2] == b[count / 2] && a[count - 1] == b[count - 1];
}

constexpr uint32_t kNoPlainRun = std::numeric_limits<uint32_t>::max();

// The literal run from `from` when it can go out straight from the template:
// plain bytes only, up to a byte that always starts a field or to the end,
// at most one working buffer. Its length, else kNoPlainRun.
uint32_t plainRunAt(const char* bytes, size_t length, size_t from) {
  size_t run = 0;
  while (from + run < length && classOf(bytes[from + run]) == Plain) ++run;
  if (run > kFieldBufferSize) return kNoPlainRun;
  if (from + run < length && classOf(bytes[from + run]) != AlwaysField) return kNoPlainRun;
  return static_cast<uint32_t>(run);
}

}  // namespace

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell)
    : out_(out), errorCell_(errorCell) {
  for (size_t i = 0; i < kKeptTemplates; ++i) kept_[i].following = &kept_[(i + 1) % kKeptTemplates];
  nextKept_ = &kept_[0];
}

KP_HOT ErrorCode TemplatePrinter::done() {
  if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
  return Ok;
}

KP_HOT void TemplatePrinter::consume(size_t count) {
  state_.readPosition += count;
  state_.remaining -= static_cast<int32_t>(count);
}

KP_HOT void TemplatePrinter::release() {
  state_.templateCopy.size_ = 0;  // the bytes stay kept for the next statement
  state_.active = false;
  state_.readPosition = 0;
  state_.remaining = 0;
  held_ = nullptr;
  ready_ = nullptr;
}

// Looks for a kept template with these bytes, the one after the last begun
// first: a program that prints its rows with a few statements in turn finds
// each at the first try. The others are tried out of line, and when none
// holds these bytes, they are kept in place of one.
KP_HOT TemplatePrinter::KeptTemplate* TemplatePrinter::findKept(const char* text, size_t length) {
  KeptTemplate* const kept = nextKept_;
  if (kept->length == length && sameBytes(kept->bytes.get(), text, length)) {
    nextKept_ = kept->following;
    return kept;
  }
  return findOrKeep(text, length);
}

KP_COLD TemplatePrinter::KeptTemplate* TemplatePrinter::findOrKeep(const char* text,
                                                                   size_t length) {
  KeptTemplate* kept = nextKept_->following;
  for (size_t tries = 1; tries < kKeptTemplates; ++tries, kept = kept->following) {
    if (kept->length == length && sameBytes(kept->bytes.get(), text, length)) {
      nextKept_ = kept->following;
      return kept;
    }
  }
  return keep(text, length);
}

// Copies a new template over the kept one in turn and looks at its fields.
KP_COLD TemplatePrinter::KeptTemplate* TemplatePrinter::keep(const char* text, size_t length) {
  // The count of remaining bytes is 32-bit; a longer template is cut there.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (length > limit) length = limit;
  KeptTemplate& kept = *nextKept_;
  nextKept_ = kept.following;
  if (kept.bytes == nullptr || length > kept.capacity) {
    // The old bytes go only after the copy, since text may lie in them.
    const size_t capacity = length > 64 ? length : 64;
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

// Finds the leading literal and then, field by field, what the fast paths
// can take, as far as every literal on the way is plain.
void TemplatePrinter::plan(KeptTemplate& kept) {
  const char* const bytes = kept.bytes.get();
  const size_t length = kept.length;
  kept.stepCount = 0;
  const uint32_t leading = plainRunAt(bytes, length, 0);
  kept.leadingPlain = leading != kNoPlainRun;
  kept.leadingLength = kept.leadingPlain ? leading : 0;
  kept.firstReady = nullptr;
  if (!kept.leadingPlain) return;
  size_t at = leading;
  while (at < length && kept.stepCount < kMaxSteps) {
    Step& step = kept.steps[kept.stepCount++];
    step = Step();
    step.fieldStart = static_cast<uint32_t>(at);
    const char* const field = bytes + at;
    const size_t left = length - at;
    if (field[0] == '#') {
      size_t width = 1;
      while (width < left && field[width] == '#') ++width;
      // A byte that may extend the field leaves it to the general reader.
      const bool plain =
          width == left || !kRunExtenders.of[static_cast<unsigned char>(field[width])];
      if (plain && width <= static_cast<size_t>(kMaxFieldPositions)) {
        step.kind = FieldKind::Digits;
        step.fieldLength = static_cast<uint32_t>(width);
      }
    } else if (field[0] == '\\' && left >= 2 && (field[1] == ' ' || field[1] == '\\')) {
      const size_t spaces = countSpaces(field + 1, left - 1);
      // Whole-word fills may overshoot the field.
      if (spaces + 1 < left && field[spaces + 1] == '\\' &&
          spaces + 2 <= kFieldBufferSize - kFillOvershoot) {
        step.kind = FieldKind::TextColumns;
        step.fieldLength = static_cast<uint32_t>(spaces + 2);
      }
    }
    // How much the general way takes of any other field is its own affair.
    if (step.kind == FieldKind::Other) break;
    const uint32_t literal = plainRunAt(bytes, length, at + step.fieldLength);
    if (literal == kNoPlainRun) {
      // The general scan prints the literal, so the field goes the general
      // way too; the plan ends.
      step.kind = FieldKind::Other;
      break;
    }
    step.literalLength = literal;
    at += step.fieldLength + literal;
    step.end = static_cast<uint32_t>(at);
    step.remainingAfter = static_cast<int32_t>(length - at);
  }
  // A step is followed by the next when the template is not used up.
  for (uint32_t i = 0; i + 1 < kept.stepCount; ++i) {
    Step& step = kept.steps[i];
    step.next =
        step.kind != FieldKind::Other && step.remainingAfter > 0 ? &kept.steps[i + 1] : nullptr;
  }
  if (kept.stepCount != 0) kept.steps[kept.stepCount - 1].next = nullptr;
  kept.firstReady = leading == 0 && kept.stepCount != 0 ? &kept.steps[0] : nullptr;
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
  ready_ = kept->firstReady;
  return done();
}

ErrorCode TemplatePrinter::endTemplate(FileNumber number) {
  // A statement whose last item released the template has nothing left.
  if (hasTemplate()) {
    // Past the template's start every item has already printed the literal
    // text up to the next field, so only a fresh template can have some.
    if (state_.readPosition == 0) emitLiteral(number);
    release();
  }
  return done();
}

// Literal text up to the next field start. A plain run (no escapes, no
// byte whose meaning depends on the next one, at most one working buffer)
// goes out straight from the template copy; anything else is gathered.
KP_HOT void TemplatePrinter::emitLiteral(FileNumber number) {
  if (!hasTemplate() || state_.remaining <= 0) return;
  const char* const at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  size_t run = 0;
  while (run < left && classOf(at[run]) == Plain) ++run;
  if (run <= sizeof work_ && (run == left || classOf(at[run]) == AlwaysField)) {
    if (run != 0) {
      consume(run);
      out_.printText(number, at, run, EndNothing);
    }
    return;
  }
  emitEscapedLiteral(number);
}

// The general literal scan: '_' makes the byte after it literal, and a run
// longer than the working buffer goes out in several pieces, so the field
// behind it still receives the next item.
KP_COLD void TemplatePrinter::emitEscapedLiteral(FileNumber number) {
  size_t gathered = 0;
  while (state_.remaining > 0) {
    const char* at = readPointer();
    const size_t left = static_cast<size_t>(state_.remaining);
    if (classOf(at[0]) == Plain) {
      work_[gathered++] = at[0];
      consume(1);
    } else if (startsTemplateField(at, left)) {
      break;
    } else if (at[0] == '_' && left >= 2) {
      work_[gathered++] = at[1];
      consume(2);
    } else {
      work_[gathered++] = at[0];
      consume(1);
    }
    if (gathered == sizeof work_) {
      out_.printText(number, work_, gathered, EndNothing);
      gathered = 0;
    }
  }
  if (gathered != 0) out_.printText(number, work_, gathered, EndNothing);
}

KP_HOT const TemplatePrinter::Step* TemplatePrinter::startItem(FileNumber number) {
  if (!hasTemplate()) return nullptr;
  // A used-up template starts over, its leading literal text included.
  if (state_.remaining == 0) {
    state_.readPosition = 0;
    state_.remaining = static_cast<int32_t>(state_.templateCopy.size());
  }
  // Every item ends by printing the literal text up to the next field, so
  // there is some before this one only at the template's start; elsewhere
  // no step was ready, and the general way takes the item.
  if (state_.readPosition != 0) return nullptr;
  const KeptTemplate& kept = *held_;
  if (!kept.leadingPlain) {
    emitLiteral(number);
    return nullptr;
  }
  if (kept.leadingLength != 0) {
    consume(kept.leadingLength);
    out_.printText(number, state_.templateCopy.data(), kept.leadingLength, EndNothing);
  }
  return kept.stepCount != 0 ? &kept.steps[0] : nullptr;
}

KP_HOT void TemplatePrinter::takeStep(const Step& step) {
  state_.readPosition = step.end;
  state_.remaining = step.remainingAfter;
  ready_ = step.next;
}

KP_HOT void TemplatePrinter::finishStep(FileNumber number, const Step& step) {
  if (step.literalLength != 0) {
    out_.printText(number, state_.templateCopy.data() + (step.end - step.literalLength),
                   step.literalLength, EndNothing);
  }
}

KP_COLD void TemplatePrinter::finishGeneralItem(FileNumber number) {
  emitLiteral(number);
  findReadyStep();
}

// The item may have taken a field the plan knows, or none: the step that
// stands at the new position, if one does, is ready for the next item.
void TemplatePrinter::findReadyStep() {
  ready_ = nullptr;
  if (!hasTemplate() || state_.remaining <= 0) return;
  const KeptTemplate& kept = *held_;
  if (!kept.leadingPlain) return;  // the plan has no steps
  for (uint32_t i = 0; i < kept.stepCount; ++i) {
    if (kept.steps[i].fieldStart == state_.readPosition) {
      ready_ = &kept.steps[i];
      return;
    }
  }
}

KP_HOT void TemplatePrinter::endNumericItem(FileNumber number, uint32_t flags) {
  if ((flags & 3u) != 0) out_.printLineEnd(number, static_cast<int>(flags & 3u));
  if ((flags & LastItem) != 0) release();
}

KP_HOT void TemplatePrinter::endTextItem(FileNumber number, uint32_t flags) {
  if ((flags & LastItem) != 0) {
    if ((flags & ItemLineEnd) != 0) out_.printLineEnd(number, EndLine);
    release();
  }
}

KP_HOT void TemplatePrinter::printDigits(FileNumber number, const Step& step, uint64_t magnitude,
                                         bool negative) {
  const size_t width = step.fieldLength;
  char* const end = work_ + sizeof work_;
  char* start = putDigits(end, magnitude);
  if (negative) *--start = '-';
  const size_t used = static_cast<size_t>(end - start);
  if (used <= width) {
    // Right to left in whole words: the working buffer leaves room for the
    // overshoot, since a field is at most kMaxFieldPositions wide.
    const size_t fill = width - used;
    store8(start - 8, kEightSpaces);
    for (size_t i = 16; i < fill + 8; i += 8) store8(start - i, kEightSpaces);
    start -= fill;
  } else if (used <= width + 3) {
    *--start = '%';  // grows the field rather than cutting the number
  } else {
    start = exponentForm(start + (negative ? 1 : 0), negative, width);
  }
  takeStep(step);
  out_.printText(number, start, static_cast<size_t>(end - start), EndNothing);
}

// A number far too wide for its '#' field, from its digits at the end of the
// working buffer: '%', the sign place, a mantissa of one digit less than the
// field (at least one) with halves going up, "E+" and the power of ten, which
// carries a second '%' when it has two digits. Returns where the piece
// starts; like any field it ends at the buffer's end.
KP_APART char* TemplatePrinter::exponentForm(const char* digits, bool negative, size_t width) {
  char* const end = work_ + sizeof work_;
  const size_t count = static_cast<size_t>(end - digits);
  const size_t mantissa = width >= 2 ? width - 1 : 1;  // fewer than count here
  // The mantissa is taken aside first: the piece overwrites the digits.
  char shown[20];
  for (size_t i = 0; i < mantissa; ++i) shown[i] = digits[i];
  size_t power = count - mantissa;
  if (digits[mantissa] >= '5') {
    size_t i = mantissa;
    while (i > 0 && shown[i - 1] == '9') shown[--i] = '0';
    if (i > 0) {
      ++shown[i - 1];
    } else {
      shown[0] = '1';  // all nines: ten to the mantissa's length, one digit more
      ++power;
    }
  }
  char* start = putDigits(end, power);
  if (power > 9) *--start = '%';
  *--start = '+';
  *--start = 'E';
  for (size_t i = mantissa; i > 0; --i) *--start = shown[i - 1];
  if (negative) {
    *--start = '-';
  } else if (width >= 2) {
    *--start = ' ';
  }
  *--start = '%';
  return start;
}

KP_COLD void TemplatePrinter::printNumberField(FileNumber number, const DecimalValue& value) {
  NumericField field;
  size_t taken = 0;
  if (hasTemplate() && state_.remaining > 0) {
    taken = readNumericField(readPointer(), static_cast<size_t>(state_.remaining), field);
  }
  if (taken != 0) {
    consume(taken);
  } else {
    field = NumericField::none();
  }
  size_t length = 0;
  const char* piece = formatNumber(field, value, work_, &length);
  out_.printText(number, piece, length, EndNothing);
}

void TemplatePrinter::printNumber(FileNumber number, const DecimalValue& value, uint32_t flags) {
  if (ready_ == nullptr) startItem(number);
  printNumberField(number, value);
  finishGeneralItem(number);
  endNumericItem(number, flags);
}

ErrorCode TemplatePrinter::printTemplateInteger(FileNumber number, int64_t value, uint32_t flags) {
  // Unsigned arithmetic takes the most negative value's magnitude too.
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) magnitude = 0 - magnitude;
  const Step* step = ready_ != nullptr ? ready_ : startItem(number);
  if (step != nullptr && step->kind == FieldKind::Digits) {
    printDigits(number, *step, magnitude, value < 0);
    finishStep(number, *step);
  } else {
    printNumberField(number, decimalFromSigned(value));
    finishGeneralItem(number);
  }
  endNumericItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateUnsigned(FileNumber number, uint64_t value,
                                                 uint32_t flags) {
  const Step* step = ready_ != nullptr ? ready_ : startItem(number);
  if (step != nullptr && step->kind == FieldKind::Digits) {
    printDigits(number, *step, value, false);
    finishStep(number, *step);
  } else {
    printNumberField(number, decimalFromUnsigned(value));
    finishGeneralItem(number);
  }
  endNumericItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateDouble(FileNumber number, double value, uint32_t flags) {
  printNumber(number, decimalFromDouble(value), flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateSingle(FileNumber number, float value, uint32_t flags) {
  printNumber(number, decimalFromSingle(value), flags);
  return done();
}

KP_COLD int64_t TemplatePrinter::readTextField(size_t textLength) {
  if (!hasTemplate() || state_.remaining <= 0) return -1;
  const char* at = readPointer();
  const size_t left = static_cast<size_t>(state_.remaining);
  if (at[0] == '!') {
    consume(1);
    return 1;
  }
  if (at[0] == '&') {
    consume(1);
    return static_cast<int64_t>(textLength);
  }
  if (at[0] != '\\' || left < 2 || (at[1] != ' ' && at[1] != '\\')) return -1;
  // A backslash field: what is read of it stays read even when it turns out
  // malformed.
  const size_t spaces = countSpaces(at + 1, left - 1);
  consume(1 + spaces);
  if (spaces + 1 < left && at[spaces + 1] == '\\') {
    consume(1);
    return static_cast<int64_t>(spaces) + 2;
  }
  return -1;
}

template <typename CopyText>
void TemplatePrinter::printTextColumns(FileNumber number, size_t length, size_t width,
                                       CopyText copyText) {
  for (size_t column = 0; column < width;) {
    const size_t piece = width - column < sizeof work_ ? width - column : sizeof work_;
    const size_t fromText =
        column < length ? (length - column < piece ? length - column : piece) : 0;
    copyText(work_, column, fromText);
    std::memset(work_ + fromText, ' ', piece - fromText);
    out_.printText(number, work_, piece, EndNothing);
    column += piece;
  }
}

// Narrow enough for the fill's overshoot, as the plan makes sure.
KP_HOT void TemplatePrinter::printColumns(FileNumber number, const char* text, size_t length,
                                          size_t width) {
  if (length >= width) {
    if (!holdsNul(text, width)) {
      // Cut: the text's own bytes are the field.
      out_.printText(number, text, width, EndNothing);
      return;
    }
    std::memcpy(work_, text, width);
    blankNulBytes(work_, width);
  } else {
    if (copyNoting(work_, text, length)) blankNulBytes(work_, length);
    fillSpacesOver(work_ + length, width - length);
  }
  out_.printText(number, work_, width, EndNothing);
}

KP_COLD void TemplatePrinter::printTextField(FileNumber number, const char* text, size_t length) {
  const int64_t width = readTextField(length);
  if (width <= 0) return;
  // A NUL byte shows as a space, so that the field keeps its width.
  printTextColumns(number, length, static_cast<size_t>(width),
                   [text](char* destination, size_t from, size_t count) {
                     if (count == 0) return;  // a null text has nothing to copy
                     std::memcpy(destination, text + from, count);
                     blankNulBytes(destination, count);
                   });
}

ErrorCode TemplatePrinter::printTemplateText(FileNumber number, const char* text, size_t length,
                                             uint32_t flags) {
  if (text == nullptr) length = 0;
  const Step* step = ready_ != nullptr ? ready_ : startItem(number);
  if (step != nullptr && step->kind == FieldKind::TextColumns) {
    takeStep(*step);
    printColumns(number, text, length, step->fieldLength);
    finishStep(number, *step);
  } else {
    printTextField(number, text, length);
    finishGeneralItem(number);
  }
  endTextItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateWideText(FileNumber number, const char16_t* text,
                                                 uint32_t flags) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  if (ready_ == nullptr) startItem(number);
  const int64_t width = readTextField(length);
  if (width > 0) {
    // One byte a character: the console's 8-bit code page holds the first
    // 256 characters; anything beyond shows as '?'.
    printTextColumns(number, length, static_cast<size_t>(width),
                     [text](char* destination, size_t from, size_t count) {
                       for (size_t i = 0; i < count; ++i) {
                         const char16_t c = text[from + i];
                         destination[i] = c < 256 ? static_cast<char>(c) : '?';
                       }
                     });
  }
  finishGeneralItem(number);
  endTextItem(number, flags);
  return done();
}

}  // namespace kp
