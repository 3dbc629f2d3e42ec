// One instance per user, for trees whose record says "single-instance=yes": a
// start hands its working directory and arguments to the running instance and
// ends, before any runtime is loaded. Trees without the key are not touched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jvm/TreeRecord.h"

namespace corvane::launcher {

// The request a start sends to the running instance:
//   "corvane-instance 1\n"
//   the number of strings that follow, in decimal, and "\n"
//   the working directory, then every argument from the program path on,
//   each followed by a NUL byte (an argument may be empty, none holds a NUL)
// The instance answers "ok\n" once it has taken the start over, and closes.
std::string instanceRequest(const std::string& workingDirectory, const std::vector<std::string_view>& arguments);

enum class InstanceOutcome {
    HANDED_OVER,  // the running instance took the start: end with status 0
    START,        // start the VM (holding the instance lock when it was free)
};

// Looks for the running instance of the tree whose record asks for one
// instance and hands this start over to it, unless `replacing` (a
// --wait-for-pid hand-over, which only takes the lock). Waits a bounded time
// when another start holds the lock but does not listen yet.
InstanceOutcome settleInstance(const jvm::TreeRecord& treeRecord, const std::vector<std::string_view>& arguments,
                               bool replacing);

}  // namespace corvane::launcher
