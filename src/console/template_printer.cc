#include "console/template_printer.h"

namespace kp {

TemplatePrinter::TemplatePrinter(TextPrinter& out, FileTable* errorCell)
    : out_(out), errorCell_(errorCell), cursor_(out) {
  for (size_t i = 0; i < kHeldPlans; ++i) plans_[i].following = &plans_[(i + 1) % kHeldPlans];
}

TemplateState TemplatePrinter::state() const {
  TemplateState state;
  if (plan_ == nullptr) return state;
  const std::string_view bytes = plan_->bytes();
  state.templateCopy.data_ = bytes.data();
  state.templateCopy.size_ = bytes.size();
  state.active = true;
  state.readPosition = at_->readPosition;
  state.remaining = static_cast<int32_t>(bytes.size() - state.readPosition);
  return state;
}

// The other plans in turn; when none holds these bytes, they are read into
// the next plan, in place of the oldest.
TemplatePrinter::HeldPlan* TemplatePrinter::findPlan(const char* text, size_t length) {
  for (HeldPlan* held = nextPlan_->following; held != nextPlan_; held = held->following) {
    if (held->plan.holds(text, length)) {
      nextPlan_ = held->following;
      return held;
    }
  }
  HeldPlan* const held = nextPlan_;
  held->plan.read(text, length);
  nextPlan_ = held->following;
  return held;
}

ErrorCode TemplatePrinter::printTemplateUnsigned(FileNumber number, uint64_t value,
                                                 uint32_t flags) {
  printInteger(number, value, false, flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateDouble(FileNumber number, double value, uint32_t flags) {
  printNumber(number, decimalFromDouble(value), flags);
  return done();
}

ErrorCode TemplatePrinter::printTemplateSingle(FileNumber number, float value, uint32_t flags) {
  printNumber(number, decimalFromSingle(value), flags);
  return done();
}

void TemplatePrinter::printLeadingText(FileNumber number) {
  OutputCursor::ChunkedWriter out(cursor_, number);
  out.put(at_->before, at_->beforeLength);
  out.close();
}

void TemplatePrinter::integerItemInChunks(FileNumber number, const Position& at,
                                          const FieldStart& field, uint64_t magnitude,
                                          bool negative) {
  OutputCursor::ChunkedWriter out(cursor_, number);
  integerItem(out, at, field, magnitude, negative);
  out.close();
}

// A number in a field of more than digits, or a floating value: laid out in
// the working buffer, then copied.
void TemplatePrinter::printNumber(FileNumber number, const DecimalValue& value, uint32_t flags) {
  const Position& at = *at_;
  const FieldStart& field = *at.field;
  size_t length = 0;
  const char* const piece = formatNumber(field.numeric, value, work_, &length);
  OutputCursor::ChunkedWriter out(cursor_, number);
  if (at.beforeLength != 0) out.put(at.before, at.beforeLength);
  out.put(piece, length);
  out.put(field.afterNumber.bytes, field.afterNumber.length);
  out.close();
  at_ = field.afterNumber.next;
  endItem(number, flags & 3u, flags);
}

[[gnu::noinline]] void TemplatePrinter::endStatement(FileNumber number, uint32_t lineEnd) {
  if (lineEnd != 0) out_.printLineEnd(number, static_cast<int>(lineEnd));
  release();
}

ErrorCode TemplatePrinter::printTemplateWideText(FileNumber number, const char16_t* text,
                                                 uint32_t flags) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != 0) ++length;
  }
  printText(number, text, length, flags);
  return done();
}

}  // namespace kp
