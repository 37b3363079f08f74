#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "console/template_number.h"

namespace kp::test {

// The template statement read straight from its rules, item by item: at
// every item the template is read where the statement stands, literal text
// byte by byte. What the template printer prints through its plan and its
// output cursor must be what this prints. Line ends print as "\r\n", zone
// advances as zoneMark.
class TemplateOracle {
 public:
  explicit TemplateOracle(std::string zoneMark) : zoneMark_(std::move(zoneMark)) {}

  void begin(const char* text, size_t length);
  void end();
  void number(const DecimalValue& value, uint32_t flags);
  void integer(int64_t value, uint32_t flags) { number(decimalFromSigned(value), flags); }
  void text(const char* bytes, size_t length, uint32_t flags);
  void wideText(const char16_t* text, uint32_t flags);

  const std::string& output() const { return output_; }
  bool active() const { return active_; }
  size_t readPosition() const { return active_ ? position_ : 0; }
  int32_t remaining() const {
    return active_ ? static_cast<int32_t>(template_.size() - position_) : 0;
  }

 private:
  void startItem();
  void emitLiteral();
  // A text item's field, read where the statement stands; the characters
  // are shown one byte each.
  template <typename Show>
  void textItem(size_t length, Show show, uint32_t flags);
  void release();

  std::string zoneMark_;
  std::string template_;
  bool active_ = false;
  size_t position_ = 0;
  std::string output_;
};

}  // namespace kp::test
