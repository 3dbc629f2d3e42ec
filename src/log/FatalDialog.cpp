#include "log/FatalDialog.h"

#include <cstdlib>

#include "log/DumpLoggerBuilder.h"

void reportFatalAndExit(const std::string& message, int exitCode, bool /*showDialog*/) {
    CORVANE_LOG(ERROR) << message;
    std::exit(exitCode);  // NOLINT(concurrency-mt-unsafe): the launcher's one deliberate exit call
}
