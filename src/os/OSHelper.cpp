// Install directory, pid, directory test and file reads, straight from the system calls.
#include "os/OSHelper.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include "Contract.h"

namespace OS {

std::string getExecutableDirOverride() {
    const char* value = std::getenv(CONTRACT_ENV_INSTALL_DIR);
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

namespace {

std::string errorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

FileText refused(const std::string& problem) {
    FileText file;
    file.outcome = FileText::REFUSED;
    file.problem = problem;
    return file;
}

}  // namespace

FileText readRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return FileText();
        }
        return refused(errorText(errno));
    }
    struct stat info {};
    const int statError = ::fstat(fd, &info) == 0 ? 0 : errno;
    if (statError != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        if (statError != 0) {
            return refused(errorText(statError));
        }
        return refused(S_ISDIR(info.st_mode) ? errorText(EISDIR) : "not a regular file");
    }
    // A regular file: reads may wait for the disk as usual.
    (void)::fcntl(fd, F_SETFL, 0);
    FileText file;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            file.text.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return refused(errorText(error));
        }
    }
    ::close(fd);
    file.outcome = FileText::READ;
    return file;
}

bool waitForDescriptor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

}  // namespace OS

namespace OSHelper {

int getPid() {
    return static_cast<int>(::getpid());
}

}  // namespace OSHelper
