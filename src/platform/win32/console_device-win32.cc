// The Windows console behind the console writer: kernel32's cell, scroll and
// cursor calls, and raw writes to standard output when that is no console.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

#include "console/console_device.h"
#include "platform/platform.h"

namespace kp::platform {

namespace {

class Win32ConsoleDevice final : public ConsoleDevice {
 public:
  Win32ConsoleDevice() = default;
  // Raw output still gathered reaches its file or pipe at exit.
  ~Win32ConsoleDevice() override { sendGathered(nullptr); }

  void startUp() override {
    takeHandles();
    DWORD mode = 0;
    if (input_ != nullptr && input_ != INVALID_HANDLE_VALUE && GetConsoleMode(input_, &mode)) {
      SetConsoleMode(input_, mode | ENABLE_PROCESSED_INPUT);
    }
  }

  bool writeRaw(const char* bytes, size_t count, size_t* written) override {
    *written = 0;
    if (count > kRawBufferSize - rawCount_) {
      if (!sendGathered(nullptr)) return false;
    }
    if (count >= kRawBufferSize) {
      // Too big to gather: goes out at once, behind what was gathered before.
      return writeAll(bytes, count, written);
    }
    std::memcpy(raw_ + rawCount_, bytes, count);
    rawCount_ += count;
    *written = count;
    return true;
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

  void flushOutput() override { sendGathered(nullptr); }

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

  HANDLE output() {
    takeHandles();
    return output_;
  }

  // Writes all of bytes with as many WriteFile calls as it takes, stopping at
  // the first that fails or gets nothing through.
  bool writeAll(const char* bytes, size_t count, size_t* written) {
    *written = 0;
    HANDLE handle = output();
    while (*written < count) {
      DWORD chunk = static_cast<DWORD>(count - *written);
      DWORD done = 0;
      if (!WriteFile(handle, bytes + *written, chunk, &done, nullptr) || done == 0) return false;
      *written += done;
    }
    return true;
  }

  // Sends the gathered raw bytes. On failure the rest is dropped, as the
  // writer drops the rest of a failed write.
  bool sendGathered(size_t* written) {
    size_t sent = 0;
    bool ok = rawCount_ == 0 || writeAll(raw_, rawCount_, &sent);
    rawCount_ = 0;
    if (written != nullptr) *written = sent;
    return ok;
  }

  bool handlesTaken_ = false;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  bool outputIsConsole_ = false;
  size_t rawCount_ = 0;
  char raw_[kRawBufferSize];
  CHAR_INFO cells_[kMaxCells];
};

}  // namespace

ConsoleDevice& consoleDevice() {
  // The final flush is the first exit action, so it runs after all others.
  static Win32ConsoleDevice& device = []() -> Win32ConsoleDevice& {
    static Win32ConsoleDevice created;
    registerExitAction([](void* self) { static_cast<Win32ConsoleDevice*>(self)->flushOutput(); },
                       &created);
    return created;
  }();
  return device;
}

}  // namespace kp::platform
