// The Windows console behind the console writer: kernel32's cell, scroll and
// cursor calls, and raw writes to standard output when that is no console.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>

#include "console/console_device.h"
#include "platform/gathered_output.h"
#include "platform/platform.h"
#include "platform/win32/signals-win32.h"

namespace kp::platform {

namespace {

// How long the control handler waits for a write of the main thread to end
// before it lets the process go without sending. The system waits 5 s for
// the handlers of a closing console before it ends the process itself.
constexpr std::chrono::milliseconds kHandlerPatience{1000};

class Win32ConsoleDevice final : public ConsoleDevice {
 public:
  Win32ConsoleDevice() = default;

  void startUp() override {
    takeHandles();
    DWORD mode = 0;
    if (input_ != nullptr && input_ != INVALID_HANDLE_VALUE && GetConsoleMode(input_, &mode)) {
      SetConsoleMode(input_, mode | ENABLE_PROCESSED_INPUT);
    }
  }

  bool writeRaw(const char* bytes, size_t count, size_t* written) override {
    if (!sendBeforeEndInstalled_) installSendBeforeEnd();
    return gathered_.append(bytes, count, written);
  }

  bool getScreenBufferInfo(ScreenBufferInfo* info) override {
    CONSOLE_SCREEN_BUFFER_INFO buffer;
    if (!outputIsConsole() || !GetConsoleScreenBufferInfo(output_, &buffer)) return false;
    info->size = {buffer.dwSize.X, buffer.dwSize.Y};
    info->cursor = {buffer.dwCursorPosition.X, buffer.dwCursorPosition.Y};
    info->attribute = buffer.wAttributes;
    info->window = {buffer.srWindow.Left, buffer.srWindow.Top, buffer.srWindow.Right,
                    buffer.srWindow.Bottom};
    return true;
  }

  bool setTextAttribute(uint16_t attribute) override {
    // Asked before every field of a table row: on a file or pipe the call
    // would only fail, at the price of a trip into the system.
    return outputIsConsole() && SetConsoleTextAttribute(output_, attribute) != 0;
  }

  bool writeCells(CellPosition at, const char* bytes, int count, uint16_t attribute) override {
    if (!outputIsConsole()) return false;
    // The writer's pieces are at most one row of its 1024-byte run; a wider
    // buffer row is written in parts so the cell buffer needs no allocation.
    while (count > 0) {
      int piece = count < kMaxCells ? count : kMaxCells;
      for (int i = 0; i < piece; ++i) {
        cells_[i].Char.AsciiChar = bytes[i];
        cells_[i].Attributes = attribute;
      }
      COORD size = {static_cast<SHORT>(piece), 1};
      SMALL_RECT target = {at.x, at.y, static_cast<SHORT>(at.x + piece - 1), at.y};
      if (!WriteConsoleOutputA(output_, cells_, size, COORD{0, 0}, &target)) return false;
      at.x = static_cast<int16_t>(at.x + piece);
      bytes += piece;
      count -= piece;
    }
    return true;
  }

  bool scrollRect(CellRect source, CellPosition destination, char fillChar,
                  uint16_t fillAttribute) override {
    if (!outputIsConsole()) return false;
    SMALL_RECT rect = {source.left, source.top, source.right, source.bottom};
    CHAR_INFO fill;
    fill.Char.AsciiChar = fillChar;
    fill.Attributes = fillAttribute;
    return ScrollConsoleScreenBufferA(output_, &rect, nullptr, COORD{destination.x, destination.y},
                                      &fill) != 0;
  }

  bool fillCells(CellPosition at, int count, char ch, uint16_t attribute) override {
    if (!outputIsConsole()) return false;
    if (count <= 0) return true;
    DWORD done = 0;
    COORD start = {at.x, at.y};
    bool attributesSet =
        FillConsoleOutputAttribute(output_, attribute, static_cast<DWORD>(count), start, &done);
    bool charactersSet =
        FillConsoleOutputCharacterA(output_, ch, static_cast<DWORD>(count), start, &done);
    return attributesSet && charactersSet;
  }

  bool setCursorPosition(CellPosition position) override {
    return outputIsConsole() &&
           SetConsoleCursorPosition(output_, COORD{position.x, position.y}) != 0;
  }

  bool setWindowInfo(CellRect window) override {
    SMALL_RECT rect = {window.left, window.top, window.right, window.bottom};
    return outputIsConsole() && SetConsoleWindowInfo(output_, TRUE, &rect) != 0;
  }

  void beep(int frequencyHz, int durationMs) override {
    Beep(static_cast<DWORD>(frequencyHz), static_cast<DWORD>(durationMs));
  }

  void flushOutput() override { gathered_.send(); }

  // Sends what the main thread has gathered, from any thread.
  void sendGatheredFromElsewhere() { gathered_.sendAppended(kHandlerPatience); }

 private:
  static constexpr size_t kRawBufferSize = 64 * 1024;
  static constexpr int kMaxCells = 1024;

  void takeHandles() {
    if (handlesTaken_) return;
    handlesTaken_ = true;
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    output_ = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    outputIsConsole_ = output_ != nullptr && output_ != INVALID_HANDLE_VALUE &&
                       GetConsoleMode(output_, &mode) != 0;
  }

  // Whether standard output is a console screen buffer; asked of the system
  // once, with the handles.
  bool outputIsConsole() {
    takeHandles();
    return outputIsConsole_;
  }

  // Ctrl+C, Ctrl+Break, closing the console, logoff and shutdown end the
  // process by default, on a thread of the system's while the main thread
  // may be printing: the gathered tail must reach the file or pipe first.
  void installSendBeforeEnd() {
    sendBeforeEndInstalled_ = true;
    takeHandles();  // the handler's thread uses the output handle as it is now
    ControlEvents::sendBeforeEnd(
        [](void* self) { static_cast<Win32ConsoleDevice*>(self)->sendGatheredFromElsewhere(); },
        this);
  }

  // The sink of the gathered output: one WriteFile to standard output.
  static bool writeOutput(void* self, const char* bytes, size_t count, size_t* written) {
    DWORD done = 0;
    const bool ok = WriteFile(static_cast<Win32ConsoleDevice*>(self)->output_, bytes,
                              static_cast<DWORD>(count), &done, nullptr) != 0;
    *written = done;
    return ok;
  }

  bool handlesTaken_ = false;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  bool outputIsConsole_ = false;
  bool sendBeforeEndInstalled_ = false;
  GatheredOutput gathered_{kRawBufferSize, &Win32ConsoleDevice::writeOutput, this};
  CHAR_INFO cells_[kMaxCells];
};

}  // namespace

ConsoleDevice& consoleDevice() {
  // Never destroyed: a control handler may still send from it while the
  // process ends. The final send is the first exit action, so it runs after
  // all others; it waits as a control handler would, so that it cannot hang
  // should the runtime ever run it after the main thread was stopped.
  static Win32ConsoleDevice& device = []() -> Win32ConsoleDevice& {
    auto* created = new Win32ConsoleDevice();
    registerExitAction(
        [](void* self) { static_cast<Win32ConsoleDevice*>(self)->sendGatheredFromElsewhere(); },
        created);
    return *created;
  }();
  return device;
}

}  // namespace kp::platform
