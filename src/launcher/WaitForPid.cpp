#include "launcher/WaitForPid.h"

#include <cerrno>
#include <csignal>
#include <ctime>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "log/DumpLoggerBuilder.h"

namespace corvane::launcher {

namespace {

constexpr int PAUSE_MS = 1000;

// A pidfd names one process for good: probing and killing through it can never
// hit an unrelated process that later got the same pid. -1 where the kernel
// has no pidfds (before Linux 5.3) or the process is not there.
int openPidfd(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int sendSignal(int pidfd, int pid, int signal) {
#ifdef SYS_pidfd_send_signal
    if (pidfd >= 0) {
        return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
    }
#endif
    return ::kill(pid, signal);
}

long long monotonicMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Pauses up to `ms`, ending early when the process behind the pidfd ends.
// Returns true when it has ended.
bool pauseUntilEnded(int pidfd, int ms) {
    if (pidfd < 0) {
        ::sleep(static_cast<unsigned>(ms / 1000));  // NOLINT(concurrency-mt-unsafe): the launcher installs no SIGCHLD handler
        return false;
    }
    const long long deadline = monotonicMs() + ms;
    for (;;) {
        const long long left = deadline - monotonicMs();
        struct pollfd entry {};
        entry.fd = pidfd;
        entry.events = POLLIN;
        const int ready = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            // poll itself failed: still pause, or the wait would run through
            // all its probes at once and kill on "timeout" right away.
            const long long rest = deadline - monotonicMs();
            if (rest > 0) {
                ::usleep(static_cast<useconds_t>(rest * 1000));
            }
            return false;
        }
    }
}

// A process that has ended may linger as a zombie that still answers a probe
// signal; a readable pidfd tells that it has ended all the same.
bool isAlive(int pidfd, int pid, bool endedSeen) {
    if (endedSeen) {
        return false;
    }
    if (pidfd >= 0 && pauseUntilEnded(pidfd, 0)) {
        return false;
    }
    return sendSignal(pidfd, pid, 0) == 0;
}

class PidfdHolder {
public:
    explicit PidfdHolder(int fd) : fd_(fd) {}
    ~PidfdHolder() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PidfdHolder(const PidfdHolder&) = delete;
    PidfdHolder& operator=(const PidfdHolder&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

int waitForPid(int pid, int timeoutMs, bool killOnTimeout) {
    CORVANE_LOG(INFO) << "Waiting for pid" << pid << "to exit";
    if (pid <= 0) {
        // Never signal a process group or every process: only a single pid.
        CORVANE_LOG(INFO) << "Process" << pid << "has gone or not accessible";
        return 0;
    }
    const int fd = openPidfd(pid);
    bool ended = fd < 0 && errno == ESRCH;  // no such process: the first probe says it has gone
    PidfdHolder pidfd(fd);

    int remaining = timeoutMs;
    while (remaining > 0) {
        if (!isAlive(pidfd.get(), pid, ended)) {
            CORVANE_LOG(INFO) << "Process" << pid << "has gone or not accessible";
            return 0;
        }
        CORVANE_LOG(DEBUG) << "Process" << pid << "is still running. Waiting" << remaining << "ms";
        ended = pauseUntilEnded(pidfd.get(), PAUSE_MS);
        remaining -= PAUSE_MS;
    }
    CORVANE_LOG(INFO) << "Timeout waiting for process" << pid << "to finish";
    if (!killOnTimeout) {
        CORVANE_LOG(INFO) << "Timeout." << pid << " is still alive";
        return -1;
    }
    CORVANE_LOG(INFO) << "Killing process pid" << pid;
    if (sendSignal(pidfd.get(), pid, SIGKILL) != 0) {
        CORVANE_LOG(INFO) << "Failed to kill process " << pid << " on timeout";
        return -2;
    }
    pauseUntilEnded(pidfd.get(), PAUSE_MS);
    return 0;
}

}  // namespace corvane::launcher
