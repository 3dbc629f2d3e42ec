#pragma once

#include <string>

// Sets up the native log: resolves and creates the log directory, writes the
// banner and switches file logging on. `applicationName` is the name the tree's
// record gives, already checked to be one folder's name, or empty: a named
// application keeps its log in a state folder of its own. Ends the process with
// status 1 when the log cannot be set up. Call once, before any other thread exists.
void initialize_logging(bool consoleLogging, const std::string& applicationName = std::string());

// The log directory: the validated one once logging is initialised, otherwise
// resolved from the environment as for a tree without a name (empty when
// nothing gives a directory).
std::string getLogsHome();

namespace corvane::log {

// The values that decide the log directory; null means unset.
struct LogDirEnvironment {
    const char* nativeLogDirOverride;
    const char* testTmpDir;
    const char* xdgDataHome;
    const char* home;
    const char* xdgStateHome = nullptr;
    const char* applicationName = nullptr;  // from the tree's record; null or empty: none
};

// Applies the directory rules to the given values: the override, TEST_TMPDIR's
// "nativeLogs", then for a named application its state folder
// (XDG_STATE_HOME when absolute, else HOME's ".local/state", followed by the
// name), else the shared data folder. `hasBase` is false when no value gives a
// directory at all.
std::string resolveLogsHome(const LogDirEnvironment& env, bool& hasBase);

// Whether those values put the log into the application's state folder.
bool usesStateFolder(const LogDirEnvironment& env);

// True when `path` is an absolute, usable directory; creates it (and its
// missing ancestors, mode 0700) when needed.
bool validateAndCreateLogsDir(const std::string& path);

// The bytes of one line as it reaches the file and the console.
std::string format_log_message(const std::string& message);

// Largest directory and file path the logger accepts.
constexpr std::size_t MAX_LOG_PATH_LENGTH = 2047;

}  // namespace corvane::log
