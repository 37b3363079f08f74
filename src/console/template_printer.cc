#include "console/template_printer.h"

#include <cstring>
#include <limits>

namespace kp {

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell)
    : out_(out), errorCell_(errorCell) {}

ErrorCode TemplatePrinter::done() {
  if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
  return Ok;
}

void TemplatePrinter::consume(size_t count) {
  state_.readPosition += count;
  state_.remaining -= static_cast<int32_t>(count);
}

void TemplatePrinter::release() {
  state_.templateCopy.clear();  // keeps the capacity for the next statement
  state_.active = false;
  state_.readPosition = 0;
  state_.remaining = 0;
}

ErrorCode TemplatePrinter::beginTemplate(const char* text, size_t length) {
  // The count of remaining bytes is 32-bit; a longer template is cut there.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (length > limit) length = limit;
  state_.templateCopy.assign(text != nullptr ? text : "", text != nullptr ? length : 0);
  state_.active = true;
  state_.readPosition = 0;
  state_.remaining = static_cast<int32_t>(state_.templateCopy.size());
  return done();
}

ErrorCode TemplatePrinter::beginTemplate(const char* text) {
  return beginTemplate(text, text != nullptr ? std::strlen(text) : 0);
}

ErrorCode TemplatePrinter::endTemplate(FileNumber number) {
  emitLiteral(number);
  release();
  return done();
}

namespace {

// Bytes that may start a field or escape the next byte; every other byte is
// literal without looking further.
struct SpecialBytes {
  bool special[256] = {};
  constexpr SpecialBytes() {
    for (unsigned char c : {'#', '!', '&', '\\', '$', '*', '.', '+', '_'}) special[c] = true;
  }
};
constexpr SpecialBytes kSpecialBytes;

}  // namespace

// Literal text up to the next field start, '_' making the byte after it
// literal. A run longer than the working buffer goes out in several pieces,
// so the field behind it still receives the next item.
void TemplatePrinter::emitLiteral(FileNumber number) {
  if (!hasTemplate()) return;
  size_t gathered = 0;
  while (state_.remaining > 0) {
    const char* at = readPointer();
    const size_t left = static_cast<size_t>(state_.remaining);
    if (!kSpecialBytes.special[static_cast<unsigned char>(at[0])]) {
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

void TemplatePrinter::startItem(FileNumber number) {
  // A used-up template starts over, its leading literal text included.
  if (hasTemplate() && state_.remaining == 0) {
    state_.readPosition = 0;
    state_.remaining = static_cast<int32_t>(state_.templateCopy.size());
  }
  emitLiteral(number);
}

void TemplatePrinter::finishNumericItem(FileNumber number, uint32_t flags) {
  emitLiteral(number);
  if ((flags & 3u) != 0) out_.printLineEnd(number, static_cast<int>(flags & 3u));
  if ((flags & LastItem) != 0) release();
}

void TemplatePrinter::finishTextItem(FileNumber number, uint32_t flags) {
  emitLiteral(number);
  if ((flags & LastItem) != 0) {
    if ((flags & ItemLineEnd) != 0) out_.printLineEnd(number, EndLine);
    release();
  }
}

void TemplatePrinter::printNumber(FileNumber number, const DecimalValue& value, uint32_t flags) {
  startItem(number);
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
  finishNumericItem(number, flags);
}

ErrorCode TemplatePrinter::printTemplateInteger(FileNumber number, int64_t value, uint32_t flags) {
  printNumber(number, decimalFromSigned(value), flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateUnsigned(FileNumber number, uint64_t value,
                                                 uint32_t flags) {
  printNumber(number, decimalFromUnsigned(value), flags);
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

int64_t TemplatePrinter::readTextField(size_t textLength) {
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
  size_t spaces = 0;
  while (spaces + 1 < left && at[spaces + 1] == ' ') ++spaces;
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

ErrorCode TemplatePrinter::printTemplateText(FileNumber number, const char* text, size_t length,
                                             uint32_t flags) {
  if (text == nullptr) length = 0;
  startItem(number);
  const int64_t width = readTextField(length);
  if (width > 0) {
    // A NUL byte shows as a space, so that the field keeps its width.
    printTextColumns(
        number, length, static_cast<size_t>(width),
        [text](char* destination, size_t from, size_t count) {
          std::memcpy(destination, text + from, count);
          char* const end = destination + count;
          for (char* nul = destination;
               (nul = static_cast<char*>(std::memchr(nul, 0, end - nul))) != nullptr;) {
            *nul = ' ';
          }
        });
  }
  finishTextItem(number, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateWideText(FileNumber number, const char16_t* text,
                                                 uint32_t flags) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  startItem(number);
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
  finishTextItem(number, flags);
  return done();
}

}  // namespace kp
