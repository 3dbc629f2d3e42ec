// Standard descriptors and write signals, set up first thing in the process.
#include "os/ProcessSetup.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
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

}  // namespace OS
