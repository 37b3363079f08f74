#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "console/template_printer.h"
#include "input/file_table.h"
#include "support/recording_printer.h"

namespace kp::test {

// A template printer printing into a recorder, with short calls for the
// statements the template tests write.
class TemplateStatement : public ::testing::Test {
 protected:
  void begin(const std::string& text) { templates.beginTemplate(text.data(), text.size()); }
  void integer(int64_t value, uint32_t flags = 0) {
    templates.printTemplateInteger(0, value, flags);
  }
  void text(const std::string& value, uint32_t flags = 0) {
    templates.printTemplateText(0, value.data(), value.size(), flags);
  }

  RecordingPrinter out;
  FileTable files;
  TemplatePrinter templates{out, &files};
};

}  // namespace kp::test
