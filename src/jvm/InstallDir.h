// Whether the install directory can carry the paths built on it: the runtime
// library, the manifest, the class path and the native library paths.
#pragma once

#include <string>

#include "os/OSHelper.h"

namespace corvane::jvm {

// Empty when every path can be built on the install directory of `lookup`;
// otherwise the reason why not. A directory that is unknown or relative would
// make those paths relative to the working directory, and a class path
// separator inside it would split the class path into other paths.
std::string installDirProblem(const OS::InstallDirLookup& lookup);

}  // namespace corvane::jvm
