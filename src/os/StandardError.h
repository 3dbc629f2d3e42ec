// Standard error taken aside for a while: what the process writes to
// descriptor 2 meanwhile lands in a file in memory and is handed back, and
// the terminal sees none of it. Uses nothing of the launcher's own.
#pragma once

#include <string>

namespace OS {

struct StandardErrorCapture {
    int savedFd = -1;    // what descriptor 2 was, while it is taken aside
    int memoryFd = -1;   // what descriptor 2 is meanwhile
    std::string problem;  // why standard error could not be taken aside ("" when it is)
};

// Points descriptor 2 at a new file in memory. With a problem, descriptor 2
// is left as it was.
StandardErrorCapture captureStandardError();

// Points descriptor 2 back where it was and returns what was written to it
// meanwhile; empty when nothing was taken aside. Call once per capture.
std::string releaseStandardError(StandardErrorCapture& capture);

}  // namespace OS
