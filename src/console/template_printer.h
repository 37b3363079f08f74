#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "console/template_number.h"
#include "console/text_printer.h"
#include "input/file_table.h"

namespace kp {

// What an item does after its field.
enum ItemFlags : uint32_t {
  ItemLineEnd = 1u,        // numeric items; text items only together with LastItem
  ItemZone = 2u,           // numeric items only
  LastItem = 0x80000000u,  // the statement's last item: release the template
};

// The statement's own copy of its template: a view of one of the templates
// the printer keeps. Its bytes stay put after the statement ends, so that a
// program printing the same few templates row after row copies them once.
class TemplateCopy {
 public:
  const char* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string() const { return std::string(data_, size_); }

  friend bool operator==(const TemplateCopy& copy, std::string_view text) {
    return copy.view() == text;
  }

 private:
  friend class TemplatePrinter;
  const char* data_ = "";
  size_t size_ = 0;
};

// The statement in progress, as seen from outside.
struct TemplateState {
  TemplateCopy templateCopy;
  bool active = false;      // a template is held
  size_t readPosition = 0;  // first byte not yet consumed
  int32_t remaining = 0;    // bytes from readPosition to the end; 0 = used up
};

// A text field as read from a template: '!' is one column, '&' the whole
// text, a backslash, n spaces and a backslash n + 2 columns. A backslash
// field that breaks off before its closing backslash keeps what was read of
// it taken, but shows nothing.
struct TextField {
  enum class Kind : uint8_t { None, Columns, Whole };
  Kind kind = Kind::None;
  uint32_t taken = 0;  // template bytes the field takes
  uint32_t width = 0;  // for Columns
};

// Reads the text field at bytes[0] (None, taking nothing, when there is none).
TextField readTextField(const char* bytes, size_t length);

// How a printer finds the fields of its templates.
enum class FieldLookup : uint8_t {
  Planned,    // a template is read once, when first begun; items follow the plan
  EveryItem,  // the template is read afresh at every item; the tests hold the plan to it
};

// Template-formatted printing: numbers and texts laid out into the fields of
// a template ('#' runs, backslash text fields, '!', '&', ...), with the
// literal text around the fields printed unchanged. Everything goes out
// through a TextPrinter: where it lends a buffer for the number (the console
// on redirected output), an item on a planned field builds its piece and the
// literal text around it there in one go; otherwise each piece is a
// printText call. One instance serves the program; tests create their own.
class TemplatePrinter {
 public:
  // lastError, when given, is left at Ok by every operation.
  TemplatePrinter(TextPrinter& out, FileTable* errorCell,
                  FieldLookup lookup = FieldLookup::Planned);
  // The state's template copy points into the printer itself.
  TemplatePrinter(const TemplatePrinter&) = delete;
  TemplatePrinter& operator=(const TemplatePrinter&) = delete;

  // Inline: a program printing its rows statement by statement begins each
  // template right after the one it began after last time, and finds it kept
  // at the first look.
  ErrorCode beginTemplate(const char* text, size_t length) {
    KeptTemplate* const kept = nextKept_;
    if (text != nullptr && kept->length == length &&
        std::memcmp(kept->bytes.get(), text, length) == 0) {
      nextKept_ = kept->following;
      hold(*kept);
      return done();
    }
    return beginOtherTemplate(text, length);
  }
  // A template whose bytes stay as they are while the printer lives, such as
  // a constant of the program: once kept, it is found by its address, without
  // a look at its bytes. The driver's four row statements: 44 instructions a
  // row less (callgrind, 10^5 rows), 2.5% less processor time.
  ErrorCode beginFixedTemplate(const char* text, size_t length) {
    KeptTemplate* const kept = nextKept_;
    if (text != nullptr && kept->fixedText == text && kept->length == length) {
      nextKept_ = kept->following;
      hold(*kept);
      return done();
    }
    return beginOtherFixedTemplate(text, length);
  }
  // NUL-terminated. Inline, so that the length of a constant template is
  // known when compiling the caller.
  ErrorCode beginTemplate(const char* text) {
    return beginTemplate(text, text != nullptr ? std::strlen(text) : 0);
  }
  ErrorCode endTemplate(FileNumber number) {
    // Every item ends on a field start or at the end, so only a template no
    // item has touched has literal text left to print before its first field.
    if (at_->otherwise == Place::Fresh) return endUntouched(number);
    release();
    return done();
  }

  ErrorCode printTemplateInteger(FileNumber number, int64_t value, uint32_t flags);
  ErrorCode printTemplateUnsigned(FileNumber number, uint64_t value, uint32_t flags);
  ErrorCode printTemplateDouble(FileNumber number, double value, uint32_t flags);
  ErrorCode printTemplateSingle(FileNumber number, float value, uint32_t flags);
  ErrorCode printTemplateText(FileNumber number, const char* text, size_t length, uint32_t flags);
  ErrorCode printTemplateWideText(FileNumber number, const char16_t* text, uint32_t flags);
  // A text with no zero byte, followed where it lies by at least
  // kTextPadding spaces: printed as printTemplateText prints it, but a field
  // of up to kTextPadding columns takes its bytes as they lie, fill and all,
  // in one copy of fixed size.
  static constexpr size_t kTextPadding = 32;
  ErrorCode printTemplatePaddedText(FileNumber number, const char* text, size_t length,
                                    uint32_t flags);

  TemplateState state() const;

 private:
  // What the statement does at its next item when no planned stop is ahead.
  enum class Place : uint8_t {
    UsedUp,     // nothing left: the template starts over
    Fresh,      // at the template's start, its leading literal text not yet printed
    Unplanned,  // on a field start the plan does not reach: the item reads it there
    NoTemplate,
  };
  struct Stop;
  // Literal text up to the next field start (or the template's end), and
  // where that leaves the statement. The statement always stands after one:
  // after the literal text that follows the last item's field.
  struct Outcome {
    uint32_t fieldEnd = 0;  // where the literal text starts
    uint32_t end = 0;       // where it ends: the read position after it
    int32_t remaining = 0;  // bytes from `end` to the template's end
    // The literal is the template's own bytes (no '_' in it) and one piece.
    bool onePiece = false;
    const Stop* next = nullptr;          // the stop at `end`, if planned
    Place otherwise = Place::Unplanned;  // else: UsedUp at the template's end
    // Fresh: the leading literal text, when it is one piece of at most
    // kSlack bytes with a planned stop after it.
    const Outcome* leadingPiece = nullptr;
  };
  // A field start, as each kind of item finds it.
  struct Stop {
    uint32_t position = 0;
    NumericField numeric;  // NumericField::none() when no numeric field starts here
    TextField text;
    Outcome afterNumber;
    Outcome afterText;
    // A text field of fixed width with literal text of one piece after it:
    // the field's fill and that text, ready made.
    const char* blank = nullptr;
    // A text field of at most kTextPadding columns with at most kSlack bytes
    // of literal text of one piece after it: a padded text's usual way.
    bool paddedInPlace = false;
    // A plain '#' field with at most kSlack bytes of literal text of one
    // piece after it: an integer's usual way.
    bool integerInPlace = false;
  };
  static constexpr size_t kMaxStops = 16;
  // A template the printer keeps, with its plan: the literal text at its
  // start, then the stops the items can reach from there, in the order first
  // reached.
  struct KeptTemplate {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t length = SIZE_MAX;           // none kept yet: no template is that long
    const char* fixedText = nullptr;    // a fixed template found to hold these bytes
    KeptTemplate* following = nullptr;  // the next in turn
    Outcome start;                      // where a statement starts: Fresh
    Outcome leading;                    // the literal text before the first field
    const Outcome* entry = &start;      // where beginTemplate puts the statement
    uint32_t stopCount = 0;
    Stop stops[kMaxStops];
    std::unique_ptr<char[]> blanks;  // where the stops' blanks are
  };
  static constexpr size_t kKeptTemplates = 4;

  ErrorCode done() {
    if (errorCell_ != nullptr) errorCell_->setLastError(Ok);
    return Ok;
  }
  void hold(KeptTemplate& kept) {
    held_ = &kept;
    copy_.data_ = kept.bytes.get();
    copy_.size_ = kept.length;
    at_ = kept.entry;
  }
  void release() {
    copy_.size_ = 0;  // the bytes stay kept for the next statement
    held_ = nullptr;
    at_ = &kNoStatement;
  }
  ErrorCode beginOtherTemplate(const char* text, size_t length);
  ErrorCode beginOtherFixedTemplate(const char* text, size_t length);
  ErrorCode endUntouched(FileNumber number);

  // The kept template with these bytes, kept now when none is.
  KeptTemplate* findKept(const char* text, size_t length);
  KeptTemplate* findOtherKept(const char* text, size_t length);
  KeptTemplate* keep(const char* text, size_t length);
  void plan(KeptTemplate& kept) const;
  void readyBlanks(KeptTemplate& kept) const;
  Outcome outcomeAt(KeptTemplate& kept, size_t fieldEnd) const;

  // Start of an item: the planned stop it meets, or nullptr when it reads
  // the template itself (or finds no template).
  const Stop* arrive(FileNumber number);
  const Stop* arriveOffPlan(FileNumber number);
  // After the item's field: the literal text, and where the statement stands.
  void follow(FileNumber number, const Outcome& outcome);
  void followInPieces(FileNumber number, const Outcome& outcome);
  // An item off the plan: its field read where the statement stands, and
  // the literal text after it, read byte by byte and gathered into pieces.
  NumericField takeNumericField(size_t* taken) const;
  TextField takeTextField() const;
  void finishOffPlan(FileNumber number, size_t taken);
  void emitLiteral(FileNumber number, size_t from, const Outcome& planned);

  // Where a planned item starts: the space lent for its number, its stop and
  // the literal text to print before its field (the template's leading
  // text, for a statement's first item); no stop when the item takes the
  // general way.
  struct Arrival {
    const PieceSpace* lane = nullptr;
    const Stop* stop = nullptr;
    const Outcome* before = nullptr;
  };
  Arrival arrivePlanned(FileNumber number) const;
  template <typename Write>
  bool placeInLane(const Arrival& arrival, size_t most, const Outcome& next, Write write,
                   bool writesAfter);
  // An integer's piece in a plain '#' field, laid out at `at` (which has
  // room for the field's width, kPlainIntegerGrowth and kSlack bytes more);
  // returns its length.
  size_t placeInteger(const Stop& stop, uint64_t magnitude, bool negative, char* at);
  size_t placeExponentForm(const Stop& stop, uint64_t magnitude, bool negative, char* at);
  template <typename Format, typename FormatAt>
  void printNumeric(FileNumber number, uint32_t flags, Format format, FormatAt formatAt);
  template <typename Format>
  void printNumericGenerally(FileNumber number, Format format);
  template <typename Char>
  void printText(FileNumber number, const Char* text, size_t length, uint32_t flags);
  template <typename Char>
  bool placeText(FileNumber number, const Char* text, size_t length);
  // The planned stop an item's usual way meets, with the bytes of leading
  // literal text to place before its field; nullptr when there is none.
  const Stop* usualStop(size_t* before) const {
    if (at_->next != nullptr) return at_->next;
    if (at_->leadingPiece == nullptr) return nullptr;
    *before = at_->leadingPiece->end;
    return at_->leadingPiece->next;
  }
  [[gnu::noinline]] ErrorCode printIntegerOutOfLine(FileNumber number, int64_t value,
                                                    uint32_t flags);
  [[gnu::noinline]] ErrorCode endWithText(FileNumber number, uint32_t flags);
  [[gnu::noinline]] ErrorCode printPaddedTextOutOfLine(FileNumber number, const char* text,
                                                       size_t length, uint32_t flags);
  template <typename Char>
  void printTextGenerally(FileNumber number, const Char* text, size_t length);
  // Prints `width` columns of a text of `length` characters: its first ones,
  // then spaces.
  template <typename Char>
  void printColumns(FileNumber number, const Char* text, size_t length, size_t width);
  template <typename Char>
  const char* stageColumns(const Char* from, size_t shown, size_t piece);
  // A piece of the statement: into the space the printer lent, when it fits
  // there, else through printText.
  void put(FileNumber number, const char* bytes, size_t length);

  static const Outcome kNoStatement;

  TextPrinter& out_;
  FileTable* errorCell_;
  const FieldLookup lookup_;
  TemplateCopy copy_;                  // the statement's template, when one is held
  KeptTemplate* held_ = nullptr;       // its kept template
  const Outcome* at_ = &kNoStatement;  // where the statement stands
  Outcome offPlan_;                    // where an item off the plan left it
  KeptTemplate kept_[kKeptTemplates];
  KeptTemplate* nextKept_ = nullptr;  // the one tried first; also the next to be replaced
  const PieceSpace* lane_ = nullptr;  // lent for the number, asked before the general way
  // The last exponent form an integer took in a plain '#' field, and the
  // magnitudes of its sign that take it there too.
  struct KeptExponentForm {
    const Stop* stop = nullptr;  // none: forgotten whenever a template is planned
    bool negative = false;
    uint64_t low = 0;
    uint64_t high = 0;
    size_t length = 0;
    char piece[64];  // an exponent form is at most 27 bytes; the rest is room for copyShort
  };
  KeptExponentForm exponentForm_;
  // Numeric fields and gathered literal text; the bytes past the field
  // buffer are room for copying a field in one fixed-size copy.
  char work_[kFieldBufferSize + 32] = {};
  // Text fields not built in the lent space: a piece's text goes just before
  // the second half, which holds the fill for good.
  char columns_[2 * kFieldBufferSize];
};

}  // namespace kp
