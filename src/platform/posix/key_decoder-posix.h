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

// Turns the first key of a terminal's input bytes into a key-down event
// (repeat count 1). Returns the bytes it took, or 0 when the bytes so far
// are the start of a sequence that may still go on; with `final` set the
// bytes are taken as they are (a lone ESC is the Esc key, ESC x is Alt+x,
// a cut-off sequence comes through as characters). Never needs more than
// kMaxSequence bytes to decide.
size_t decodeKey(const unsigned char* bytes, size_t count, bool final, KeyEvent* key);

constexpr size_t kMaxSequence = 32;

}  // namespace kp::posix
