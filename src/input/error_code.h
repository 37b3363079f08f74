#pragma once

#include <cstdint>

namespace kp {

// Result of every file, field and print operation. Failures are reported only
// this way; nothing throws and nothing prints.
enum ErrorCode : int32_t {
  Ok = 0,
  IllegalCall = 1,   // bad number, number (not) open, bad mode, unmeasurable file
  FileNotFound = 2,  // the platform could not open the path
  FileIO = 3,        // an input/output operation failed (push-back overflow)
};

}  // namespace kp
