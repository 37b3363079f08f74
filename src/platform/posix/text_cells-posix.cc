#include "platform/posix/text_cells-posix.h"

#include "platform/posix/unicode-posix.h"

#include <cstring>

namespace kp::posix {

namespace {

// Code points of the bytes 0x80 to 0xFF; 0 where the code page has none.
constexpr char32_t kWindows1252[128] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039,
    0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3,
    0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB,
    0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3,
    0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

constexpr char32_t kCodePage850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557,
    0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB,
    0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

constexpr char kInstead = '?';

// The code point of the well-formed UTF-8 character at p (shortest form, no
// surrogate, at most U+10FFFF) and its length in *size; -1 with size 1
// where none starts.
int32_t decode(const unsigned char* p, size_t left, size_t* size) {
  *size = 1;
  const unsigned b0 = p[0];
  if (b0 < 0x80) return static_cast<int32_t>(b0);
  auto trail = [&](size_t i, unsigned low, unsigned high) {
    return i < left && p[i] >= low && p[i] <= high;
  };
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (!trail(1, 0x80, 0xBF)) return -1;
    *size = 2;
    return static_cast<int32_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    const unsigned low = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned high = b0 == 0xED ? 0x9F : 0xBF;
    if (!trail(1, low, high) || !trail(2, 0x80, 0xBF)) return -1;
    *size = 3;
    return static_cast<int32_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    const unsigned low = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned high = b0 == 0xF4 ? 0x8F : 0xBF;
    if (!trail(1, low, high) || !trail(2, 0x80, 0xBF) || !trail(3, 0x80, 0xBF)) return -1;
    *size = 4;
    return static_cast<int32_t>(((b0 & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) |
                                (p[3] & 0x3F));
  }
  return -1;
}

bool wellFormed(const char* bytes, size_t length) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < length;) {
    size_t size = 1;
    if (decode(p + i, length - i, &size) < 0) return false;
    i += size;
  }
  return true;
}

// Characters that would steer the terminal: controls, and the overrides and
// isolates that reorder what follows them.
bool steers(int32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) ||
         (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

// The cells a shown character takes; Latin, Greek and the like below U+0300
// take one without asking.
size_t widthOf(int32_t codePoint) {
  if (codePoint < 0x300) return 1;
  return static_cast<size_t>(cellWidth(codePoint));
}

size_t encode(char32_t codePoint, char* out) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 3;
}

// How far whole characters go.
struct Span {
  size_t taken = 0;    // bytes read
  size_t written = 0;  // bytes shown
  size_t cells = 0;
};

// UTF-8 as shown, in whole grapheme clusters as far as they fit `columns`
// cells: a malformed byte and a character that steers show as '?'. Writes
// what is shown at `out` when there is one.
Span walkUtf8(const char* bytes, size_t length, size_t columns, char* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  Span whole;  // the clusters that fit
  size_t clusterCells = 0;
  size_t written = 0;
  int32_t previous = -1;
  int32_t state = 0;
  for (size_t i = 0; i < length;) {
    size_t size = 1;
    const int32_t codePoint = decode(p + i, length - i, &size);
    const bool instead = codePoint < 0 || steers(codePoint);
    const int32_t shown = instead ? kInstead : codePoint;
    // Without a limit there is nothing to cut, and no cluster to find.
    if (columns != SIZE_MAX && previous >= 0 &&
        clusterBreak(previous, shown, &state)) {
      if (whole.cells + clusterCells > columns) return whole;
      whole = {i, written, whole.cells + clusterCells};
      clusterCells = 0;
    }
    previous = shown;
    clusterCells += instead ? 1 : widthOf(codePoint);
    if (out != nullptr) {
      if (instead) {
        out[written] = kInstead;
      } else {
        std::memcpy(out + written, p + i, size);
      }
    }
    written += instead ? 1 : size;
    i += size;
  }
  if (whole.cells + clusterCells <= columns) whole = {length, written, whole.cells + clusterCells};
  return whole;
}

// One cell a byte, cut at `columns`: C0, DEL and the C1 bytes show as '?',
// and in a legacy text the bytes from 0x80 up as the code page's characters.
Span walkBytes(const char* bytes, size_t length, size_t columns, char* out,
               const char32_t* codePage) {
  Span span;
  span.taken = length < columns ? length : columns;
  span.cells = span.taken;
  for (size_t i = 0; i < span.taken; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x20 || byte == 0x7F) {
      out[span.written++] = kInstead;
    } else if (byte < 0x80) {
      out[span.written++] = static_cast<char>(byte);
    } else if (codePage != nullptr && codePage[byte - 0x80] != 0) {
      span.written += encode(codePage[byte - 0x80], out + span.written);
    } else if (codePage == nullptr && byte >= 0xA0) {
      out[span.written++] = static_cast<char>(byte);
    } else {
      out[span.written++] = kInstead;
    }
  }
  return span;
}

// The code page of a legacy text: 850 where its German letters are 850's.
const char32_t* codePageOf(const char* text, size_t length) {
  int dos = 0;
  int windows = 0;
  for (size_t i = 0; i < length; ++i) {
    switch (static_cast<unsigned char>(text[i])) {
      case 0x81:
      case 0x84:
      case 0x8E:
      case 0x94:
      case 0x99:
      case 0x9A:
      case 0xE1:
        ++dos;
        break;
      case 0xC4:
      case 0xD6:
      case 0xDC:
      case 0xDF:
      case 0xE4:
      case 0xF6:
      case 0xFC:
        ++windows;
        break;
      default:
        break;
    }
  }
  return dos > windows ? kCodePage850 : kWindows1252;
}

}  // namespace

char32_t fromWindows1252(unsigned char byte) {
  return byte < 0x80 ? byte : kWindows1252[byte - 0x80];
}

char32_t fromCodePage850(unsigned char byte) {
  return byte < 0x80 ? byte : kCodePage850[byte - 0x80];
}

size_t TerminalTextCells::layoutText(const char* text, size_t length, size_t columns, char* out,
                                     size_t* cells) const {
  if (length > kMostLaidOut) length = kMostLaidOut;
  Span span;
  if (printableAscii(text, length)) {
    span.written = span.cells = length < columns ? length : columns;
    std::memcpy(out, text, span.written);
  } else if (!utf8_) {
    span = walkBytes(text, length, columns, out, nullptr);
  } else if (wellFormed(text, length)) {
    span = walkUtf8(text, length, columns, out);
  } else {
    span = walkBytes(text, length, columns, out, codePageOf(text, length));
  }
  *cells = span.cells;
  return span.written;
}

size_t TerminalTextCells::cellsOf(const char* bytes, size_t length) const {
  if (!utf8_ || printableAscii(bytes, length)) return length;
  // A cluster takes the cells of its characters together.
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t cells = 0;
  for (size_t i = 0; i < length;) {
    size_t size = 1;
    const int32_t codePoint = decode(p + i, length - i, &size);
    cells += codePoint < 0 || steers(codePoint) ? 1 : widthOf(codePoint);
    i += size;
  }
  return cells;
}

size_t TerminalTextCells::fitting(const char* bytes, size_t length, size_t columns,
                                  size_t* cells) const {
  if (!utf8_ || printableAscii(bytes, length)) {
    const size_t taken = length < columns ? length : columns;
    *cells = taken;
    return taken;
  }
  const Span span = walkUtf8(bytes, length, columns, nullptr);
  *cells = span.cells;
  return span.taken;
}

size_t TerminalTextCells::shown(const char* bytes, size_t length, char* out,
                                size_t* cells) const {
  Span span;
  if (printableAscii(bytes, length)) {
    std::memcpy(out, bytes, length);
    span.written = span.cells = length;
  } else if (!utf8_) {
    span = walkBytes(bytes, length, length, out, nullptr);
  } else {
    span = walkUtf8(bytes, length, SIZE_MAX, out);
  }
  *cells = span.cells;
  return span.written;
}

}  // namespace kp::posix
