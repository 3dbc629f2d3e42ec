// Hand-over latency of "--wait-for-pid": the time from the end of the awaited
// process to the launcher going on with its start.
//
// Each run starts `sleep <s>` and then `corvane --wait-for-pid <its pid>
// --log-native-to-stdout` with an empty install directory, so that the
// launcher, right after the wait, fails to find a runtime and ends with 53.
// One poll loop watches a pidfd of the sleep (its end) and the launcher's
// standard error; the figure is the time from the end to the first line
// after the wait ("resolveJNICreateFunction ..."). The time to the wait's own
// "has gone" line is printed as well. Both times are taken when the poll
// loop wakes up; when the end and the line arrive in one wake-up the figure is
// 0, below what this loop can resolve.
//
//   handover_bench [--runs N] [--launcher PATH] [--sleep SECONDS] [--rows-only]

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/syscall.h>

#include "../common/BenchSupport.h"

namespace {

const char USAGE[] = "handover_bench [--runs N] [--launcher PATH] [--sleep SECONDS] [--rows-only]";

std::string findSleep() {
    for (const char* candidate : {"/usr/bin/sleep", "/bin/sleep"}) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return "sleep";
}

struct Sample {
    bool ok = false;
    double toGoneMs = 0;    // end of the awaited process -> "has gone" line
    double toStartMs = 0;   // end of the awaited process -> first line after the wait
    int launcherStatus = -1;
};

Sample runOnce(const std::string& launcher, const std::string& sleepPath, const std::string& sleepText,
               const std::vector<std::string>& env) {
    Sample sample;
    const pid_t awaited = bench::spawn({sleepPath, sleepText}, env);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, awaited, 0));
    int errPipe[2];
    if (pidfd < 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "pidfd_open or pipe failed: %s\n", std::strerror(errno));
        return sample;
    }
    const pid_t child = bench::spawn({launcher, "--wait-for-pid", std::to_string(awaited), "--log-native-to-stdout"},
                                     env, -1, errPipe[1]);
    ::close(errPipe[1]);

    const std::string goneText = "Process " + std::to_string(awaited) + " has gone";
    long long endedAt = 0;
    long long goneAt = 0;
    long long startAt = 0;
    std::string pending;
    bool errOpen = true;
    bool awaitedRunning = true;
    const long long giveUp = bench::monoNs() + 30000000000LL;
    while ((errOpen || awaitedRunning) && bench::monoNs() < giveUp) {
        struct pollfd fds[2] = {{awaitedRunning ? pidfd : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (::poll(fds, 2, 1000) < 0 && errno != EINTR) {
            break;
        }
        const long long at = bench::monoNs();
        if (awaitedRunning && fds[0].revents != 0) {
            endedAt = at;
            awaitedRunning = false;
            ::waitpid(awaited, nullptr, 0);  // its parent reaps it, as a desktop session would
        }
        if (errOpen && fds[1].revents != 0) {
            char buffer[8192];
            const ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
            if (n <= 0) {
                errOpen = n < 0 && errno == EINTR;
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (goneAt == 0 && line.find(goneText) != std::string::npos) {
                    goneAt = at;
                } else if (goneAt != 0 && startAt == 0) {
                    startAt = at;  // the first line after the wait
                }
            }
        }
    }
    ::close(errPipe[0]);
    ::close(pidfd);
    if (awaitedRunning) {
        ::kill(awaited, SIGKILL);
        ::waitpid(awaited, nullptr, 0);
    }
    sample.launcherStatus = child > 0 ? bench::reap(child) : -1;
    sample.ok = endedAt != 0 && goneAt != 0 && startAt != 0;
    sample.toGoneMs = static_cast<double>(goneAt - endedAt) / 1e6;
    sample.toStartMs = static_cast<double>(startAt - endedAt) / 1e6;
    return sample;
}

void printFigures(const char* what, const std::vector<double>& values) {
    std::printf("%-36s median %8.3f ms   min %8.3f ms   max %8.3f ms\n", what, bench::median(values),
                bench::minOf(values), bench::maxOf(values));
}

void printRow(double medianMs) {
    const bench::Aim aim = bench::below(5, 0, "ms");
    bench::printRow("Hand-over latency (`--wait-for-pid`): end of the awaited process to start-up going on",
                    bench::cell(medianMs, 2, "ms"), "–", "–", aim.text(), aim.met(medianMs));
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 15;
    std::string launcher = CORVANE_BENCH_LAUNCHER;
    std::string sleepText = "0.3";
    bool rowsOnly = false;
    const bool parsed =
        bench::parseOptions(argc, argv,
                            {bench::numberOption("--runs", runs), bench::textOption("--launcher", launcher),
                             bench::textOption("--sleep", sleepText), bench::rowsOnlyOption(rowsOnly)});
    if (!parsed) {
        return bench::usage(USAGE);
    }
    if (rowsOnly) {
        printRow(std::nan(""));
        return 0;
    }
    if (runs < 1 || !bench::isExecutable(launcher)) {
        return bench::usage(USAGE);
    }

    const std::string base = bench::defaultScratchParent();
    const std::string logPattern = bench::makeScratchDir(base, "handover-log");
    const std::string installPattern = bench::makeScratchDir(base, "handover-install");
    const std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                          "CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + logPattern,
                                          "CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE=" + installPattern};
    const std::string sleepPath = findSleep();

    std::vector<double> toGone;
    std::vector<double> toStart;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const Sample sample = runOnce(launcher, sleepPath, sleepText, env);
        if (!sample.ok || sample.launcherStatus != 53) {
            ++failed;
            continue;
        }
        toGone.push_back(sample.toGoneMs);
        toStart.push_back(sample.toStartMs);
    }
    std::remove((logPattern + "/corvane-native.log").c_str());
    ::rmdir(logPattern.c_str());
    ::rmdir(installPattern.c_str());

    std::printf("launcher: %s\nawaited: sleep %s, %d runs, %d without a usable figure\n", launcher.c_str(),
                sleepText.c_str(), runs, failed);
    if (toStart.empty()) {
        std::printf("handover_median_ms=nan\n");
        printRow(std::nan(""));
        return 1;
    }
    printFigures("end -> \"has gone\" line:", toGone);
    printFigures("end -> first line after the wait:", toStart);
    std::printf("handover_median_ms=%.3f handover_min_ms=%.3f handover_max_ms=%.3f runs=%zu\n",
                bench::median(toStart), bench::minOf(toStart), bench::maxOf(toStart), toStart.size());
    printRow(bench::median(toStart));
    return failed == 0 ? 0 : 1;
}
