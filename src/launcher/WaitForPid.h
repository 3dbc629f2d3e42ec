#pragma once

namespace corvane::launcher {

// Waits up to `timeoutMs` (counted down by 1000 per one-second probe) for the
// process `pid` (> 0) to end. Returns 0 when it has gone, is not accessible or
// was killed; -1 when it is still alive at the timeout and `killOnTimeout` is
// false; -2 when the kill failed.
int waitForPid(int pid, int timeoutMs, bool killOnTimeout);

}  // namespace corvane::launcher
