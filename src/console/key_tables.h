#pragma once

#include <cstdint>

namespace kp {

// Columns of both key tables, in the order the modifiers are tried last to first.
enum KeyTableColumn : int {
  PlainColumn = 0,
  ShiftColumn = 1,
  CtrlColumn = 2,
  AltColumn = 3,
};

// An entry of 255 or less only says "take the event's own character"; above
// 255 it is an extended code whose high byte is the extended scan code.
constexpr uint16_t kLastCharacterEntry = 255;

// Keys that set the enhanced-key bit and carry no character, by scan code.
struct EnhancedKeyRow {
  uint16_t scanCode;
  uint16_t entries[4];  // indexed by KeyTableColumn
};

constexpr int kEnhancedKeyRows = 12;
extern const EnhancedKeyRow enhancedKeyTable[kEnhancedKeyRows];

// Every other key below scan code 89 (the US PC keyboard, scan-code set 1),
// indexed by scan code.
constexpr int kPlainKeyRows = 89;
extern const uint16_t plainKeyTable[kPlainKeyRows][4];

// The row of enhancedKeyTable for scanCode, or nullptr.
const EnhancedKeyRow* findEnhancedKey(uint16_t scanCode);

}  // namespace kp
