#pragma once

#include <string>

// Logs `message` at ERROR and ends the process with `exitCode` through the C
// library's exit (255 for a code outside 0 to 255). With `showDialog`, once a
// start has become the application's own (enableFatalNotice), the person is told
// too: on standard error when it is a terminal, else, in a desktop session,
// through a notification or a small dialog that names the application, the
// cause and the log.
[[noreturn]] void reportFatalAndExit(const std::string& message, int exitCode, bool showDialog);

// Called once a start is the application's own (not --version, not handed
// over), before the JVM thread exists: fatal ends from then on are shown under `appName`.
void enableFatalNotice(const std::string& appName);
