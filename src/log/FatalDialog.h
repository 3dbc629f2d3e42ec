#pragma once

#include <string>

// Logs `message` at ERROR and ends the process with `exitCode` through the C
// library's exit (255 for a code outside 0 to 255). `showDialog` is accepted for callers' sake and has no effect.
[[noreturn]] void reportFatalAndExit(const std::string& message, int exitCode, bool showDialog);
