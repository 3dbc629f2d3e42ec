#pragma once

#include <string>

namespace corvane::launcher {

// What the text after "--wait-for-pid" gives. `pid` is 0 when nothing is to be
// waited for; `ignoredBecause` is not empty when the text was not a usable pid.
struct PidText {
    int pid = 0;
    std::string ignoredBecause;
};

// Reads a pid the way strtoul does with base 10 (leading white space, an
// optional "+", digits up to the first non-digit), but accepts only 1 to
// 2147483647: a minus sign, missing digits or a larger number give no pid, so
// that nothing but a single positive pid can ever be signalled.
PidText parsePidText(const char* text);

}  // namespace corvane::launcher
