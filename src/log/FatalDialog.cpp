#include "log/FatalDialog.h"

#include <cstdlib>

#include "log/DumpLoggerBuilder.h"

namespace {

constexpr int MAX_EXIT_STATUS = 255;

}  // namespace

void reportFatalAndExit(const std::string& message, int exitCode, bool /*showDialog*/) {
    CORVANE_LOG(ERROR) << message;
    // The parent sees only the low 8 bits: a code such as 256 would read as
    // success, so every code that does not fit ends with 255.
    const int status = exitCode >= 0 && exitCode <= MAX_EXIT_STATUS ? exitCode : MAX_EXIT_STATUS;
    std::exit(status);  // NOLINT(concurrency-mt-unsafe): the launcher's one deliberate exit call
}
