// The native log file itself: opened at start-up without ever blocking, renamed
// aside when it has grown too large, and appended to one whole line per write.
#pragma once

#include <string>

#include <sys/types.h>

namespace corvane::log {

// Above this size the log is renamed to "<log>.1" at start-up and a new one begun.
constexpr off_t LOG_ROTATE_BYTES = off_t{10} * 1024 * 1024;

// Opens the log file `path` (in the directory `dir`) for this process and
// appends `banner`. A regular file above LOG_ROTATE_BYTES is first renamed to
// `path` + ".1", replacing an older one; a lock on `dir` makes sure that of
// launchers starting at once only one renames it. The descriptor stays open as
// the reserve of appendLine. False, with nothing written, when the file cannot
// be opened or is neither a regular file nor a character device (a FIFO, a
// socket or a directory is refused; a link to /dev/null is fine).
bool openLogFile(const char* dir, const char* path, const std::string& banner);

// Appends `line` in one write through a descriptor opened by name; when no new
// descriptor can be opened (the process or the system has used them all), through
// the reserve kept by openLogFile. True when the line reached the file. The first
// line that cannot be kept is reported on standard error, once per process.
bool appendLine(const char* path, const std::string& line);

// Writes all of `text` to `fd`, restarting after interruptions. False on
// failure, with errno telling why.
bool writeAll(int fd, const std::string& text);

}  // namespace corvane::log
