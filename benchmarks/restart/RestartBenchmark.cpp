// Restart of the demo application: from the old process's end to the new
// window being mapped, against a cold start of the same tree, and from the
// "Restart" key to the new window.
//
// Each round starts the tree's corvane (the cold start: spawn -> window
// mapped), presses Ctrl+R in its window with xdotool (the demo's Restart: it
// starts the tree's launcher with --wait-for-pid <its pid> --install and
// ends), and watches one poll loop: a pidfd of the old process (its end) and
// `xev -root -event substructure` (the new window's MapNotify). This program
// is a child subreaper, so the new instance becomes its child when the old
// one ends and is reaped after it is killed.
//
//   restart_bench --tree DIR --display :N [--rounds N] [--scratch DIR] [--rows-only]

#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include "../common/BenchSupport.h"
#include "../common/MapWatcher.h"

namespace {

const char USAGE[] = "restart_bench --tree DIR --display :N [--rounds N] [--scratch DIR] [--rows-only]";
const long long GIVE_UP_NS = 60000000000LL;

struct Round {
    bool ok = false;
    double coldMs = 0;     // spawn -> window mapped
    double handoverMs = 0; // old process's end -> new window mapped
    double restartMs = 0;  // Ctrl+R sent -> new window mapped
};

int runTool(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    const pid_t pid = bench::spawn(args, env);
    return pid > 0 ? bench::reap(pid) : -1;
}

// The pid that owns the window, asked of xdotool; -1 when unknown.
pid_t windowPid(const std::string& window, const std::vector<std::string>& env) {
    const std::string text = bench::toolOutput({"/usr/bin/xdotool", "getwindowpid", window}, env);
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value > 0 ? static_cast<pid_t>(value) : -1;
}

void killAndReap(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

Round runRound(const std::string& tree, const std::vector<std::string>& env, bench::MapWatcher& maps) {
    Round round;
    std::string window;
    const long long spawnedAt = bench::monoNs();
    const pid_t old = bench::spawn({tree + "/corvane"}, env);
    const long long mappedAt = old > 0 ? maps.waitMapped(window) : 0;
    if (mappedAt == 0) {
        std::fprintf(stderr, "the first window was not mapped within 60 s\n");
        killAndReap(old);
        return round;
    }
    // Without a window manager the focus may stay where the last round's
    // window left it: a click on the header gives it to this window.
    ::usleep(300000);
    runTool({"/usr/bin/xdotool", "mousemove", "--window", window, "480", "15", "click", "1"}, env);
    ::usleep(300000);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, old, 0));
    if (pidfd < 0 || runTool({"/usr/bin/xdotool", "key", "ctrl+r"}, env) != 0) {
        std::fprintf(stderr, "pidfd_open or xdotool key failed\n");
        killAndReap(old);
        return round;
    }
    const long long keyAt = bench::monoNs();
    long long endedAt = 0;
    long long newMappedAt = 0;
    const long long giveUp = keyAt + GIVE_UP_NS;
    while ((endedAt == 0 || newMappedAt == 0) && bench::monoNs() < giveUp) {
        struct pollfd fds[2] = {{endedAt == 0 ? pidfd : -1, POLLIN, 0}, {newMappedAt == 0 ? maps.fd() : -1, POLLIN, 0}};
        if (::poll(fds, 2, 1000) <= 0) {
            continue;
        }
        const long long at = bench::monoNs();
        if (fds[0].revents != 0) {
            endedAt = at;
        }
        if (fds[1].revents != 0 && maps.readMapped(window)) {
            newMappedAt = at;
        }
    }
    ::close(pidfd);
    killAndReap(old);
    killAndReap(newMappedAt != 0 ? windowPid(window, env) : -1);
    if (endedAt == 0 || newMappedAt == 0 || newMappedAt < endedAt) {
        std::fprintf(stderr, "no hand-over: old end %s, new window %s\n", endedAt ? "seen" : "not seen",
                     newMappedAt ? "seen" : "not seen");
        return round;
    }
    round.ok = true;
    round.coldMs = static_cast<double>(mappedAt - spawnedAt) / 1e6;
    round.handoverMs = static_cast<double>(newMappedAt - endedAt) / 1e6;
    round.restartMs = static_cast<double>(newMappedAt - keyAt) / 1e6;
    return round;
}

void printRows(double handoverMs, double coldMs, double restartMs) {
    bench::printComparedRow("Restart of the demo window: old process's end to the new window mapped / cold start to "
                            "window mapped, same tree (Xvfb)",
                            handoverMs, coldMs, bench::atMost(1.1, 1));
    bench::printRow("Restart of the demo window: Ctrl+R (\"Restart\") to the new window mapped",
                    bench::cell(restartMs, 1, "ms"), "–", "–", "(reported)", "–");
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree;
    std::string display;
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 8;
    bool rowsOnly = false;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::textOption("--tree", tree), bench::textOption("--display", display),
         bench::countOption("--rounds", rounds), bench::textOption("--scratch", scratchParent),
         bench::rowsOnlyOption(rowsOnly)});
    if (!parsed) {
        return bench::usage(USAGE);
    }
    if (rowsOnly) {
        printRows(std::nan(""), std::nan(""), std::nan(""));
        return 0;
    }
    if (display.empty() || !bench::isExecutable(tree + "/corvane")) {
        return bench::usage(USAGE);
    }
    // Orphans (the new instance, once the old one has ended) become our children.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    const std::string logs = bench::makeScratchDir(scratchParent, "restart");
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("DISPLAY=" + display);
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + logs);
    bench::MapWatcher maps;
    if (!maps.start(env)) {
        std::fprintf(stderr, "cannot start xev\n");
        return 1;
    }

    std::vector<double> cold;
    std::vector<double> handover;
    std::vector<double> restart;
    int failed = 0;
    for (int i = 0; i < rounds + 1; ++i) {
        const Round round = runRound(tree, env, maps);
        if (!round.ok) {
            ++failed;
        } else if (i > 0) {  // the first round warms the caches
            cold.push_back(round.coldMs);
            handover.push_back(round.handoverMs);
            restart.push_back(round.restartMs);
        }
    }
    bench::removeDir(logs);

    std::printf("restart: %s, DISPLAY=%s, %d rounds (+1 warm-up), %d failed\n", tree.c_str(), display.c_str(), rounds,
                failed);
    bench::printSeries("cold start: spawn -> window mapped", cold, "ms");
    bench::printSeries("hand-over: old process ends -> new window", handover, "ms");
    bench::printSeries("Restart: Ctrl+R -> new window mapped", restart, "ms");
    const std::string more = "rounds=" + std::to_string(cold.size());
    bench::printResult("restart_handover", bench::median(handover), bench::median(cold), "ms", more);
    bench::printResult("restart_key", bench::median(restart), std::nan(""), "ms", more);
    printRows(bench::median(handover), bench::median(cold), bench::median(restart));
    return failed == 0 && !cold.empty() ? 0 : 1;
}
