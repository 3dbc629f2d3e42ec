#include "log/DumbLogger.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BuildVersion.h"
#include "Contract.h"
#include "log/DumpLoggerBuilder.h"
#include "log/FatalDialog.h"
#include "log/LogFile.h"
#include "os/OSHelper.h"

namespace {

// Written only by initialize_logging, on the main thread, before any other
// thread exists; read-only afterwards.
bool isConsoleLoggingEnabled = false;
char logPrefix[1024] = "NOT INITIALIZED";
char logsDir[2048] = "";
char logFile[2048] = "";
bool logsDirInitialized = false;
bool isFileLoggingEnabled = false;
// The console copy's descriptor: standard error as it was at start-up, kept
// apart, so that while the VM is created (when standard error is taken aside)
// the copy still reaches the console and is not logged a second time.
int consoleFd = STDERR_FILENO;

// How deep the current thread is inside the logger. A log call made while the
// same thread is already logging (a crash handler, say) is admitted up to two
// levels deep; deeper ones are dropped so that a fault in the logger cannot
// recurse without end. Other threads are never held back.
thread_local int massage_handler_logging = 0;
constexpr int MAX_NESTED_LOG_CALLS = 2;

const char LOG_LEVEL_TAG[] = " INFO   ---- (native)                 ";
const char LOG_BANNER[] = "\n\n==========================================\nLogger initialized\n";
const char LOG_FILE_NAME[] = "/corvane-native.log";

// Each line goes out in one write to an O_APPEND descriptor, so lines of
// concurrent writers (threads or processes) never interleave. A line that
// cannot be written (a full disk) is lost and said once on standard error,
// but it does not stop the launcher.
bool write_message_to_file(const std::string& text) {
    return corvane::log::appendLine(logFile, text);
}

// One write per line keeps the console lines of concurrent threads whole too.
bool message_handler_from_console(const std::string& line) {
    (void)corvane::log::writeAll(consoleFd, line);
    return true;
}

void message_handler_impl(const std::string& message) {
    const std::string line = corvane::log::format_log_message(message);
    if (isFileLoggingEnabled) {
        write_message_to_file(line);
    }
    if (isConsoleLoggingEnabled) {
        message_handler_from_console(line);
    }
}

void logMessage(const std::string& message) {
    if (massage_handler_logging < MAX_NESTED_LOG_CALLS) {
        ++massage_handler_logging;
        message_handler_impl(message);
        --massage_handler_logging;
    }
}

// A failed log set-up must never be silent: when console logging is off the
// fatal line would reach nobody, so the reason goes to standard error as well.
[[noreturn]] void failLogSetup(const std::string& message, bool flag) {
    if (!isConsoleLoggingEnabled) {
        (void)corvane::log::writeAll(STDERR_FILENO, "corvane: " + message + "\n");
    }
    reportFatalAndExit(message, 1, flag);
}

}  // namespace

DumpLoggerBuilder::~DumpLoggerBuilder() {
    logMessage(text);
}

namespace corvane::log {

bool usesStateFolder(const LogDirEnvironment& env) {
    return env.nativeLogDirOverride == nullptr && env.testTmpDir == nullptr && env.applicationName != nullptr &&
           env.applicationName[0] != '\0';
}

std::string resolveLogsHome(const LogDirEnvironment& env, bool& hasBase) {
    hasBase = true;
    if (env.nativeLogDirOverride != nullptr) {
        return env.nativeLogDirOverride;
    }
    if (env.testTmpDir != nullptr) {
        return std::string(env.testTmpDir) + "/nativeLogs";
    }
    if (usesStateFolder(env)) {
        if (env.xdgStateHome != nullptr && env.xdgStateHome[0] == '/') {
            return std::string(env.xdgStateHome) + "/" + env.applicationName;
        }
        if (env.home != nullptr) {
            return std::string(env.home) + "/.local/state/" + env.applicationName;
        }
        hasBase = false;
        return std::string();
    }
    std::string base;
    if (env.xdgDataHome != nullptr) {
        base = env.xdgDataHome;
    } else if (env.home != nullptr) {
        base = std::string(env.home) + "/.local/share";
    } else {
        hasBase = false;
        return std::string();
    }
    return base + "/Vellumbry/" + "Corvane" + "/logs";
}

bool validateAndCreateLogsDir(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return false;
    }
    if (OS::isDirectory(path.c_str())) {
        return true;
    }
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            ::mkdir(path.substr(0, i).c_str(), 0700);
        }
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return OS::isDirectory(path.c_str());
}

std::string format_log_message(const std::string& message) {
    std::string line(logPrefix);

    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const time_t seconds = now.tv_sec;
    struct tm local {};
    ::localtime_r(&seconds, &local);

    char buffer[100];
    buffer[0] = '\0';
    // A time that does not fit leaves the buffer empty; the line goes out all the same.
    (void)std::strftime(buffer, sizeof buffer, "%F %T", &local);
    line.append(buffer);
    buffer[0] = '\0';
    (void)std::snprintf(buffer, sizeof buffer, ".%03d", static_cast<int>(now.tv_nsec / 1000000));
    line.append(buffer);

    line.append(LOG_LEVEL_TAG);
    line.append(message);
    line.push_back('\n');
    return line;
}

}  // namespace corvane::log

namespace {

corvane::log::LogDirEnvironment currentLogDirEnvironment(const char* applicationName) {
    return {std::getenv(CONTRACT_ENV_LOG_DIR), std::getenv("TEST_TMPDIR"), std::getenv("XDG_DATA_HOME"),
            std::getenv("HOME"), std::getenv("XDG_STATE_HOME"), applicationName};
}

}  // namespace

std::string getLogsHome() {
    if (logsDirInitialized) {
        return logsDir;
    }
    bool hasBase = true;
    return corvane::log::resolveLogsHome(currentLogDirEnvironment(nullptr), hasBase);
}

void initialize_logging(bool consoleLogging, const std::string& applicationName) {
    isConsoleLoggingEnabled = isConsoleLoggingEnabled || consoleLogging;
    if (isConsoleLoggingEnabled && consoleFd == STDERR_FILENO) {
        // Without a copy of its own the console copy goes to descriptor 2 as it is.
        const int copy = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        consoleFd = copy >= 0 ? copy : STDERR_FILENO;
    }

    const std::string prefix =
        std::string(CORVANE_BUILD_VERSION) + " " + std::to_string(OSHelper::getPid()) + " ";
    // A prefix longer than the buffer is cut; it is never used as a path.
    (void)std::snprintf(logPrefix, sizeof logPrefix, "%s", prefix.c_str());

    const corvane::log::LogDirEnvironment env = currentLogDirEnvironment(applicationName.c_str());
    bool hasBase = true;
    const std::string dir = corvane::log::resolveLogsHome(env, hasBase);
    if (!hasBase) {
        failLogSetup(corvane::log::usesStateFolder(env)
                         ? "Invalid or inaccessible log directory: none of CORVANE_NATIVE_LOG_DIR_OVERRIDE, "
                           "TEST_TMPDIR, an absolute XDG_STATE_HOME or HOME is set"
                         : "Invalid or inaccessible log directory: none of CORVANE_NATIVE_LOG_DIR_OVERRIDE, "
                           "TEST_TMPDIR, XDG_DATA_HOME or HOME is set",
                     false);
    }
    const std::string file = dir + LOG_FILE_NAME;
    // A path that does not fit the logger's buffers is refused rather than cut
    // and then used as some other path.
    if (dir.empty() || dir.size() > corvane::log::MAX_LOG_PATH_LENGTH ||
        !corvane::log::validateAndCreateLogsDir(dir)) {
        failLogSetup("Invalid or inaccessible log directory: " + dir, false);
    }
    if (file.size() > corvane::log::MAX_LOG_PATH_LENGTH) {
        failLogSetup("Failed to open log file for writing: " + file, true);
    }

    // Both lengths were checked against MAX_LOG_PATH_LENGTH above: nothing is cut.
    (void)std::snprintf(logsDir, sizeof logsDir, "%s", dir.c_str());
    (void)std::snprintf(logFile, sizeof logFile, "%s", file.c_str());
    logsDirInitialized = true;

    if (!corvane::log::openLogFile(logsDir, logFile, LOG_BANNER)) {
        failLogSetup("Failed to open log file for writing: " + file, true);
    }
    isFileLoggingEnabled = true;
    if (corvane::log::usesStateFolder(env)) {
        CORVANE_LOG(INFO) << "The tree's record names the application " + applicationName +
                                 ": its native log, the VM's error files and heap dumps are kept in its state folder"
                          << dir;
    }
}
