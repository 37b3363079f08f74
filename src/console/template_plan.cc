#include "console/template_plan.h"

#include <cstring>
#include <limits>

namespace kp {

namespace {

int byteAt(const char* bytes, size_t length, size_t index) {
  return index < length ? static_cast<unsigned char>(bytes[index]) : -1;
}

}  // namespace

bool startsTemplateField(const char* bytes, size_t length) {
  const int c = byteAt(bytes, length, 0);
  const int next = byteAt(bytes, length, 1);
  switch (c) {
    case '#':
    case '!':
    case '&':
    case '\\':
      return true;
    case '$':
      return next == '$';
    case '*':
      return next == '*';
    case '.':
      return next == '#';
    case '+': {
      const int after = byteAt(bytes, length, 2);
      return next == '#' || (next == '$' && after == '$') || (next == '*' && after == '*') ||
             (next == '.' && after == '#');
    }
    default:
      return false;
  }
}

size_t readNumericField(const char* bytes, size_t length, NumericField& field) {
  field = NumericField();
  auto at = [&](size_t i) { return byteAt(bytes, length, i); };
  if (at(0) == '&') {
    field.freeForm = true;
    return 1;
  }
  size_t i = 0;
  if (at(0) == '+' && startsTemplateField(bytes, length)) {
    field.leadingPlus = true;
    i = 1;
  }
  int32_t hashes = 0;
  int32_t commas = 0;
  int32_t prefix = 0;  // characters of "**", "**$" and "$$"
  if (at(i) == '*' && at(i + 1) == '*') {
    field.starFill = true;
    prefix = 2;
    i += 2;
    if (at(i) == '$') {
      field.dollar = true;
      prefix = 3;
      ++i;
    }
  } else if (at(i) == '$' && at(i + 1) == '$') {
    field.dollar = true;
    prefix = 2;
    i += 2;
  }
  for (;;) {
    if (at(i) == '#') {
      ++hashes;
      ++i;
    } else if (at(i) == ',' && at(i + 1) == '#' && (hashes != 0 || prefix != 0)) {
      ++commas;
      ++i;
    } else {
      break;
    }
  }
  if (at(i) == '.' && at(i + 1) == '#') {
    field.point = true;
    ++i;
    while (at(i) == '#') {
      ++field.decimals;
      ++i;
    }
  }
  if (hashes == 0 && prefix == 0 && !field.point) return 0;  // not a numeric field

  int32_t carets = 0;
  while (carets < 5 && at(i + carets) == '^') ++carets;
  if (carets >= 3) {
    field.exponentDigits = carets - 2;
    i += carets;
  } else {
    carets = 0;  // one or two are literal text after the field
  }
  if (!field.leadingPlus && (at(i) == '+' || at(i) == '-')) {
    field.trailingSign = static_cast<char>(at(i));
    ++i;
  }

  // Over-long fields: decimal places go first, then the point, then integer
  // positions beyond the limit.
  int32_t excess = (field.leadingPlus ? 1 : 0) + prefix + hashes + commas +
                   (field.point ? 1 + field.decimals : 0) - kMaxFieldPositions;
  if (excess > 0) {
    const int32_t dropped = excess < field.decimals ? excess : field.decimals;
    field.decimals -= dropped;
    excess -= dropped;
    if (excess > 0 && field.point) {
      field.point = false;
      --excess;
    }
    const int32_t fewerHashes = excess < hashes ? excess : hashes;
    hashes -= fewerHashes;
    excess -= fewerHashes;
    commas -= excess < commas ? excess : commas;
  }
  field.comma = commas != 0;
  field.digitPositions = hashes + (field.starFill ? 2 : 0) + (prefix == 2 && field.dollar ? 1 : 0);
  field.width = (field.leadingPlus ? 1 : 0) + prefix + hashes + commas +
                (field.point ? 1 + field.decimals : 0) + carets + (field.trailingSign != 0 ? 1 : 0);
  field.plainDigits = !field.leadingPlus && prefix == 0 && !field.comma && !field.point &&
                      field.exponentDigits == 0 && field.trailingSign == 0;
  return i;
}

TextField readTextField(const char* bytes, size_t length) {
  TextField field;
  if (length == 0) return field;
  if (bytes[0] == '!') {
    field.kind = TextField::Kind::Columns;
    field.taken = 1;
    field.width = 1;
    return field;
  }
  if (bytes[0] == '&') {
    field.kind = TextField::Kind::Whole;
    field.taken = 1;
    return field;
  }
  if (bytes[0] != '\\' || length < 2 || (bytes[1] != ' ' && bytes[1] != '\\')) return field;
  size_t spaces = 0;
  while (1 + spaces < length && bytes[1 + spaces] == ' ') ++spaces;
  // The backslash and its spaces are read even when no backslash closes them.
  field.taken = static_cast<uint32_t>(1 + spaces);
  if (1 + spaces < length && bytes[1 + spaces] == '\\') {
    field.kind = TextField::Kind::Columns;
    field.taken += 1;
    field.width = field.taken;
  }
  return field;
}

namespace {

// Where a literal run of no bytes points: readable for a copy of fixed size.
const char kNoLiteral[kCopySlack] = {};

// Without a template every item finds no field and stays where it is.
const TemplatePlan::FieldStart kNoTemplateField = {
    NumericField::none(),
    {kNoLiteral, 0, &TemplatePlan::kNoTemplate},
    TextField(),
    {kNoLiteral, 0, &TemplatePlan::kNoTemplate},
};

}  // namespace

const TemplatePlan::Position TemplatePlan::kNoTemplate = {kNoLiteral, 0, 0, &kNoTemplateField};

void TemplatePlan::read(const char* text, size_t length) {
  // The count of remaining bytes is 32-bit; a longer template is cut there.
  const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (text == nullptr) length = 0;
  if (length > limit) length = limit;
  if (bytes_ == nullptr || length > capacity_) {
    // The old bytes go only after the copy, since the text may lie in them.
    std::unique_ptr<char[]> bytes(new char[length + 1]);
    if (length != 0) std::memcpy(bytes.get(), text, length);
    bytes_ = std::move(bytes);
    capacity_ = length;
  } else if (length != 0) {
    std::memmove(bytes_.get(), text, length);
  }
  length_ = length;

  fields_.clear();
  fieldPositions_.clear();
  fieldAt_.assign(length + 1, -1);
  literals_.clear();
  const Run start = runFrom(0);
  // Every field start reached so far is read in turn; reading one may reach more.
  std::vector<Run> afterNumber;
  std::vector<Run> afterText;
  for (size_t i = 0; i < fieldPositions_.size(); ++i) {
    const size_t at = fieldPositions_[i];
    const char* const field = bytes_.get() + at;
    const size_t left = length_ - at;
    NumericField numeric;
    const size_t taken = readNumericField(field, left, numeric);
    fields_[i].numeric = taken != 0 ? numeric : NumericField::none();
    afterNumber.push_back(runFrom(at + taken));
    fields_[i].text = readTextField(field, left);
    afterText.push_back(runFrom(at + fields_[i].text.taken));
  }
  literals_.resize(literals_.size() + kCopySlack, ' ');

  // The runs' places are known now that no more are added.
  onField_.assign(fields_.size(), Position());
  for (size_t i = 0; i < fields_.size(); ++i) {
    onField_[i] = {kNoLiteral, 0, fieldPositions_[i], &fields_[i]};
  }
  const LiteralRun leading = literalRun(start);
  fresh_ = {leading.bytes, leading.length, 0, start.field >= 0 ? &fields_[start.field] : &noField_};
  restart_ = fresh_;
  restart_.readPosition = static_cast<uint32_t>(length_);
  noField_.numeric = NumericField::none();
  noField_.text = TextField();
  noField_.afterNumber = {kNoLiteral, 0, &restart_};
  noField_.afterText = noField_.afterNumber;
  for (size_t i = 0; i < fields_.size(); ++i) {
    fields_[i].afterNumber = literalRun(afterNumber[i]);
    fields_[i].afterText = literalRun(afterText[i]);
  }
}

TemplatePlan::LiteralRun TemplatePlan::literalRun(const Run& run) const {
  LiteralRun literal;
  literal.bytes = run.length != 0 ? literals_.data() + run.at : kNoLiteral;
  literal.length = run.length;
  literal.next = run.field >= 0 ? &onField_[static_cast<size_t>(run.field)] : &restart_;
  return literal;
}

// The literal text from `position` up to the next field start or the end:
// each byte stands for itself, except that '_' makes the byte after it
// literal, field start or not.
TemplatePlan::Run TemplatePlan::runFrom(size_t position) {
  const char* const bytes = bytes_.get();
  Run run;
  run.at = static_cast<uint32_t>(literals_.size());
  size_t i = position;
  while (i < length_ && !startsTemplateField(bytes + i, length_ - i)) {
    if (bytes[i] == '_' && i + 1 < length_) ++i;
    literals_.push_back(bytes[i]);
    ++i;
  }
  run.length = static_cast<uint32_t>(literals_.size() - run.at);
  if (i == length_) return run;
  if (fieldAt_[i] < 0) {
    fieldAt_[i] = static_cast<int32_t>(fieldPositions_.size());
    fieldPositions_.push_back(static_cast<uint32_t>(i));
    fields_.emplace_back();
  }
  run.field = fieldAt_[i];
  return run;
}

}  // namespace kp
