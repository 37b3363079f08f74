#include "input/field_reader.h"

#include <cstring>

#include "input/numeric_conversion.h"

namespace kp {

namespace {

bool isBlank(int c) {
  return c == ' ' || c == '\t';
}

}  // namespace

ErrorCode FieldReader::beginFileInput(FileNumber number) {
  FileSlot* slot = files_.slotForNumber(number);
  if (slot == nullptr || slot->hooks == nullptr) return files_.setLastError(IllegalCall);
  cursor_.source = slot;
  std::string().swap(cursor_.sourceText);  // releases its storage too
  cursor_.textPosition = 0;
  return files_.setLastError(Ok);
}

int FieldReader::nextInputChar() {
  FileSlot* source = cursor_.source;
  if (source != nullptr && source->hooks != nullptr) {
    // A disk file with nothing pushed back is read straight from its stream
    // buffer; readBytes would deliver the same byte, only slower.
    if (source->hooks == &diskFileHooks && source->putBackCount == 0 && source->stream != nullptr) {
      return source->stream->getByte();
    }
    unsigned char byte;
    size_t delivered = 0;
    files_.readBytes(source, &byte, 1, &delivered);
    return delivered == 1 ? byte : -1;
  }
  if (cursor_.textPosition < cursor_.sourceText.size()) {
    return static_cast<unsigned char>(cursor_.sourceText[cursor_.textPosition++]);
  }
  return -1;
}

void FieldReader::putBackInputChar(int byte) {
  if (byte < 0) return;  // the end of the data is never pushed back
  FileSlot* source = cursor_.source;
  if (source != nullptr && source->hooks != nullptr) {
    const unsigned char value = static_cast<unsigned char>(byte);
    files_.putBackBytes(source, &value, 1);
    return;
  }
  if (cursor_.textPosition > 0) --cursor_.textPosition;
}

size_t FieldReader::readFieldToken(size_t maxLength, FieldKind kind, char* buffer,
                                   bool* looksFloating) {
  const bool integerKind = kind == FieldKind::Integer;
  bool floating = false;
  bool inQuotes = false;
  bool radixPrefixSeen = false;
  size_t count = 0;

  int c;
  do {
    c = nextInputChar();
  } while (isBlank(c));

  if (c >= 0) {
    for (;;) {
      if (count >= maxLength) break;  // only a zero limit gets here
      switch (c) {
        case '\n':
          goto done;
        case '\r': {
          const int after = nextInputChar();
          if (after != '\n') putBackInputChar(after);
          goto done;
        }
        case ',':
          if (!inQuotes) goto done;
          buffer[count++] = ',';
          break;
        case ' ':
        case '\t':
          if (!inQuotes && integerKind) goto trailing;
          buffer[count++] = static_cast<char>(c);
          break;
        case '"':
          if (!inQuotes) {
            if (count == 0) {
              inQuotes = true;
            } else {
              buffer[count++] = '"';
            }
          } else if (integerKind) {
            inQuotes = false;  // the number goes on after the closing quote
          } else {
            c = nextInputChar();
            goto trailing;
          }
          break;
        case '&':
          buffer[count++] = '&';
          radixPrefixSeen = true;
          break;
        case '.':
        case 'E':
        case 'e':
          buffer[count++] = static_cast<char>(c);
          if (!radixPrefixSeen) floating = true;
          break;
        case 'D':
        case 'd':
          if (!radixPrefixSeen) {
            floating = true;
            if (integerKind) c = c == 'D' ? 'E' : 'e';
          }
          buffer[count++] = static_cast<char>(c);
          break;
        default:
          buffer[count++] = static_cast<char>(c);
          break;
      }
      c = nextInputChar();
      if (c < 0 || count == maxLength) break;
    }

  trailing:
    // After the token: blanks are skipped and one separator is consumed;
    // any other byte is left to begin the next field.
    while (isBlank(c)) c = nextInputChar();
    if (c == '\r') {
      const int after = nextInputChar();
      if (after != '\n') putBackInputChar(after);
    } else if (c >= 0 && c != '\n' && c != ',') {
      putBackInputChar(c);
    }
  }

done:
  buffer[count] = '\0';
  if (looksFloating != nullptr) *looksFloating = floating;
  return count;
}

ErrorCode FieldReader::readIntegerField(int32_t& value) {
  char token[kIntegerFieldLimit + 1];
  bool looksFloating = false;
  readFieldToken(kIntegerFieldLimit, FieldKind::Integer, token, &looksFloating);
  // The conversions see the token as a string: a zero byte ends it.
  const size_t length = std::strlen(token);
  value = looksFloating ? parseFloatToken(token, length) : parseIntegerToken(token, length);
  return files_.setLastError(Ok);
}

ErrorCode FieldReader::readTextField(std::string& text) {
  char token[kTextFieldLimit + 1];
  readFieldToken(kTextFieldLimit, FieldKind::Text, token, nullptr);
  text.assign(token, std::strlen(token));  // a zero byte cuts the text
  return files_.setLastError(Ok);
}

}  // namespace kp
