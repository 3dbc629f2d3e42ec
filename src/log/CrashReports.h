// The reports the VM leaves when the application ends unexpectedly: its error
// file (a crash, or an OutOfMemoryError through -XX:+CrashOnOutOfMemoryError)
// and its heap dump, both in the log folder.
#pragma once

#include <string>

namespace corvane::log {

constexpr char ERROR_FILE_PREFIX[] = "corvane-error-";
constexpr char ERROR_FILE_SUFFIX[] = ".log";
constexpr char HEAP_DUMP_PREFIX[] = "corvane-oom-";
constexpr char HEAP_DUMP_SUFFIX[] = ".hprof";

// At a start: when the log folder `logsDir` holds a report newer than the last
// one the person was told of, tells them once (when, and where it is; without
// waiting for the desktop), and keeps only the newest few reports of each kind.
void tellOfEarlierCrash(const std::string& logsDir, const std::string& appName);

}  // namespace corvane::log
