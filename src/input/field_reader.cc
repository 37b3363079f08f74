#include "input/field_reader.h"

#include <cstring>

#include "input/numeric_conversion.h"

namespace kp {

namespace {

bool isBlank(int c) {
  return c == ' ' || c == '\t';
}

// Bytes that are simply stored, whatever the field kind and quoting: most
// bytes of a field take this one test.
struct OrdinaryBytes {
  bool table[256];
  constexpr OrdinaryBytes() : table() {
    for (int c = 0; c < 256; ++c) table[c] = true;
    for (unsigned char c : {'\n', '\r', ',', ' ', '\t', '"', '&', '.', 'E', 'e', 'D', 'd'}) {
      table[c] = false;
    }
  }
};
constexpr OrdinaryBytes kOrdinary;

// Bytes a text field stores once it has begun, quoted or not: all but the
// separators. (A quote after the first byte is an ordinary byte.)
struct TextBytes {
  bool table[256];
  constexpr TextBytes() : table() {
    for (int c = 0; c < 256; ++c) table[c] = true;
    for (unsigned char c : {'\n', '\r', ','}) table[c] = false;
  }
};
constexpr TextBytes kTextBytes;

}  // namespace

ErrorCode FieldReader::beginFileInput(FileNumber number) {
  FileSlot* slot = files_.slotForNumber(number);
  if (slot == nullptr || slot->hooks == nullptr) return files_.setLastError(IllegalCall);
  cursor_.source = slot;
  std::string().swap(cursor_.sourceText);  // releases its storage too
  cursor_.textPosition = 0;
  return files_.setLastError(Ok);
}

int FieldReader::nextInputCharSlow() {
  FileSlot* source = cursor_.source;
  if (source != nullptr && source->hooks != nullptr) {
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

// The source's bytes for one token, taken from the stream's buffer through
// local pointers. The token's byte stores may alias anything, so reading
// through the stream's own pointers would reload them after every byte.
// Anything beyond the buffer goes through the reader's one-byte services.
class FieldReader::ByteWindow {
 public:
  explicit ByteWindow(FieldReader& reader) : reader_(reader) { acquire(); }
  ~ByteWindow() { release(); }
  ByteWindow(const ByteWindow&) = delete;
  ByteWindow& operator=(const ByteWindow&) = delete;

  int next() {
    if (next_ != limit_) return *next_++;
    release();
    const int c = reader_.nextInputChar();
    acquire();
    return c;
  }

  // The usual field, whole in the buffer: it begins with a byte that is
  // simply stored, goes on with such bytes and ends at a comma or a line
  // end. Such a field is copied and its separator consumed at once; for any
  // other field nothing is consumed and false sends it the byte-by-byte way.
  bool takeSimpleField(FieldKind kind, char* out, size_t maxLength, size_t* length) {
    const unsigned char* start = next_;
    const unsigned char* q = start;
    if (q == limit_) return false;
    if (kind == FieldKind::Integer) {
      while (q != limit_ && kOrdinary.table[*q]) ++q;
    } else if (kOrdinary.table[*q] ||
               (*q != ' ' && *q != '\t' && *q != '"' && kTextBytes.table[*q])) {
      ++q;
      while (q != limit_ && kTextBytes.table[*q]) ++q;
    }
    const size_t count = static_cast<size_t>(q - start);
    if (q == limit_ || count > maxLength) return false;
    const unsigned char* after = q + 1;
    if (*q == '\r') {
      if (after == limit_) return false;  // whether an LF follows is not in the buffer yet
      if (*after == '\n') ++after;
    } else if (*q != ',' && *q != '\n') {
      return false;
    }
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<char>(start[i]);
    next_ = after;
    *length = count;
    return true;
  }

  void putBack(int c) {
    release();
    reader_.putBackInputChar(c);
    acquire();
  }

 private:
  void acquire() {
    FileSlot* source = reader_.cursor_.source;
    if (source != nullptr && source->hooks == &diskFileHooks && source->putBackCount == 0 &&
        source->stream != nullptr) {
      stream_ = source->stream;
      begin_ = next_ = stream_->bufferedBegin();
      limit_ = stream_->bufferedEnd();
    }
  }

  void release() {
    if (stream_ == nullptr) return;
    stream_->consumeBufferedTo(next_);
    stream_ = nullptr;
    begin_ = next_ = limit_ = nullptr;
  }

  FieldReader& reader_;
  FileStream* stream_ = nullptr;
  const unsigned char* begin_ = nullptr;
  const unsigned char* next_ = nullptr;
  const unsigned char* limit_ = nullptr;
};

size_t FieldReader::readFieldToken(size_t maxLength, FieldKind kind, char* buffer,
                                   bool* looksFloating) {
  const bool integerKind = kind == FieldKind::Integer;
  bool floating = false;
  bool inQuotes = false;
  bool radixPrefixSeen = false;
  size_t count = 0;
  ByteWindow input(*this);

  // A text field's fraction look is asked for only by tests; they get it the long way.
  const bool simpleAllowed = kind == FieldKind::Integer || looksFloating == nullptr;
  if (simpleAllowed && input.takeSimpleField(kind, buffer, maxLength, &count)) {
    buffer[count] = '\0';
    if (looksFloating != nullptr) *looksFloating = false;
    return count;
  }

  int c;
  do {
    c = input.next();
  } while (isBlank(c));

  if (c >= 0) {
    for (;;) {
      if (count >= maxLength) break;  // only a zero limit gets here
      if (kOrdinary.table[c]) {
        buffer[count++] = static_cast<char>(c);
        c = input.next();
        if (c < 0 || count == maxLength) break;
        continue;
      }
      switch (c) {
        case '\n':
          goto done;
        case '\r': {
          const int after = input.next();
          if (after != '\n') input.putBack(after);
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
            c = input.next();
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
      c = input.next();
      if (c < 0 || count == maxLength) break;
    }

  trailing:
    // After the token: blanks are skipped and one separator is consumed;
    // any other byte is left to begin the next field.
    while (isBlank(c)) c = input.next();
    if (c == '\r') {
      const int after = input.next();
      if (after != '\n') input.putBack(after);
    } else if (c >= 0 && c != '\n' && c != ',') {
      input.putBack(c);
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
  const size_t length = std::strlen(token);  // short: at most 67 bytes
  value = looksFloating ? parseFloatToken(token, length) : parseIntegerToken(token, length);
  return files_.setLastError(Ok);
}

ErrorCode FieldReader::readTextField(std::string& text) {
  char token[kTextFieldLimit + 1];
  const size_t count = readFieldToken(kTextFieldLimit, FieldKind::Text, token, nullptr);
  const void* zero = std::memchr(token, 0, count);  // a zero byte cuts the text
  text.assign(token, zero != nullptr ? static_cast<const char*>(zero) - token : count);
  return files_.setLastError(Ok);
}

}  // namespace kp
