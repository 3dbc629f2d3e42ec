#include "WaitProcesses.h"

#include <cerrno>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace corvane::waitpidtest {

namespace {

void sleepMs(int ms) {
    struct timespec left {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

[[noreturn]] void endAfter(int afterMs, int endFd) {
    sleepMs(afterMs);
    const long long now = monotonicNs();
    const ssize_t ignored = ::write(endFd, &now, sizeof now);
    (void)ignored;
    ::_exit(0);
}

int pidfdOf(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool endsWithin(pid_t pid, int ms) {
    const int fd = pidfdOf(pid);
    if (fd < 0) {
        return errno == ESRCH;
    }
    struct pollfd entry {fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, ms);
    } while (ready < 0 && errno == EINTR);
    ::close(fd);
    return ready > 0;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

}  // namespace

long long monotonicNs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

Target startLiving() {
    Target target;
    target.isChild = true;
    target.pid = ::fork();
    if (target.pid == 0) {
        for (;;) {
            ::pause();
        }
    }
    return target;
}

Target startEndingChild(int afterMs) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    Target target;
    target.isChild = true;
    target.pid = ::fork();
    if (target.pid == 0) {
        ::close(fds[0]);
        endAfter(afterMs, fds[1]);
    }
    ::close(fds[1]);
    target.endFd = fds[0];
    return target;
}

Target startEndingGrandchild(int afterMs) {
    int fds[2];
    int pidPipe[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || ::pipe2(pidPipe, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::close(fds[0]);
        ::close(pidPipe[0]);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::close(pidPipe[1]);
            endAfter(afterMs, fds[1]);
        }
        ::_exit(writeAll(pidPipe[1], &grandchild, sizeof grandchild) ? 0 : 1);
    }
    ::close(fds[1]);
    ::close(pidPipe[1]);
    Target target;
    if (::read(pidPipe[0], &target.pid, sizeof target.pid) != static_cast<ssize_t>(sizeof target.pid)) {
        target.pid = 0;
    }
    ::close(pidPipe[0]);
    ::waitpid(middle, nullptr, 0);
    target.endFd = fds[0];
    return target;
}

pid_t pidOfNoProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::optional<long long> endTimeNs(Target& target) {
    if (target.endFd < 0) {
        return std::nullopt;
    }
    // Not readable while the process runs: it writes just before it exits,
    // and the pipe reads as ended once it has died without writing.
    struct pollfd entry {target.endFd, POLLIN, 0};
    if (::poll(&entry, 1, 0) <= 0) {
        return std::nullopt;
    }
    long long at = 0;
    ssize_t n;
    do {
        n = ::read(target.endFd, &at, sizeof at);
    } while (n < 0 && errno == EINTR);
    ::close(target.endFd);
    target.endFd = -1;
    if (n != static_cast<ssize_t>(sizeof at)) {
        return std::nullopt;
    }
    return at;
}

const char* fateName(Fate fate) {
    switch (fate) {
        case Fate::Running: return "running";
        case Fate::Exited: return "exited";
        case Fate::Killed: return "killed";
        case Fate::Gone: return "gone";
        case Fate::Other: return "other";
    }
    return "?";
}

Fate settle(Target& target, int graceMs) {
    if (target.pid <= 0) {
        return Fate::Other;
    }
    const bool ended = endsWithin(target.pid, graceMs);
    Fate fate = Fate::Gone;
    if (target.isChild) {
        if (!ended) {
            ::kill(target.pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(target.pid, &status, 0);
        if (!ended) {
            fate = Fate::Running;
        } else if (WIFEXITED(status)) {
            fate = Fate::Exited;
        } else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            fate = Fate::Killed;
        } else {
            fate = Fate::Other;
        }
    } else if (!ended) {
        ::kill(target.pid, SIGKILL);
        fate = Fate::Running;
    }
    target.pid = 0;
    if (target.endFd >= 0) {
        ::close(target.endFd);
        target.endFd = -1;
    }
    return fate;
}

std::vector<std::string> waitLines(const std::string& logDir) {
    std::vector<std::string> lines;
    for (const std::string& message : corvane::test::logMessagesOfLastRun(logDir + "/corvane-native.log")) {
        if (message.rfind("waitForPid ", 0) == 0 || message.rfind("getCommandLineWaitForPid ", 0) == 0) {
            lines.push_back(message);
        }
    }
    return lines;
}

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string expand(const std::string& pattern, pid_t pid, pid_t other) {
    return corvane::test::replaceAll(corvane::test::replaceAll(pattern, "{pid}", std::to_string(pid)), "{other}",
                                     std::to_string(other));
}

::testing::AssertionResult linesMatch(const std::vector<std::string>& expected,
                                      const std::vector<std::string>& actual) {
    bool same = expected.size() == actual.size();
    for (std::size_t i = 0; same && i < expected.size(); ++i) {
        const std::string& want = expected[i];
        const bool prefix = want.size() >= 3 && want.compare(want.size() - 3, 3, "...") == 0;
        same = prefix ? actual[i].rfind(want.substr(0, want.size() - 3), 0) == 0 : actual[i] == want;
    }
    if (same) {
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "expected lines:\n";
    for (const std::string& line : expected) {
        failure << "  [" << line << "]\n";
    }
    failure << "actual lines:\n";
    for (const std::string& line : actual) {
        failure << "  [" << line << "]\n";
    }
    return failure;
}

std::vector<std::string> progressLines(int fromMs, int probes) {
    std::vector<std::string> lines;
    for (int remaining = fromMs; remaining > 0 && probes != 0; remaining -= 1000, --probes) {
        lines.push_back("waitForPid Process {pid} is still running. Waiting " + std::to_string(remaining) + " ms");
    }
    return lines;
}

SandboxResult runInPidNamespaceImpl(int (*body)(void*, pid_t), void* context) {
    SandboxResult result;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t outer = ::fork();
    if (outer == 0) {
        ::close(report[0]);
        ::alarm(120);
        if (::unshare(CLONE_NEWPID) != 0) {
            ::_exit(0);  // nothing reported: not available
        }
        const pid_t init = ::fork();
        if (init == 0) {
            // pid 1 of the new namespace: when it ends, the kernel ends the rest.
            const pid_t sibling = ::fork();
            if (sibling == 0) {
                for (;;) {
                    ::pause();
                }
            }
            SandboxResult inner;
            inner.available = true;
            inner.bodyStatus = body(context, sibling);
            inner.siblingAlive = ::waitpid(sibling, nullptr, WNOHANG) == 0 && ::kill(sibling, 0) == 0;
            ::_exit(writeAll(report[1], &inner, sizeof inner) ? 0 : 1);
        }
        ::waitpid(init, nullptr, 0);
        ::_exit(0);
    }
    ::close(report[1]);
    SandboxResult inner;
    if (::read(report[0], &inner, sizeof inner) == static_cast<ssize_t>(sizeof inner)) {
        result = inner;
    }
    ::close(report[0]);
    ::waitpid(outer, nullptr, 0);
    return result;
}

}  // namespace corvane::waitpidtest
