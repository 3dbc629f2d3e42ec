#include "os/BackgroundJob.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace OS {

namespace {

// The job's process is forked from a process that has other threads: up to
// its exec it uses only async-signal-safe calls on texts prepared beforehand.
struct PreparedJob {
    char* const* argv;
    const char* lockPath;
    const char* outputPath;
    const char* finalPath;
    const char* failedPath;
    off_t maxSize;
    int maxSeconds;
    const char* quietStatPath;  // /proc/<quietPid>/stat, or null
    long quietTicks;            // CPU ticks in half a second below which the process counts as quiet
    int quietWaitSeconds;
};

void closeInheritedDescriptors() {
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) == 0) {
        return;
    }
    struct rlimit limit {};
    const rlim_t last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? limit.rlim_cur : 65536;
    for (rlim_t fd = 3; fd < last; ++fd) {
        ::close(static_cast<int>(fd));
    }
}

void standardStreamsToNull() {
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) {
        return;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        ::dup2(null, fd);
    }
    if (null > 2) {
        ::close(null);
    }
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

// The program's status, or -1 when it ran past `maxSeconds` (then killed) or
// cannot be waited for. Polls: the job installs no signal handler.
int waitWithin(pid_t pid, int maxSeconds) {
    struct timespec start {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return status;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsedMillis = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
        if (elapsedMillis >= maxSeconds * 1000L) {
            ::kill(pid, SIGKILL);
            waitFor(pid);
            return -1;
        }
        struct timespec pause {0, 100L * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// The CPU time (user and system, in clock ticks) that /proc/<pid>/stat gives,
// or -1 when the process has ended. Parsed by hand: no stdio in the job.
long cpuTicks(const char* statPath) {
    const int fd = ::open(statPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char text[1024];
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    text[length > 0 ? length : 0] = '\0';
    // The fields after the command's closing parenthesis, from the third:
    // state, ..., utime (14), stime (15).
    const char* at = std::strrchr(text, ')');
    if (at == nullptr || at[1] != ' ' || at[2] == 'Z' || at[2] == 'X') {
        return -1;
    }
    int field = 2;
    long times[2] = {0, 0};
    for (++at; *at != '\0' && field <= 15; ++at) {
        if (*at == ' ') {
            ++field;
        } else if ((field == 14 || field == 15) && *at >= '0' && *at <= '9') {
            times[field - 14] = times[field - 14] * 10 + (*at - '0');
        }
    }
    return field > 15 ? times[0] + times[1] : -1;
}

// Waits until the process has ended or has been quiet for two half seconds
// in a row, at most quietWaitSeconds.
void waitForQuiet(const PreparedJob& job) {
    long last = cpuTicks(job.quietStatPath);
    int quietHalves = 0;
    for (int half = 0; last >= 0 && quietHalves < 2 && half < job.quietWaitSeconds * 2; ++half) {
        struct timespec pause {0, 500L * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
        const long now = cpuTicks(job.quietStatPath);
        quietHalves = now >= 0 && now - last < job.quietTicks ? quietHalves + 1 : 0;
        last = now;
    }
}

bool producedGoodOutput(const PreparedJob& job, int status) {
    struct stat info {};
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ::lstat(job.outputPath, &info) == 0 &&
           S_ISREG(info.st_mode) && info.st_size > 0 && info.st_size <= job.maxSize;
}

[[noreturn]] void runJob(const PreparedJob& job) {
    closeInheritedDescriptors();
    standardStreamsToNull();
    struct sched_param idle {};
    ::sched_setscheduler(0, SCHED_IDLE, &idle);
    const int lock = ::open(job.lockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 || ::access(job.finalPath, F_OK) == 0) {
        ::_exit(0);
    }
    if (job.quietStatPath != nullptr) {
        waitForQuiet(job);
    }
    ::unlink(job.outputPath);
    const pid_t program = ::fork();
    if (program == 0) {
        ::execv(job.argv[0], job.argv);
        ::_exit(127);
    }
    const int status = program < 0 ? -1 : waitWithin(program, job.maxSeconds);
    if (producedGoodOutput(job, status) && ::rename(job.outputPath, job.finalPath) == 0) {
        ::_exit(0);
    }
    ::unlink(job.outputPath);
    const int failed = ::open(job.failedPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (failed >= 0) {
        ::close(failed);
    }
    ::_exit(1);
}

}  // namespace

bool startPublishJob(const PublishJob& job) {
    if (job.argv.empty()) {
        return false;
    }
    std::vector<char*> argv;
    argv.reserve(job.argv.size() + 1);
    for (const std::string& arg : job.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const std::string quietStatPath = job.quietPid > 0 ? "/proc/" + std::to_string(job.quietPid) + "/stat" : "";
    // A twentieth of a CPU over half a second.
    const long quietTicks = std::max(1L, ::sysconf(_SC_CLK_TCK) / 40);
    const PreparedJob prepared{argv.data(),
                               job.lockPath.c_str(),
                               job.outputPath.c_str(),
                               job.finalPath.c_str(),
                               job.failedPath.c_str(),
                               job.maxSize,
                               job.maxSeconds,
                               quietStatPath.empty() ? nullptr : quietStatPath.c_str(),
                               quietTicks,
                               job.quietWaitSeconds};
    // Forked twice so that the job is nobody's child here: this process reaps
    // the short-lived middle one at once and never waits for the job itself.
    const pid_t middle = ::fork();
    if (middle < 0) {
        return false;
    }
    if (middle == 0) {
        ::setsid();
        const pid_t jobPid = ::fork();
        if (jobPid == 0) {
            runJob(prepared);
        }
        ::_exit(jobPid < 0 ? 1 : 0);
    }
    const int status = waitFor(middle);
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace OS
