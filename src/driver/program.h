#pragma once

#include "console/console.h"
#include "console/console_device.h"
#include "console/key_event_source.h"
#include "console/key_wait.h"
#include "console/template_printer.h"
#include "input/field_reader.h"
#include "input/file_table.h"

namespace kp {

// The program's shared state, created once at start-up in the order the
// subsystems build on each other. Tests create their own around fake devices.
struct Program {
  Program(ConsoleDevice& device, KeyEventSource& keys)
      : reader(files), console(files, device), templates(console, &files), keyWait(keys) {}

  FileTable files;
  FieldReader reader;
  Console console;
  TemplatePrinter templates;
  KeyWait keyWait;
};

}  // namespace kp
