// Install directory, pid and directory test, straight from the system calls.
#include "os/OSHelper.h"

#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace OS {

std::string getExecutableDirOverride() {
    const char* value = std::getenv("CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE");
    return value != nullptr ? std::string(value) : std::string();
}

InstallDirLookup lookUpApplicationInstallDir() {
    std::string overrideDir = getExecutableDirOverride();
    if (!overrideDir.empty()) {
        return {overrideDir, true};
    }
    char path[4096];
    std::memset(path, 0, sizeof path);
    // One byte stays free for the terminator.
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {std::string(), false};
    }
    path[length] = '\0';
    std::string executable(path, static_cast<std::size_t>(length));
    const std::size_t slash = executable.rfind('/');
    if (slash == std::string::npos) {
        return {executable, true};
    }
    return {executable.substr(0, slash), true};
}

std::string getApplicationInstallDir() {
    return lookUpApplicationInstallDir().path;
}

bool isDirectory(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace OS

namespace OSHelper {

int getPid() {
    return static_cast<int>(::getpid());
}

}  // namespace OSHelper
