#pragma once

#include <string>

namespace OS {

// The value of CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE, or empty when unset.
std::string getExecutableDirOverride();

// The install directory: the override when set and not empty, else the
// directory of the running executable without a trailing "/", else empty.
std::string getApplicationInstallDir();

// True when `path` names an existing directory (symbolic links followed).
bool isDirectory(const char* path);

}  // namespace OS

namespace OSHelper {

int getPid();

}  // namespace OSHelper
