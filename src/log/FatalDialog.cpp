#include "log/FatalDialog.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "os/DesktopNotice.h"

namespace {

constexpr int MAX_EXIT_STATUS = 255;
constexpr char VM_NOT_STARTED[] = "Failed to start JVM";

// Empty until the start is the application's own; written before the JVM thread exists.
std::string noticeAppName;

// The fatal message as one sentence for a person.
std::string causeFor(const std::string& message) {
    if (message == VM_NOT_STARTED) {
        return "Its Java runtime could not be started (a file of the runtime is missing or an option was refused).";
    }
    return message + ".";
}

void tellThePerson(const std::string& message) {
    const std::string logFile = getLogsHome() + "/corvane-native.log";
    const std::string summary = noticeAppName + " could not start";
    const std::string body = causeFor(message) + " The log has the details: " + logFile;
    if (::isatty(STDERR_FILENO) == 1) {
        (void)std::fprintf(stderr, "%s: %s\n", summary.c_str(), body.c_str());
        return;
    }
    if (!OS::hasDesktopSession()) {
        return;
    }
    if (OS::showDesktopNotice(noticeAppName, summary, body)) {
        CORVANE_LOG(INFO) << "Told the person: " << summary;
    } else {
        CORVANE_LOG(INFO) << "No notification service or dialog program to tell the person: " << summary;
    }
}

}  // namespace

void enableFatalNotice(const std::string& appName) {
    noticeAppName = appName;
}

void reportFatalAndExit(const std::string& message, int exitCode, bool showDialog) {
    CORVANE_LOG(ERROR) << message;
    if (showDialog && !noticeAppName.empty()) {
        tellThePerson(message);
    }
    // The parent sees only the low 8 bits: a code such as 256 would read as
    // success, so every code that does not fit ends with 255.
    const int status = exitCode >= 0 && exitCode <= MAX_EXIT_STATUS ? exitCode : MAX_EXIT_STATUS;
    std::exit(status);  // NOLINT(concurrency-mt-unsafe): the launcher's one deliberate exit call
}
