#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/program.h"

namespace kp {

// One record of a recipe file.
struct RecipeEntry {
  int32_t number = 0;
  FieldText shortText;
  FieldText longText;
};

// Everything of the run up to and including the wait for a key; returns
// instead of ending the process so that tests can look at the result.
void runComparisonSteps(Program& program, const std::string& directory, char separator);

// The program's run: forms the paths beside the executable, compares, waits
// for a key and ends the process with status 0. `invokedAs` is argv[0].
[[noreturn]] void runComparison(Program& program, const char* invokedAs);

// The running executable's directory: its path cut before the last
// separator, or the empty text.
std::string executableDirectory(const std::string& executablePath, char separator);

// Byte-wise comparison: 0 when equal, -1 / +1 by the first differing byte
// (unsigned), else by length.
int compareTexts(std::string_view first, std::string_view second);

}  // namespace kp
