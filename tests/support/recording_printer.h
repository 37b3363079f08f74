#pragma once

#include <string>
#include <vector>

#include "console/text_printer.h"

namespace kp::test {

// A TextPrinter that keeps every call, so that tests can compare the whole
// printed byte sequence and, where it matters, how it was cut into pieces.
class RecordingPrinter : public TextPrinter {
 public:
  // How a zone advance appears in output().
  static constexpr const char* kZoneMark = "{zone}";

  struct Call {
    FileNumber number;
    bool lineEnd;  // printLineEnd rather than printText
    std::string text;
    int endFlags;
  };

  void printText(FileNumber number, const char* bytes, size_t length, int endFlags) override {
    calls_.push_back({number, false, std::string(bytes, length), endFlags});
  }
  void printLineEnd(FileNumber number, int endFlags) override {
    calls_.push_back({number, true, std::string(), endFlags});
  }

  // Everything printed: texts, "\r\n" for each line end, kZoneMark for each
  // zone advance.
  std::string output() const {
    std::string result;
    for (const Call& call : calls_) {
      result += call.text;
      if ((call.endFlags & (1 | 4)) != 0) {
        result += "\r\n";
      } else if ((call.endFlags & 2) != 0) {
        result += kZoneMark;
      }
    }
    return result;
  }

  // The texts of the printText calls, one entry a call.
  std::vector<std::string> pieces() const {
    std::vector<std::string> result;
    for (const Call& call : calls_) {
      if (!call.lineEnd) result.push_back(call.text);
    }
    return result;
  }

  const std::vector<Call>& calls() const { return calls_; }
  void clear() { calls_.clear(); }

 private:
  std::vector<Call> calls_;
};

}  // namespace kp::test
