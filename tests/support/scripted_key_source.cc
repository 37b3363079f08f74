#include "support/scripted_key_source.h"

#include <cctype>

namespace kp::test {

namespace {

struct UsKey {
  uint16_t virtualKey;
  uint16_t scanCode;
  uint8_t character;  // unshifted, as the map gives it (letters upper case)
};

// clang-format off
constexpr UsKey kUsKeys[] = {
    {0x08, 0x0E, 0x08}, {0x09, 0x0F, 0x09}, {0x0C, 0x4C, 0}, {0x0D, 0x1C, 0x0D}, {0x10, 0x2A, 0},
    {0x11, 0x1D, 0},    {0x12, 0x38, 0},    {0x14, 0x3A, 0},    {0x1B, 0x01, 0x1B},
    {0x20, 0x39, ' '},  {0x21, 0x49, 0},    {0x22, 0x51, 0},    {0x23, 0x4F, 0},
    {0x24, 0x47, 0},    {0x25, 0x4B, 0},    {0x26, 0x48, 0},    {0x27, 0x4D, 0},
    {0x28, 0x50, 0},    {0x2D, 0x52, 0},    {0x2E, 0x53, 0},
    {'0', 0x0B, '0'}, {'1', 0x02, '1'}, {'2', 0x03, '2'}, {'3', 0x04, '3'}, {'4', 0x05, '4'},
    {'5', 0x06, '5'}, {'6', 0x07, '6'}, {'7', 0x08, '7'}, {'8', 0x09, '8'}, {'9', 0x0A, '9'},
    {'A', 0x1E, 'A'}, {'B', 0x30, 'B'}, {'C', 0x2E, 'C'}, {'D', 0x20, 'D'}, {'E', 0x12, 'E'},
    {'F', 0x21, 'F'}, {'G', 0x22, 'G'}, {'H', 0x23, 'H'}, {'I', 0x17, 'I'}, {'J', 0x24, 'J'},
    {'K', 0x25, 'K'}, {'L', 0x26, 'L'}, {'M', 0x32, 'M'}, {'N', 0x31, 'N'}, {'O', 0x18, 'O'},
    {'P', 0x19, 'P'}, {'Q', 0x10, 'Q'}, {'R', 0x13, 'R'}, {'S', 0x1F, 'S'}, {'T', 0x14, 'T'},
    {'U', 0x16, 'U'}, {'V', 0x2F, 'V'}, {'W', 0x11, 'W'}, {'X', 0x2D, 'X'}, {'Y', 0x15, 'Y'},
    {'Z', 0x2C, 'Z'},
    {0x60, 0x52, '0'}, {0x61, 0x4F, '1'}, {0x62, 0x50, '2'}, {0x63, 0x51, '3'},
    {0x64, 0x4B, '4'}, {0x65, 0x4C, '5'}, {0x66, 0x4D, '6'}, {0x67, 0x47, '7'},
    {0x68, 0x48, '8'}, {0x69, 0x49, '9'}, {0x6A, 0x37, '*'}, {0x6B, 0x4E, '+'},
    {0x6D, 0x4A, '-'}, {0x6E, 0x53, '.'}, {0x6F, 0x35, '/'},
    {0x70, 0x3B, 0}, {0x71, 0x3C, 0}, {0x72, 0x3D, 0}, {0x73, 0x3E, 0}, {0x74, 0x3F, 0},
    {0x75, 0x40, 0}, {0x76, 0x41, 0}, {0x77, 0x42, 0}, {0x78, 0x43, 0}, {0x79, 0x44, 0},
    {0x7A, 0x57, 0}, {0x7B, 0x58, 0},
    {0x90, 0x45, 0}, {0x91, 0x46, 0},
    {0xA0, 0x2A, 0}, {0xA1, 0x36, 0}, {0xA2, 0x1D, 0}, {0xA3, 0x1D, 0}, {0xA4, 0x38, 0},
    {0xA5, 0x38, 0},
    {0xBA, 0x27, ';'}, {0xBB, 0x0D, '='}, {0xBC, 0x33, ','}, {0xBD, 0x0C, '-'},
    {0xBE, 0x34, '.'}, {0xBF, 0x35, '/'}, {0xC0, 0x29, '`'}, {0xDB, 0x1A, '['},
    {0xDC, 0x2B, '\\'}, {0xDD, 0x1B, ']'}, {0xDE, 0x28, '\''},
};
// clang-format on

// Characters typed with Shift on the US keyboard, and the key's unshifted one.
constexpr char kShifted[] = "!@#$%^&*()_+:<>?~{}|\"";
constexpr char kUnshifted[] = "1234567890-=;,./`[]\\'";

const UsKey* findUsKey(uint32_t virtualKey) {
  for (const UsKey& key : kUsKeys) {
    if (key.virtualKey == virtualKey) return &key;
  }
  return nullptr;
}

InputEvent makeKey(bool down, uint16_t virtualKey, uint32_t state, int character) {
  InputEvent event;
  event.eventType = KeyEventType;
  event.key.keyDown = down ? 1 : 0;
  event.key.repeatCount = 1;
  event.key.virtualKeyCode = virtualKey;
  event.key.virtualScanCode =
      static_cast<uint16_t>(ScriptedKeySource::usMapVirtualKey(virtualKey, 0));
  if (character < 0) {
    // What the key types unmodified or with Shift; letters follow Shift only.
    uint32_t own = ScriptedKeySource::usMapVirtualKey(virtualKey, 2);
    if (own >= 'A' && own <= 'Z' && (state & ShiftPressed) == 0) own = own - 'A' + 'a';
    character = static_cast<int>(own);
  }
  event.key.character = static_cast<uint8_t>(character);
  event.key.controlKeyState = state;
  return event;
}

}  // namespace

InputEvent ScriptedKeySource::keyDown(uint16_t virtualKey, uint32_t state, int character) {
  return makeKey(true, virtualKey, state, character);
}

InputEvent ScriptedKeySource::keyUp(uint16_t virtualKey, uint32_t state, int character) {
  return makeKey(false, virtualKey, state, character);
}

InputEvent ScriptedKeySource::otherEvent(uint16_t eventType) {
  InputEvent event;
  event.eventType = eventType;
  return event;
}

void ScriptedKeySource::addEvent(int atMs, const InputEvent& event) {
  script_.push_back({atMs, event});
}

void ScriptedKeySource::addKeyPress(int atMs, uint16_t virtualKey, uint32_t state, int character) {
  addEvent(atMs, keyDown(virtualKey, state, character));
  addEvent(atMs, keyUp(virtualKey, state, character));
}

bool ScriptedKeySource::nextPending() const {
  return next_ < script_.size() && script_[next_].atMs <= now_;
}

bool ScriptedKeySource::peekEvent(InputEvent* event) {
  peekTimes_.push_back(now_);
  if (peekFails_ || !nextPending()) return false;
  *event = script_[next_].event;
  return true;
}

bool ScriptedKeySource::readEvent(InputEvent* event) {
  ++readCalls_;
  if (readFails_ || !nextPending()) return false;
  *event = script_[next_++].event;
  return true;
}

void ScriptedKeySource::sleep(int milliseconds) {
  sleeps_.push_back(milliseconds);
  now_ += milliseconds;
  if (sleepHook_) sleepHook_(now_);
}

void ScriptedKeySource::setControlHandler(ControlHandler handler, void* context, bool install) {
  std::lock_guard<std::mutex> lock(handlerLock_);
  if (install) {
    ++installCalls_;
    handler_ = handler;
    handlerContext_ = context;
  } else {
    ++removeCalls_;
    if (handler_ == handler && handlerContext_ == context) {
      handler_ = nullptr;
      handlerContext_ = nullptr;
    }
  }
}

bool ScriptedKeySource::handlerInstalled() const {
  std::lock_guard<std::mutex> lock(handlerLock_);
  return handler_ != nullptr;
}

bool ScriptedKeySource::fireControl(uint32_t controlType) {
  ControlHandler handler;
  void* context;
  {
    std::lock_guard<std::mutex> lock(handlerLock_);
    handler = handler_;
    context = handlerContext_;
  }
  return handler != nullptr && handler(context, controlType);
}

void ScriptedKeySource::runExitActions() {
  while (!exitActions_.empty()) {
    auto [action, context] = exitActions_.back();
    exitActions_.pop_back();
    action(context);
  }
}

uint32_t ScriptedKeySource::usMapVirtualKey(uint32_t code, uint32_t mapType) {
  const UsKey* key = findUsKey(code);
  if (key == nullptr) return 0;
  if (mapType == 0) return key->scanCode;
  if (mapType == 2) return key->character;
  return 0;
}

int16_t ScriptedKeySource::usVkKeyScan(char character) {
  const unsigned char c = static_cast<unsigned char>(character);
  constexpr int kShift = 0x100;
  constexpr int kCtrl = 0x200;
  if (c >= 'a' && c <= 'z') return static_cast<int16_t>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<int16_t>(kShift | c);
  for (const UsKey& key : kUsKeys) {
    // The main block first: keypad keys share characters with it.
    if (key.virtualKey < 0x60 || key.virtualKey > 0x6F) {
      if (key.character == c && c != 0) return static_cast<int16_t>(key.virtualKey);
    }
  }
  for (int i = 0; kShifted[i] != '\0'; ++i) {
    if (static_cast<unsigned char>(kShifted[i]) == c) {
      return static_cast<int16_t>(kShift | usVkKeyScan(kUnshifted[i]));
    }
  }
  if (c >= 1 && c <= 26) return static_cast<int16_t>(kCtrl | (c - 1 + 'A'));
  return -1;
}

uint32_t ScriptedKeySource::mapVirtualKey(uint32_t code, uint32_t mapType) {
  return usMapVirtualKey(code, mapType);
}

int16_t ScriptedKeySource::vkKeyScan(char character) {
  return usVkKeyScan(character);
}

void ScriptedKeySource::registerExitAction(void (*action)(void*), void* context) {
  exitActions_.emplace_back(action, context);
}

}  // namespace kp::test
