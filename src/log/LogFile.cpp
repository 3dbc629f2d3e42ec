// Opening, rotating and appending to the native log file; the reserve
// descriptor for lines that come when the process has no descriptor left.
#include "log/LogFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::log {

namespace {

constexpr int NO_DESCRIPTOR = -1;
constexpr int DESCRIPTOR_IN_USE = -2;
constexpr int LOCK_ATTEMPTS = 200;
constexpr useconds_t LOCK_PAUSE_US = 10000;  // with LOCK_ATTEMPTS: two seconds at most
constexpr int RESERVE_ATTEMPTS = 1000;

// Kept open on the log since start-up. A writer takes it for itself
// (DESCRIPTOR_IN_USE) for one write, so that no other thread can close it
// while it is in use.
std::atomic<int> reservedFd{NO_DESCRIPTOR};
std::atomic<bool> writeFailureReported{false};

// O_NONBLOCK: opening a FIFO never waits for a reader.
int openForAppend(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `fd` is open on the file that `path` names now (links followed).
bool namesLogFile(int fd, const char* path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path, &named) == 0 && sameFile(opened, named);
}

bool isUsableLogFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode));
}

// An exclusive lock on the log directory, or -1. Another starter holds it only
// for a rename, so the wait is short; it is bounded all the same.
int lockDirectory(const char* dir) {
    const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return fd;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
        ::usleep(LOCK_PAUSE_US);
    }
    ::close(fd);
    return -1;
}

// Under the directory lock: renames the log to "<path>.1" when the name itself
// (not a link) still names the regular file open on `fd` and that file is too
// large. Launchers that are still running open the log by name for every line,
// so their next line goes to the new file; none is written into a removed one.
bool rotateIfTooLarge(int fd, const char* path) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::lstat(path, &named) != 0 || !S_ISREG(opened.st_mode) ||
        !sameFile(opened, named) || opened.st_size <= LOG_ROTATE_BYTES) {
        return false;
    }
    const std::string previous = std::string(path) + ".1";
    return ::rename(path, previous.c_str()) == 0;
}

void reportWriteFailure(const char* path, int error) {
    if (writeFailureReported.exchange(true)) {
        return;
    }
    char buffer[256];
    const char* reason = ::strerror_r(error, buffer, sizeof buffer);
    (void)writeAll(STDERR_FILENO, std::string("corvane: cannot write the native log ") + path + ": " + reason + "\n");
}

int takeReserve() {
    for (int attempt = 0; attempt < RESERVE_ATTEMPTS; ++attempt) {
        int fd = reservedFd.load();
        if (fd == NO_DESCRIPTOR) {
            return NO_DESCRIPTOR;
        }
        if (fd != DESCRIPTOR_IN_USE && reservedFd.compare_exchange_weak(fd, DESCRIPTOR_IN_USE)) {
            return fd;
        }
        ::sched_yield();
    }
    return NO_DESCRIPTOR;
}

bool appendThroughReserve(const char* path, const std::string& line) {
    int fd = takeReserve();
    if (fd < 0) {
        return false;
    }
    if (!namesLogFile(fd, path)) {
        // Another launcher has rotated the log since this one started: the
        // reserve names the previous log. Its number is the free slot that
        // opens the current one.
        ::close(fd);
        fd = openForAppend(path);
    }
    const bool written = fd >= 0 && writeAll(fd, line);
    reservedFd.store(fd >= 0 ? fd : NO_DESCRIPTOR);
    return written;
}

}  // namespace

bool writeAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool openLogFile(const char* dir, const char* path, const std::string& banner) {
    const int lock = lockDirectory(dir);
    int fd = openForAppend(path);
    if (fd >= 0 && lock >= 0 && rotateIfTooLarge(fd, path)) {
        ::close(fd);
        fd = openForAppend(path);
    }
    if (lock >= 0) {
        ::close(lock);
    }
    if (fd < 0 || !isUsableLogFile(fd)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    if (!writeAll(fd, banner)) {
        reportWriteFailure(path, errno);
    }
    reservedFd.store(fd);
    return true;
}

bool appendLine(const char* path, const std::string& line) {
    const int fd = openForAppend(path);
    if (fd < 0) {
        const int error = errno;
        if ((error == EMFILE || error == ENFILE) && appendThroughReserve(path, line)) {
            return true;
        }
        reportWriteFailure(path, error);
        return false;
    }
    const bool written = writeAll(fd, line);
    const int error = errno;
    ::close(fd);
    if (!written) {
        reportWriteFailure(path, error);
    }
    return written;
}

}  // namespace corvane::log
