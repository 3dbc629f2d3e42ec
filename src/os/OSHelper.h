// The launcher's window on the operating system: install directory, pid,
// directory test and whole-file reads. Uses nothing of the launcher's own;
// every other folder may use it.
#pragma once

#include <chrono>
#include <string>

namespace OS {

// The value of CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE, or empty when unset.
std::string getExecutableDirOverride();

// The install directory as found, and whether it was found at all: an empty
// path is also the directory of an executable in the root directory.
struct InstallDirLookup {
    std::string path;
    bool known = false;
};
InstallDirLookup lookUpApplicationInstallDir();

// The install directory: the override when set and not empty, else the
// directory of the running executable without a trailing "/", else empty.
std::string getApplicationInstallDir();

// True when `path` names an existing directory (symbolic links followed).
bool isDirectory(const char* path);

// A whole regular file's text. The file is opened without waiting, so that a
// FIFO or a device in its place cannot hold the caller up; anything but a
// regular file is refused unread.
struct FileText {
    enum Outcome { READ, ABSENT, REFUSED };
    Outcome outcome = ABSENT;
    std::string text;     // READ: the file's bytes
    std::string problem;  // REFUSED: why, as the system says it or "not a regular file"
};
FileText readRegularFile(const std::string& path);

// Waits until `fd` is ready for `events` (poll's); false at the deadline or on an error.
bool waitForDescriptor(int fd, short events, std::chrono::steady_clock::time_point deadline);

}  // namespace OS

namespace OSHelper {

int getPid();

}  // namespace OSHelper
