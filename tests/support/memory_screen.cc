#include "support/memory_screen.h"

#include <algorithm>

namespace kp::test {

MemoryScreen::MemoryScreen(int width, int height, int windowRows)
    : width_(width),
      height_(height),
      chars_(static_cast<size_t>(width) * height, ' '),
      attributes_(static_cast<size_t>(width) * height, 7) {
  const int rows = windowRows > 0 ? std::min(windowRows, height) : height;
  window_ = {0, 0, static_cast<int16_t>(width - 1), static_cast<int16_t>(rows - 1)};
}

void MemoryScreen::startUp() {
  ++calls_.startUp;
}

ConsoleDevice::OutputBuffer MemoryScreen::outputBuffer() {
  if (!redirected_ || lent_.empty()) return {};
  return {lent_.data(), &lentUsed_, lent_.size()};
}

void MemoryScreen::takeLent() {
  raw_.append(lent_.data(), lentUsed_.load());
  lentUsed_.store(0);
}

void MemoryScreen::flushOutput() {
  ++calls_.flushOutput;
  takeLent();
}

bool MemoryScreen::writeRaw(const char* bytes, size_t count, size_t* written) {
  ++calls_.writeRaw;
  *written = 0;
  takeLent();  // what the writer copied in comes first
  if (raw_.size() >= rawLimit_) return false;
  const size_t n = std::min({count, rawChunk_, rawLimit_ - raw_.size()});
  raw_.append(bytes, n);
  *written = n;
  return true;
}

bool MemoryScreen::getScreenBufferInfo(ScreenBufferInfo* info) {
  ++calls_.getScreenBufferInfo;
  if (redirected_ || failInfo_) return false;
  info->size = {static_cast<int16_t>(width_), static_cast<int16_t>(height_)};
  info->cursor = cursor_;
  info->attribute = attribute_;
  info->window = window_;
  return true;
}

bool MemoryScreen::setTextAttribute(uint16_t attribute) {
  ++calls_.setTextAttribute;
  if (redirected_) return false;
  attribute_ = attribute;
  return true;
}

void MemoryScreen::putCell(int x, int y, char ch, uint16_t attribute) {
  if (!inside(x, y)) return;
  chars_[index(x, y)] = ch;
  attributes_[index(x, y)] = attribute;
}

bool MemoryScreen::writeCells(CellPosition at, const char* bytes, int count, uint16_t attribute) {
  ++calls_.writeCells;
  if (redirected_) return false;
  if (cellWriteLimit_ >= 0 && calls_.writeCells > cellWriteLimit_) return false;
  if (at.y < 0 || at.y >= height_ || at.x >= width_ || at.x + count <= 0) return false;
  for (int i = 0; i < count; ++i) putCell(at.x + i, at.y, bytes[i], attribute);
  return true;
}

bool MemoryScreen::scrollRect(CellRect source, CellPosition destination, char fillChar,
                              uint16_t fillAttribute) {
  ++calls_.scrollRect;
  if (redirected_) return false;
  const int left = std::max<int>(source.left, 0);
  const int top = std::max<int>(source.top, 0);
  const int right = std::min<int>(source.right, width_ - 1);
  const int bottom = std::min<int>(source.bottom, height_ - 1);
  if (left > right || top > bottom) return false;
  // Take the clipped source, fill all of it, then lay the copy down at the
  // destination: what the destination does not cover stays filled.
  const int destX = destination.x + (left - source.left);
  const int destY = destination.y + (top - source.top);
  std::vector<char> chars;
  std::vector<uint16_t> attributes;
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      chars.push_back(chars_[index(x, y)]);
      attributes.push_back(attributes_[index(x, y)]);
      putCell(x, y, fillChar, fillAttribute);
    }
  }
  size_t i = 0;
  for (int y = 0; y <= bottom - top; ++y) {
    for (int x = 0; x <= right - left; ++x, ++i) {
      putCell(destX + x, destY + y, chars[i], attributes[i]);
    }
  }
  return true;
}

bool MemoryScreen::fillCells(CellPosition at, int count, char ch, uint16_t attribute) {
  ++calls_.fillCells;
  if (redirected_ || !inside(at.x, at.y)) return false;
  size_t cell = index(at.x, at.y);
  for (int i = 0; i < count && cell < chars_.size(); ++i, ++cell) {
    chars_[cell] = ch;
    attributes_[cell] = attribute;
  }
  return true;
}

bool MemoryScreen::setCursorPosition(CellPosition position) {
  ++calls_.setCursorPosition;
  if (redirected_ || !inside(position.x, position.y)) return false;
  cursor_ = position;
  // The window follows a cursor placed outside it.
  const int rows = window_.bottom - window_.top;
  if (position.y < window_.top) {
    window_.top = position.y;
    window_.bottom = static_cast<int16_t>(position.y + rows);
  } else if (position.y > window_.bottom) {
    window_.bottom = position.y;
    window_.top = static_cast<int16_t>(position.y - rows);
  }
  return true;
}

bool MemoryScreen::setWindowInfo(CellRect window) {
  ++calls_.setWindowInfo;
  if (redirected_) return false;
  if (window.left < 0 || window.top < 0 || window.left > window.right ||
      window.top > window.bottom || window.right >= width_ || window.bottom >= height_) {
    return false;
  }
  window_ = window;
  return true;
}

void MemoryScreen::beep(int frequencyHz, int durationMs) {
  beeps_.push_back({frequencyHz, durationMs, calls_.writeCells});
}

void MemoryScreen::placeCursor(int x, int y) {
  cursor_ = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

void MemoryScreen::placeWindow(int top, int bottom) {
  window_.top = static_cast<int16_t>(top);
  window_.bottom = static_cast<int16_t>(bottom);
}

void MemoryScreen::resize(int width, int height) {
  std::vector<char> chars(static_cast<size_t>(width) * height, ' ');
  std::vector<uint16_t> attributes(chars.size(), 7);
  for (int y = 0; y < std::min(height, height_); ++y) {
    for (int x = 0; x < std::min(width, width_); ++x) {
      chars[static_cast<size_t>(y) * width + x] = chars_[index(x, y)];
      attributes[static_cast<size_t>(y) * width + x] = attributes_[index(x, y)];
    }
  }
  width_ = width;
  height_ = height;
  chars_.swap(chars);
  attributes_.swap(attributes);
  cursor_.x = static_cast<int16_t>(std::min<int>(cursor_.x, width - 1));
  cursor_.y = static_cast<int16_t>(std::min<int>(cursor_.y, height - 1));
  window_.right = static_cast<int16_t>(width - 1);
  window_.bottom = static_cast<int16_t>(std::min<int>(window_.bottom, height - 1));
  window_.top = static_cast<int16_t>(std::min<int>(window_.top, window_.bottom));
}

std::string MemoryScreen::rowText(int y) const {
  return std::string(chars_.begin() + static_cast<long>(index(0, y)),
                     chars_.begin() + static_cast<long>(index(0, y) + width_));
}

std::string MemoryScreen::trimmedRow(int y) const {
  std::string text = rowText(y);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace kp::test
