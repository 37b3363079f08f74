#pragma once

#include <cstdint>
#include <string>

// What POSIX systems each do in their own way. A system's own versions lie in
// src/platform/posix/<system>/, the portable ones in src/platform/posix/portable/;
// the build takes a system's own where it has one.
namespace kp::posix {

// The path of the running program's file as the system tells it; false where
// it cannot (Linux without /proc, or a system with no such call).
bool systemExecutablePath(std::string* path);

// A monotonic clock in milliseconds, as cheap to read as the system has one:
// the terminal reads it at every console write.
int64_t coarseClockMs();

}  // namespace kp::posix
