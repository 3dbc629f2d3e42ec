// Standard descriptors and write signals, set up first thing in the process.
#include "os/ProcessSetup.h"

#include <cerrno>
#include <csignal>

#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace OS {

namespace {

int openPlaceholder() {
    int fd = ::open("/dev/null", O_RDWR);
    if (fd < 0) {
        // No /dev/null (a bare chroot): a path-only descriptor on the root
        // directory still keeps the number taken, and every read or write on it fails.
        fd = ::open("/", O_PATH | O_DIRECTORY);
    }
    return fd;
}

}  // namespace

void openClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free number is taken, which is this one, since the
        // lower ones are open by now.
        const int opened = openPlaceholder();
        if (opened > fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void ignoreWriteSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

namespace {

constexpr std::size_t STDERR_COPY_LIMIT = 65536;

bool writeAllTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool startStderrCopy(StderrCopy& copy) {
    copy.memory = ::memfd_create("corvane-stderr", MFD_CLOEXEC);
    if (copy.memory < 0) {
        return false;
    }
    copy.saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (copy.saved < 0 || ::dup2(copy.memory, STDERR_FILENO) < 0) {
        if (copy.saved >= 0) {
            ::close(copy.saved);
        }
        ::close(copy.memory);
        copy = StderrCopy{};
        return false;
    }
    return true;
}

std::string finishStderrCopy(StderrCopy& copy) {
    if (copy.memory < 0) {
        return std::string();
    }
    (void)::dup2(copy.saved, STDERR_FILENO);
    std::string text;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t count = ::pread(copy.memory, buffer, sizeof buffer, at);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        (void)writeAllTo(STDERR_FILENO, buffer, static_cast<std::size_t>(count));
        if (text.size() < STDERR_COPY_LIMIT) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
        at += count;
    }
    ::close(copy.saved);
    ::close(copy.memory);
    copy = StderrCopy{};
    return text;
}

}  // namespace OS
