// The install directory check that comes before anything is loaded from the tree.
#include "jvm/InstallDir.h"

#include "jvm/BootstrapManifest.h"

namespace corvane::jvm {

std::string installDirProblem(const OS::InstallDirLookup& lookup) {
    if (!lookup.known) {
        return "Install directory is unknown: /proc/self/exe cannot be read and "
               "CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE is not set";
    }
    // Empty is the root directory: the paths built on it start with "/".
    if (!lookup.path.empty() && lookup.path[0] != '/') {
        return "Install directory is unknown: CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE is not an absolute path: " +
               lookup.path;
    }
    if (lookup.path.find(CLASSPATH_SEPARATOR) != std::string::npos) {
        return "Install directory cannot be used: " + lookup.path + ": " + separatorInPathReason();
    }
    return std::string();
}

}  // namespace corvane::jvm
