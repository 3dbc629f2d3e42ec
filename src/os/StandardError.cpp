// Descriptor 2 pointed at a file in memory and back, with dup2: the C library's
// stderr and every other writer of descriptor 2 follow it alike.
#include "os/StandardError.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/memfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace OS {

namespace {

std::string errorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

int pointStandardErrorAt(int fd) {
    int result;
    do {
        result = ::dup2(fd, STDERR_FILENO);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

StandardErrorCapture captureStandardError() {
    StandardErrorCapture capture;
    // Through syscall: glibc has a wrapper only since 2.27.
    const int memory = static_cast<int>(::syscall(SYS_memfd_create, "corvane-stderr", MFD_CLOEXEC));
    if (memory < 0) {
        capture.problem = "cannot make a file in memory: " + errorText(errno);
        return capture;
    }
    const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (saved < 0 || pointStandardErrorAt(memory) < 0) {
        capture.problem = "cannot move standard error: " + errorText(errno);
        if (saved >= 0) {
            ::close(saved);
        }
        ::close(memory);
        return capture;
    }
    capture.savedFd = saved;
    capture.memoryFd = memory;
    return capture;
}

std::string releaseStandardError(StandardErrorCapture& capture) {
    if (capture.memoryFd < 0) {
        return std::string();
    }
    // One step: descriptor 2 never stands closed for another thread's write.
    (void)pointStandardErrorAt(capture.savedFd);
    ::close(capture.savedFd);
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t count = ::pread(capture.memoryFd, buffer, sizeof buffer, offset);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
            offset += count;
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(capture.memoryFd);
    capture.savedFd = -1;
    capture.memoryFd = -1;
    return text;
}

}  // namespace OS
