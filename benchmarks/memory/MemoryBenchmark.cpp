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
//                [--ready-thread NAME | --ready-window TITLE] [--idle-ms N] [--rounds N] [--mode-env NAME=VALUE] [--scratch DIR]
// --java is the reference of the ratio; --extra-java is measured and printed too.

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

int usage() {
    std::fprintf(stderr,
                 "usage: memory_bench --tree DIR --java PATH [--extra-java PATH] [--display :N] "
                 "[--ready-thread NAME | --ready-window TITLE] [--idle-ms N] [--rounds N] [--mode-env NAME=VALUE] [--scratch DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree;
    std::string java;
    std::string extraJava;
    std::string display;
    std::string readyThread = "AWT-EventQueue-0";
    std::string readyWindow;
    std::string scratchParent = bench::defaultScratchParent();
    std::vector<std::string> extraEnv;
    int idleMs = 2000;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--tree") {
            tree = argv[i + 1];
        } else if (option == "--java") {
            java = argv[i + 1];
        } else if (option == "--extra-java") {
            extraJava = argv[i + 1];
        } else if (option == "--display") {
            display = argv[i + 1];
        } else if (option == "--ready-thread") {
            readyThread = argv[i + 1];
        } else if (option == "--ready-window") {
            readyWindow = argv[i + 1];
        } else if (option == "--idle-ms") {
            idleMs = bench::intOption(argv[i + 1], idleMs);
        } else if (option == "--rounds") {
            rounds = bench::intOption(argv[i + 1], rounds);
        } else if (option == "--mode-env") {
            extraEnv.emplace_back(argv[i + 1]);
        } else if (option == "--scratch") {
            scratchParent = argv[i + 1];
        } else {
            return usage();
        }
    }
    if (argc % 2 == 0 || !bench::isExecutable(tree + "/corvane") || !bench::isExecutable(java) ||
        (!extraJava.empty() && !bench::isExecutable(extraJava))) {
        return usage();
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
    for (const Side& side : sides) {
        ::mkdir(side.logs.c_str(), 0700);
    }
    const int warmup = 1;
    for (int round = 0; round < warmup + rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            runOnce(sides[(k + static_cast<std::size_t>(round)) % sides.size()], extraEnv, readyThread, readyWindow,
                    idleMs, round >= warmup);
        }
    }
    for (const Side& side : sides) {
        bench::removeDir(side.logs);
    }
    ::rmdir(scratch.c_str());

    const std::string readyText =
        readyWindow.empty() ? "thread '" + readyThread + "' exists" : "window '" + readyWindow + "' visible";
    std::printf("idle memory: %d rounds (+%d warm-up); ready = %s, then %d ms idle%s%s\n", rounds, warmup,
                readyText.c_str(), idleMs, display.empty() ? "" : ", DISPLAY=", display.c_str());
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": peak RSS (VmHWM)", side.peakMiB, "MiB");
        bench::printSeries(side.name + ": RSS at the end (VmRSS)", side.rssMiB, "MiB");
        bench::printSeries(side.name + ": start -> ready", side.readyMs, "ms");
        if (side.failures > 0) {
            std::printf("  %s: %d runs failed\n", side.name.c_str(), side.failures);
        }
    }
    const std::string more = "rounds=" + std::to_string(rounds);
    bench::printResult("idle_peak", bench::median(sides[0].peakMiB), bench::median(sides[1].peakMiB), "MiB", more);
    if (sides.size() > 2) {
        bench::printResult("idle_peak_extra", bench::median(sides[0].peakMiB), bench::median(sides[2].peakMiB), "MiB",
                           more);
    }
    int failures = 0;
    for (const Side& side : sides) {
        failures += side.failures;
    }
    return failures == 0 ? 0 : 1;
}
