// What the process needs before it opens any file or writes anywhere: standard
// descriptors that exist, and signals from failed writes that do not kill it.
#pragma once

#include <string>

namespace OS {

// Opens /dev/null on every one of descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes the place of standard input, output or error.
void openClosedStandardDescriptors();

// A write to a pipe whose reader is gone, or past the file-size limit, fails
// with EPIPE or EFBIG instead of ending the process (SIGPIPE and SIGXFSZ are
// ignored; the VM later installs its own handlers, which ignore them too).
void ignoreWriteSignals();

// What the process writes to standard error for a while, kept in memory as
// well: messages a library prints there before any hook of ours is in place.
struct StderrCopy {
    int saved = -1;   // standard error as it was
    int memory = -1;  // where it goes meanwhile
};

// Sends standard error into memory until finishStderrCopy; false (and nothing
// changed) when that is not possible.
bool startStderrCopy(StderrCopy& copy);

// Puts standard error back, passes on to it what was written meanwhile, and
// returns that text (at most its first 64 KiB).
std::string finishStderrCopy(StderrCopy& copy);

}  // namespace OS
