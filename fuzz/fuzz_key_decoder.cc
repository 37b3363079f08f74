// The terminal key decoder over arbitrary input byte streams, fed as a
// terminal delivers them: every call takes no more than it was given, decides
// within kMaxSequence bytes, always moves on once the input is final, and
// gives the same key whether the bytes came at once or one by one.
#include <cstdint>
#include <cstring>

#include "fuzz_common.h"
#include "platform/posix/key_decoder-posix.h"

namespace {

using kp::posix::decodeKey;
using kp::posix::kMaxSequence;

bool sameKey(const kp::KeyEvent& a, const kp::KeyEvent& b) {
  return a.keyDown == b.keyDown && a.repeatCount == b.repeatCount &&
         a.virtualKeyCode == b.virtualKeyCode && a.virtualScanCode == b.virtualScanCode &&
         a.character == b.character && a.controlKeyState == b.controlKeyState;
}

void checkKey(const kp::KeyEvent& key) {
  KP_CHECK(key.keyDown != 0);
  KP_CHECK(key.repeatCount == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  size_t keys = 0;
  while (at < size) {
    const size_t left = size - at;
    const size_t window = left < kMaxSequence ? left : kMaxSequence;
    const bool final = left <= kMaxSequence;

    kp::KeyEvent whole;
    size_t taken = decodeKey(data + at, window, false, &whole);
    KP_CHECK(taken <= window);
    if (window == kMaxSequence) KP_CHECK(taken > 0);  // never needs more
    if (taken > 0) {
      checkKey(whole);
      // Byte by byte, as a slow terminal delivers it: the first prefix that
      // decides must decide the same way.
      for (size_t prefix = 1; prefix <= taken; ++prefix) {
        kp::KeyEvent early;
        const size_t n = decodeKey(data + at, prefix, false, &early);
        KP_CHECK(n <= prefix);
        if (n != 0) {
          KP_CHECK(n == taken);
          KP_CHECK(sameKey(early, whole));
          break;
        }
      }
    } else {
      KP_CHECK(final);
      // The input ends here: the bytes go through as they are.
      taken = decodeKey(data + at, window, true, &whole);
      KP_CHECK(taken > 0 && taken <= window);
      checkKey(whole);
    }
    at += taken;
    KP_CHECK(++keys <= size);
  }

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
