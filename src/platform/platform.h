#pragma once

#include <string>

#include "console/console_device.h"
#include "console/key_event_source.h"

namespace kp::platform {

// The real console and keyboard of this platform, created on first use.
ConsoleDevice& consoleDevice();
KeyEventSource& keyEventSource();

// Full path of the running executable's own file (not of a symbolic link to
// it); false when it cannot be had. `invokedAs` is argv[0], for systems that
// tell a program its file in no other way.
bool executablePath(const char* invokedAs, std::string* path);

// Sets the floating-point unit to 64-bit precision, rounding to nearest
// (x87 builds); nothing to do where doubles use SSE.
void setFloatingPointPrecision();

// Runs `action` at process exit, after the actions registered later.
void registerExitAction(void (*action)(void*), void* context);

}  // namespace kp::platform
