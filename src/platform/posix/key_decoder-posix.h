#pragma once

#include <cstddef>
#include <cstdint>

#include "console/key_event_source.h"

namespace kp::posix {

// The key mapping of a US keyboard: virtual-key code to scan code (type 0)
// and to its unshifted character (type 2, letters upper case); 0 when none.
uint32_t usMapVirtualKey(uint32_t code, uint32_t mapType);

// The key that types `character` on a US keyboard: low byte virtual-key
// code, high byte bit 0 Shift, bit 1 Ctrl, bit 2 Alt; -1 when none does.
int16_t usVkKeyScan(char character);

// What the first bytes of a terminal's input are.
enum class InputKind : uint8_t {
  Incomplete,    // the start of something that may still go on: wait for more
  Key,           // a key press
  CursorReport,  // "ESC [ row ; column R", the answer to a cursor-position query
  // Something no key press sends: focus and mouse reports, the terminal's
  // answers to queries, paste markers, and sequences that are unknown, cut
  // off or malformed. It is taken whole and ends no wait.
  NotAKey,
};

struct DecodedInput {
  size_t taken = 0;  // bytes the item takes; 0 while incomplete
  InputKind kind = InputKind::Incomplete;
  int row = 0;  // of a cursor report, counted from 1
  int column = 0;
  // A cursor report from the top row whose bytes are also xterm's
  // Shift/Ctrl/Alt+F3 (ESC [ 1 ; m R): that key is in *key.
  bool alsoKey = false;
};

// Decodes the first item of a terminal's input bytes; a key becomes a
// key-down event (repeat count 1) in *key. With `final` set the bytes are all
// there will be, so nothing is incomplete: a lone ESC is the Esc key, ESC x is
// Alt+x, a cut-off sequence is no key. Never needs more than kMaxSequence
// bytes to decide.
DecodedInput decodeInput(const unsigned char* bytes, size_t count, bool final, KeyEvent* key);

// Long enough for the longest answer a terminal gives to the usual queries
// (device attributes, colour and version strings).
constexpr size_t kMaxSequence = 256;

}  // namespace kp::posix
