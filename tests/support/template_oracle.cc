#include "support/template_oracle.h"

#include <algorithm>
#include <limits>

namespace kp::test {

void TemplateOracle::begin(const char* text, size_t length) {
  if (text == nullptr) length = 0;
  length = std::min(length, static_cast<size_t>(std::numeric_limits<int32_t>::max()));
  template_.assign(text != nullptr ? text : "", length);
  active_ = true;
  position_ = 0;
}

void TemplateOracle::end() {
  emitLiteral();
  release();
}

void TemplateOracle::release() {
  active_ = false;
  position_ = 0;
  template_.clear();
}

// Literal text up to the next field start or the end; '_' makes the byte
// after it literal.
void TemplateOracle::emitLiteral() {
  if (!active_) return;
  while (position_ < template_.size() &&
         !startsTemplateField(template_.data() + position_, template_.size() - position_)) {
    if (template_[position_] == '_' && position_ + 1 < template_.size()) ++position_;
    output_ += template_[position_++];
  }
}

// A used-up template starts over, its leading literal text included.
void TemplateOracle::startItem() {
  if (active_ && position_ == template_.size()) position_ = 0;
  emitLiteral();
}

void TemplateOracle::number(const DecimalValue& value, uint32_t flags) {
  startItem();
  NumericField field = NumericField::none();
  size_t taken = 0;
  if (active_ && position_ < template_.size()) {
    NumericField read;
    taken = readNumericField(template_.data() + position_, template_.size() - position_, read);
    if (taken != 0) field = read;
  }
  char buffer[kFieldBufferSize];
  size_t length = 0;
  const char* const piece = formatNumber(field, value, buffer, &length);
  output_.append(piece, length);
  position_ += taken;
  emitLiteral();
  if ((flags & 1) != 0) {
    output_ += "\r\n";
  } else if ((flags & 2) != 0) {
    output_ += zoneMark_;
  }
  if ((flags & 0x80000000u) != 0) release();
}

template <typename Show>
void TemplateOracle::textItem(size_t length, Show show, uint32_t flags) {
  startItem();
  TextField field;
  if (active_ && position_ < template_.size()) {
    field = readTextField(template_.data() + position_, template_.size() - position_);
  }
  if (field.kind == TextField::Kind::Whole) {
    for (size_t i = 0; i < length; ++i) output_ += show(i);
  } else if (field.kind == TextField::Kind::Columns) {
    for (size_t i = 0; i < field.width; ++i) output_ += i < length ? show(i) : ' ';
  }
  position_ += field.taken;
  emitLiteral();
  if ((flags & 0x80000000u) != 0) {
    if ((flags & 1) != 0) output_ += "\r\n";
    release();
  }
}

void TemplateOracle::text(const char* bytes, size_t length, uint32_t flags) {
  if (bytes == nullptr) length = 0;
  textItem(
      length, [bytes](size_t i) { return bytes[i]; }, flags);
}

void TemplateOracle::wideText(const char16_t* text, uint32_t flags) {
  size_t length = 0;
  while (text != nullptr && text[length] != 0) ++length;
  textItem(
      length, [text](size_t i) { return text[i] < 256 ? static_cast<char>(text[i]) : '?'; }, flags);
}

}  // namespace kp::test
