// What the process needs before it opens any file or writes anywhere: standard
// descriptors that exist, and signals from failed writes that do not kill it.
#pragma once

namespace OS {

// Opens /dev/null on every one of descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes the place of standard input, output or error.
void openClosedStandardDescriptors();

// A write to a pipe whose reader is gone, or past the file-size limit, fails
// with EPIPE or EFBIG instead of ending the process (SIGPIPE and SIGXFSZ are
// ignored; the VM later installs its own handlers, which ignore them too).
void ignoreWriteSignals();

}  // namespace OS
