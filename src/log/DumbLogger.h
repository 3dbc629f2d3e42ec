#pragma once

#include <string>

// Sets up the native log: resolves and creates the log directory, writes the
// banner and switches file logging on. Ends the process with status 1 when
// the log cannot be set up. Call once, before any other thread exists.
void initialize_logging(bool consoleLogging);

// The log directory: the validated one once logging is initialised, otherwise
// resolved from the environment (empty when nothing gives a directory).
std::string getLogsHome();

namespace corvane::log {

// The environment values that decide the log directory; null means unset.
struct LogDirEnvironment {
    const char* nativeLogDirOverride;
    const char* testTmpDir;
    const char* xdgDataHome;
    const char* home;
};

// Applies the directory rules to the given values. `hasBase` is false when no
// value gives a directory at all (every variable unset).
std::string resolveLogsHome(const LogDirEnvironment& env, bool& hasBase);

// True when `path` is an absolute, usable directory; creates it (and its
// missing ancestors, mode 0700) when needed.
bool validateAndCreateLogsDir(const std::string& path);

// The bytes of one line as it reaches the file and the console.
std::string format_log_message(const std::string& message);

// Largest directory and file path the logger accepts.
constexpr std::size_t MAX_LOG_PATH_LENGTH = 2047;

}  // namespace corvane::log
