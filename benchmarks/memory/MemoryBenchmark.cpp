// Idle memory: the peak resident set (VmHWM of /proc/<pid>/status) of the
// application idling, under corvane and under "java" with the launcher's
// options (the hook entries left out, the class path as -cp) and a main class
// that calls the same entry method.
// A run starts the process, waits until it is ready -- a visible window with
// the given title (found with xdotool; --ready-window), or else a thread of
// the given name (the demo's AWT event thread by default) -- lets it idle for
// the given time, reads VmHWM and VmRSS, and kills it (SIGKILL).
// The sides run in turn, in a rotating order.
//
//   memory_bench --tree DIR --java PATH [--extra-java PATH] [--display :N]
//                [--ready-thread NAME | --ready-window TITLE] [--idle-ms N] [--rounds N] [--mode-env NAME=VALUE]
//                [--what TEXT] [--scratch DIR] [--rows-only]
// --java is the reference of the ratio; --extra-java is measured and printed too.
// --what says in the table's rows what idled (the tree, the window, the display).

#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <dirent.h>

#include "../common/BenchSupport.h"

namespace {

struct Side {
    std::string name;
    std::vector<std::string> command;
    std::string logs;
    std::vector<double> peakMiB;
    std::vector<double> rssMiB;
    std::vector<double> readyMs;
    int failures = 0;
};

bool hasThread(pid_t pid, const std::string& name) {
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(taskDir.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (const struct dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::string comm = bench::readFile(taskDir + "/" + entry->d_name + "/comm");
        if (!comm.empty() && comm.back() == '\n') {
            comm.pop_back();
        }
        // The kernel keeps 15 bytes of a thread name.
        if (!comm.empty() && name.compare(0, comm.size(), comm) == 0 && comm.size() >= std::min<std::size_t>(15, name.size())) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// A visible window whose title is exactly `title`, asked of xdotool.
bool hasWindow(const std::string& title, const std::vector<std::string>& env) {
    const pid_t pid = bench::spawn({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}, env);
    return pid > 0 && bench::reap(pid) == 0;
}

double statusKiB(const std::string& status, const std::string& field) {
    const long long kib = bench::numberAfter(status, field + ":");
    return kib < 0 ? -1 : static_cast<double>(kib);
}

bool exited(pid_t pid, int& status) {
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

void runOnce(Side& side, const std::vector<std::string>& extraEnv, const std::string& readyThread,
             const std::string& readyWindow, int idleMs, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    // The console output is kept to explain a failed run.
    const std::string consolePath = side.logs + "/console.txt";
    const int console = ::open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const long long start = bench::monoNs();
    const pid_t pid = bench::spawn(side.command, env, console, console);
    if (console >= 0) {
        ::close(console);
    }
    if (pid <= 0) {
        ++side.failures;
        return;
    }
    const auto consoleTail = [&consolePath] {
        const std::string text = bench::readFile(consolePath);
        return text.size() > 600 ? text.substr(text.size() - 600) : text;
    };
    int status = 0;
    bool ready = false;
    while (bench::monoNs() - start < 60000000000LL) {
        if (exited(pid, status)) {
            std::fprintf(stderr, "%s: ended before it was ready (status %d); its output:\n%s\n", side.name.c_str(),
                         WIFEXITED(status) ? WEXITSTATUS(status) : -1, consoleTail().c_str());
            ++side.failures;
            return;
        }
        if (readyWindow.empty() ? hasThread(pid, readyThread) : hasWindow(readyWindow, env)) {
            ready = true;
            break;
        }
        ::usleep(readyWindow.empty() ? 20000 : 50000);
    }
    const long long readyAt = bench::monoNs();
    if (ready) {
        ::usleep(static_cast<useconds_t>(idleMs) * 1000);
    }
    const std::string procStatus = bench::readFile("/proc/" + std::to_string(pid) + "/status");
    const bool stillRunning = !exited(pid, status);
    if (stillRunning) {
        ::kill(pid, SIGKILL);
        bench::reap(pid);
    }
    const double peak = statusKiB(procStatus, "VmHWM");
    const double rss = statusKiB(procStatus, "VmRSS");
    if (!ready || !stillRunning || peak <= 0) {
        std::fprintf(stderr, "%s: %s; its output:\n%s\n", side.name.c_str(),
                     !ready ? "not ready within 60 s" : "ended while idling", consoleTail().c_str());
        ++side.failures;
        return;
    }
    if (count) {
        side.peakMiB.push_back(peak / 1024.0);
        side.rssMiB.push_back(rss / 1024.0);
        side.readyMs.push_back(static_cast<double>(readyAt - start) / 1e6);
    }
}

const char USAGE[] =
    "memory_bench --tree DIR --java PATH [--extra-java PATH] [--display :N] "
    "[--ready-thread NAME | --ready-window TITLE] [--idle-ms N] [--rounds N] [--mode-env NAME=VALUE] [--what TEXT] "
    "[--scratch DIR] [--rows-only]";

// The peaks' medians against java of the same runtime and against --extra-java.
void printRows(const std::string& what, double corvaneMiB, double javaMiB, double extraMiB) {
    bench::printComparedRow("Idle peak RSS (VmHWM), " + what + " / `java` of the same runtime", corvaneMiB, javaMiB,
                            bench::atMost(1.0, 1), "MiB", 1, 3);
    bench::printComparedRow("Idle peak RSS, the same / stock JDK `java`", corvaneMiB, extraMiB, bench::atMost(1.0, 1),
                            "MiB", 1, 3);
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree;
    std::string java;
    std::string extraJava;
    std::string display;
    std::string readyThread = "AWT-EventQueue-0";
    std::string readyWindow;
    std::string what;
    std::string scratchParent = bench::defaultScratchParent();
    std::vector<std::string> extraEnv;
    int idleMs = 2000;
    int rounds = 5;
    bool rowsOnly = false;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::textOption("--tree", tree), bench::textOption("--java", java),
         bench::textOption("--extra-java", extraJava), bench::textOption("--display", display),
         bench::textOption("--ready-thread", readyThread), bench::textOption("--ready-window", readyWindow),
         bench::countOption("--idle-ms", idleMs), bench::countOption("--rounds", rounds),
         bench::listOption("--mode-env", extraEnv), bench::textOption("--what", what),
         bench::textOption("--scratch", scratchParent), bench::rowsOnlyOption(rowsOnly)});
    if (!parsed) {
        return bench::usage(USAGE);
    }
    what = what.empty() ? "the application idling " + std::to_string(idleMs) + " ms" : what;
    if (rowsOnly) {
        printRows(what, std::nan(""), std::nan(""), std::nan(""));
        return 0;
    }
    if (!bench::isExecutable(tree + "/corvane") || !bench::isExecutable(java) ||
        (!extraJava.empty() && !bench::isExecutable(extraJava))) {
        return bench::usage(USAGE);
    }
    if (!display.empty()) {
        extraEnv.push_back("DISPLAY=" + display);
    }

    const std::vector<std::string> options = bench::harvestOptions(tree + "/corvane", scratchParent);
    if (options.empty()) {
        return 1;
    }
    int nonHook = 0;
    const std::string scratch = bench::makeScratchDir(scratchParent, "memory");
    std::vector<Side> sides = {
        {"corvane", {tree + "/corvane"}, scratch + "/corvane", {}, {}, {}, 0},
        {"java", bench::javaCommand(java, options, nonHook), scratch + "/java", {}, {}, {}, 0},
    };
    if (!extraJava.empty()) {
        sides.push_back({"java (" + extraJava + ")", bench::javaCommand(extraJava, options, nonHook),
                         scratch + "/extra", {}, {}, {}, 0});
    }
    bench::makeLogDirs(sides);
    const int warmup = 1;
    bench::runRotating(sides, warmup, rounds, [&](Side& side, bool count) {
        runOnce(side, extraEnv, readyThread, readyWindow, idleMs, count);
    });
    bench::removeLogDirs(sides, scratch);

    const std::string readyText =
        readyWindow.empty() ? "thread '" + readyThread + "' exists" : "window '" + readyWindow + "' visible";
    std::printf("idle memory: %d rounds (+%d warm-up); ready = %s, then %d ms idle%s%s\n", rounds, warmup,
                readyText.c_str(), idleMs, display.empty() ? "" : ", DISPLAY=", display.c_str());
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": peak RSS (VmHWM)", side.peakMiB, "MiB");
        bench::printSeries(side.name + ": RSS at the end (VmRSS)", side.rssMiB, "MiB");
        bench::printSeries(side.name + ": start -> ready", side.readyMs, "ms");
        bench::printFailures(side);
    }
    const std::string more = "rounds=" + std::to_string(rounds);
    const double corvaneMiB = bench::median(sides[0].peakMiB);
    const double extraMiB = sides.size() > 2 ? bench::median(sides[2].peakMiB) : std::nan("");
    bench::printResult("idle_peak", corvaneMiB, bench::median(sides[1].peakMiB), "MiB", more);
    if (sides.size() > 2) {
        bench::printResult("idle_peak_extra", corvaneMiB, extraMiB, "MiB", more);
    }
    printRows(what, corvaneMiB, bench::median(sides[1].peakMiB), extraMiB);
    return bench::statusOf(sides);
}
