// The terminal key decoder over arbitrary input byte streams, fed as a
// terminal delivers them: every call takes no more than it was given, decides
// within kMaxSequence bytes, always moves on once the input is final, and
// decides the same way whether the bytes came at once or one by one. Then a
// stream made only of what terminals send on their own (reports, answers,
// paste markers), built from the same bytes and fed in pieces of any size,
// must never give a key.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "platform/posix/key_decoder-posix.h"
#include "platform/posix/terminal_input-posix.h"

namespace {

using kp::posix::DecodedInput;
using kp::posix::decodeInput;
using kp::posix::InputKind;
using kp::posix::kMaxSequence;

bool sameKey(const kp::KeyEvent& a, const kp::KeyEvent& b) {
  return a.keyDown == b.keyDown && a.repeatCount == b.repeatCount &&
         a.virtualKeyCode == b.virtualKeyCode && a.virtualScanCode == b.virtualScanCode &&
         a.character == b.character && a.controlKeyState == b.controlKeyState;
}

bool sameItem(const DecodedInput& a, const kp::KeyEvent& aKey, const DecodedInput& b,
              const kp::KeyEvent& bKey) {
  if (a.taken != b.taken || a.kind != b.kind) return false;
  if (a.kind == InputKind::Key) return sameKey(aKey, bKey);
  if (a.kind == InputKind::CursorReport) return a.row == b.row && a.column == b.column;
  return true;
}

void checkItem(const DecodedInput& item, const kp::KeyEvent& key, size_t given) {
  KP_CHECK(item.taken <= given);
  if (item.kind == InputKind::Incomplete) {
    KP_CHECK(item.taken == 0);
    return;
  }
  KP_CHECK(item.taken > 0);
  if (item.kind == InputKind::Key) {
    KP_CHECK(key.keyDown != 0);
    KP_CHECK(key.repeatCount == 1);
  }
}

void decodeWhole(const uint8_t* data, size_t size) {
  size_t at = 0;
  while (at < size) {
    const size_t left = size - at;
    const size_t window = left < kMaxSequence ? left : kMaxSequence;
    const bool final = left <= kMaxSequence;

    kp::KeyEvent whole;
    DecodedInput item = decodeInput(data + at, window, false, &whole);
    checkItem(item, whole, window);
    if (window == kMaxSequence) KP_CHECK(item.kind != InputKind::Incomplete);  // never needs more
    if (item.kind != InputKind::Incomplete) {
      // Byte by byte, as a slow terminal delivers it: the first prefix that
      // decides must decide the same way.
      for (size_t prefix = 1; prefix <= item.taken; ++prefix) {
        kp::KeyEvent early;
        const DecodedInput first = decodeInput(data + at, prefix, false, &early);
        checkItem(first, early, prefix);
        if (first.kind != InputKind::Incomplete) {
          KP_CHECK(sameItem(first, early, item, whole));
          break;
        }
      }
    } else {
      KP_CHECK(final);
      // The input ends here: the bytes go through as they are.
      item = decodeInput(data + at, window, true, &whole);
      checkItem(item, whole, window);
      KP_CHECK(item.kind != InputKind::Incomplete);
    }
    at += item.taken;
  }
}

// Reads choices from the fuzz input; zeros once it is used up.
class Choices {
 public:
  Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool left() const { return at_ < size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  int number(int limit) { return (byte() | (byte() << 8)) % limit; }
  // A decimal parameter, sometimes empty.
  std::string parameter() {
    const uint8_t b = byte();
    return b % 8 == 0 ? std::string() : std::to_string(number(b % 2 ? 10000 : 300));
  }
  // Bytes from `low` to `high`.
  std::string text(int most, uint8_t low, uint8_t high) {
    std::string out;
    const int count = number(most + 1);
    for (int i = 0; i < count; ++i) out += static_cast<char>(low + byte() % (high - low + 1));
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void appendUtf8(std::string& out, int value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

// One thing a terminal sends on its own.
std::string report(Choices& c) {
  const std::string csi = "\x1b[";
  switch (c.byte() % 16) {
    case 0:
      return csi + (c.byte() % 2 ? "I" : "O");  // focus
    case 1: {                                   // mouse, X10: three bytes from 0x20
      std::string out = csi + "M";
      for (int i = 0; i < 3; ++i) out += static_cast<char>(0x20 + c.byte() % 0xE0);
      return out;
    }
    case 2: {  // mouse, values up to 2015 as UTF-8
      std::string out = csi + "M";
      for (int i = 0; i < 3; ++i) appendUtf8(out, 0x20 + c.number(2016));
      return out;
    }
    case 3:  // mouse, SGR
      return csi + "<" + c.parameter() + ";" + c.parameter() + ";" + c.parameter() +
             (c.byte() % 2 ? "M" : "m");
    case 4:  // mouse, urxvt
      return csi + c.parameter() + ";" + c.parameter() + ";" + c.parameter() + "M";
    case 5: {  // cursor position, not from the top row: with none owed, 1;m R is a modified F3
      const std::string row = c.parameter();
      return csi + (row == "1" ? "2" : row) + ";" + c.parameter() + "R";
    }
    case 6:  // cursor position with page
      return csi + "?" + c.parameter() + ";" + c.parameter() + ";" + c.parameter() + "R";
    case 7: {  // device attributes, primary or secondary
      std::string out = csi + (c.byte() % 2 ? "?" : ">") + c.parameter();
      const int more = c.byte() % 12;
      for (int i = 0; i < more; ++i) out += ";" + c.parameter();
      return out + "c";
    }
    case 8:  // status
      return csi + (c.byte() % 2 ? "?" : "") + c.parameter() + "n";
    case 9:  // mode report
      return csi + (c.byte() % 2 ? "?" : "") + c.parameter() + ";" + c.parameter() + "$y";
    case 10:  // window size and position reports
      return csi + c.parameter() + ";" + c.parameter() + ";" + c.parameter() + "t";
    case 11:  // paste markers
      return csi + (c.byte() % 2 ? "200~" : "201~");
    case 12:  // device control answers: unit id, version, settings
      return "\x1bP" + c.text(200, 0x20, 0x7E) + "\x1b\\";
    case 13:  // colour and other answers, ended by BEL or ST
      return "\x1b]" + c.text(200, 0x20, 0x7E) + (c.byte() % 2 ? "\x07" : "\x1b\\");
    case 14: {  // any private sequence
      std::string out = csi + static_cast<char>('<' + c.byte() % 4) + c.text(20, 0x30, 0x3F);
      return out + static_cast<char>(0x40 + c.byte() % 0x3F);
    }
    default: {  // any sequence with intermediate bytes
      std::string out = csi + c.parameter() + c.text(3, 0x20, 0x2F);
      out += static_cast<char>(0x20 + c.byte() % 0x10);
      return out + static_cast<char>(0x40 + c.byte() % 0x3F);
    }
  }
}

void reportsGiveNoKey(const uint8_t* data, size_t size) {
  Choices choices(data, size);
  kp::posix::TerminalInput input;
  // Some reports may be owed to queries that gave up (no input to wait on).
  const int owed = choices.byte() % 3;
  int row = 0;
  int column = 0;
  for (int i = 0; i < owed; ++i) KP_CHECK(!input.awaitCursorReport(-1, 0, &row, &column));

  std::string stream;
  while (choices.left() && stream.size() < 8192) stream += report(choices);
  kp::KeyEvent key;
  size_t at = 0;
  Choices pieces(data, size);
  while (at < stream.size()) {
    size_t piece = 1 + pieces.byte() % 64;
    if (piece > stream.size() - at) piece = stream.size() - at;
    size_t room = 0;
    unsigned char* to = input.room(&room);
    KP_CHECK(room >= piece);  // what decides is taken out: room stays
    std::memcpy(to, stream.data() + at, piece);
    input.added(piece);
    at += piece;
    KP_CHECK(!input.nextKey(false, &key));
  }
  KP_CHECK(!input.nextKey(true, &key));
  KP_CHECK(input.size() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  decodeWhole(data, size);
  reportsGiveNoKey(data, size);

  // The keyboard maps answer for any code without reading out of their tables.
  if (size >= 5) {
    uint32_t code = 0;
    std::memcpy(&code, data, sizeof code);
    (void)kp::posix::usMapVirtualKey(code, data[4] % 4);
    (void)kp::posix::usMapVirtualKey(code & 0xFF, 0);
    (void)kp::posix::usMapVirtualKey(code & 0xFF, 2);
    const int16_t scan = kp::posix::usVkKeyScan(static_cast<char>(data[4]));
    KP_CHECK(scan == -1 || (scan & 0xFF) != 0);
  }
  return 0;
}
