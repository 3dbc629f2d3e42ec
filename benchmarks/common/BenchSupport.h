// Helpers shared by the benchmark programs: the command line, clocks,
// starting and reaping processes, running sides in turn, medians, scratch
// directories, the option list of a tree and the rows of the results table.
//
// Every program prints its figures for people, one line per figure of the form
//   result key=<name> corvane=<value> reference=<value> ratio=<value> unit=<unit> [more k=v]
// where a missing value is written as "nan", and its rows of the results table
// (printRow below), which tools/run-benchmarks collects.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

inline long long monoNs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Wall-clock microseconds since the epoch: comparable with Java's Instant.now().
inline long long realUs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000LL + now.tv_nsec / 1000;
}

inline double median(std::vector<double> values) {
    if (values.empty()) {
        return std::nan("");
    }
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double minOf(const std::vector<double>& values) {
    return values.empty() ? std::nan("") : *std::min_element(values.begin(), values.end());
}

inline double maxOf(const std::vector<double>& values) {
    return values.empty() ? std::nan("") : *std::max_element(values.begin(), values.end());
}

inline void printSeries(const std::string& what, const std::vector<double>& values, const char* unit) {
    std::printf("  %-44s median %9.3f %s  min %9.3f  max %9.3f  (n=%zu)\n", what.c_str(), median(values), unit,
                minOf(values), maxOf(values), values.size());
}

// corvane / reference; NaN when the reference is missing or not above zero.
inline double ratioOf(double corvane, double reference) {
    return reference > 0 ? corvane / reference : std::nan("");
}

inline void printResult(const std::string& key, double corvane, double reference, const char* unit,
                        const std::string& more = std::string()) {
    std::printf("result key=%s corvane=%.4f reference=%.4f ratio=%.4f unit=%s%s%s\n", key.c_str(), corvane, reference,
                ratioOf(corvane, reference), unit, more.empty() ? "" : " ", more.c_str());
    std::fflush(stdout);
}

// ---- the results table ------------------------------------------------------
// Each program prints its rows of the table, one line per figure:
//   row | <figure> | <corvane> | <reference> | <ratio> | <aim> | <met?> |
// and tools/run-benchmarks puts them together in the order the programs run.
// With --rows-only a program measures nothing and prints its rows with n/a
// values, so that a figure that could not be measured keeps its row.

// The value with `decimals` decimals and the unit after a blank; "n/a" (still
// with the unit) when it is missing.
inline std::string cell(double value, int decimals, const char* unit = "") {
    char text[64] = "n/a";
    if (!std::isnan(value)) {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
    }
    return *unit == '\0' ? std::string(text) : std::string(text) + " " + unit;
}

inline std::string yesOrNo(bool met) {
    return met ? "yes" : "**no**";
}

// An aim for a figure: at most, below or at least a limit.
struct Aim {
    enum class Kind { AT_MOST, BELOW, AT_LEAST };
    Kind kind;
    double limit;
    int decimals;      // of the limit, as the table writes it
    const char* unit;

    std::string text() const {
        const char* sign = kind == Kind::AT_MOST ? "≤" : kind == Kind::BELOW ? "<" : "≥";
        return std::string(sign) + " " + cell(limit, decimals, unit);
    }

    // yes, **no**, or n/a when the value is missing.
    std::string met(double value) const {
        if (std::isnan(value)) {
            return "n/a";
        }
        return yesOrNo(kind == Kind::AT_MOST ? value <= limit : kind == Kind::BELOW ? value < limit : value >= limit);
    }
};

inline Aim atMost(double limit, int decimals, const char* unit = "") {
    return {Aim::Kind::AT_MOST, limit, decimals, unit};
}

inline Aim below(double limit, int decimals, const char* unit = "") {
    return {Aim::Kind::BELOW, limit, decimals, unit};
}

inline Aim atLeast(double limit, int decimals, const char* unit = "") {
    return {Aim::Kind::AT_LEAST, limit, decimals, unit};
}

// Two aims of one figure: n/a when either value is missing.
inline std::string bothMet(const std::string& first, const std::string& second) {
    if (first == "n/a" || second == "n/a") {
        return "n/a";
    }
    return yesOrNo(first == "yes" && second == "yes");
}

inline void printRow(const std::string& figure, const std::string& corvane, const std::string& reference,
                     const std::string& ratio, const std::string& aim, const std::string& met) {
    std::printf("row | %s | %s | %s | %s | %s | %s |\n", figure.c_str(), corvane.c_str(), reference.c_str(),
                ratio.c_str(), aim.c_str(), met.c_str());
    std::fflush(stdout);
}

// The usual row of a comparison: both medians, their ratio and whether the
// ratio meets its aim.
inline void printComparedRow(const std::string& figure, double corvane, double reference, const Aim& aim,
                             const char* unit = "ms", int decimals = 1, int ratioDecimals = 2) {
    const double ratio = ratioOf(corvane, reference);
    printRow(figure, cell(corvane, decimals, unit), cell(reference, decimals, unit), cell(ratio, ratioDecimals),
             aim.text(), aim.met(ratio));
}

// The environment every benchmarked process gets: nothing of the caller's
// beyond HOME, XDG_CACHE_HOME (where trained trees keep their application
// archives) and CORVANE_AGGRESSIVE_OPTIMIZATIONS (which a JDK older than 24
// needs set to 0), so that no other option variable or tool option slips in.
inline std::vector<std::string> baseEnvironment() {
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    for (const char* name : {"HOME", "XDG_CACHE_HOME", "CORVANE_AGGRESSIVE_OPTIMIZATIONS"}) {
        if (const char* value = std::getenv(name)) {
            env.push_back(std::string(name) + "=" + value);
        }
    }
    return env;
}

// Starts a process with posix_spawn. Standard input is /dev/null; standard
// output goes to stdoutFd and standard error to stderrFd, each /dev/null when -1;
// with newGroup, in a process group of its own (ended as a whole by killpg).
inline pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int stdoutFd = -1,
                   int stderrFd = -1, bool newGroup = false) {
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (const std::string& s : args) {
        argv.push_back(const_cast<char*>(s.c_str()));
    }
    for (const std::string& s : env) {
        envp.push_back(const_cast<char*>(s.c_str()));
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (stderrFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (newGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(failed));
        return -1;
    }
    return pid;
}

// Waits for the process; returns its exit status, 128 + signal, or -1.
inline int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

inline std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return text;
}

// One run of a process whose standard output goes to a pipe.
struct CapturedRun {
    bool piped = false;     // false: no pipe could be made, nothing was started
    int status = -1;        // as reap() gives it; -1 when the start failed
    std::string output;     // its standard output
    long long startUs = 0;  // realUs() right before posix_spawn
    long long endUs = 0;    // realUs() right after waitpid returned
};

// Starts the process with its standard output on a pipe and waits for it.
// With `readFirst` the output is read to its end before the reap; without,
// the caller sleeps in waitpid and reads afterwards (what the process writes
// must then fit in the pipe).
inline CapturedRun runCapturingOutput(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                      bool readFirst) {
    CapturedRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return run;
    }
    run.piped = true;
    run.startUs = realUs();
    const pid_t pid = spawn(args, env, out[1]);
    ::close(out[1]);
    if (pid > 0 && readFirst) {
        run.output = readAll(out[0]);
    }
    run.status = pid > 0 ? reap(pid) : -1;
    run.endUs = realUs();
    if (pid > 0 && !readFirst) {
        run.output = readAll(out[0]);
    }
    ::close(out[0]);
    return run;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The number after "<label>" in text, or -1.
inline long long numberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtoll(text.c_str() + at + label.size(), nullptr, 10);
}

inline std::string makeScratchDir(const std::string& parent, const std::string& stem) {
    std::string pattern = parent + "/" + stem + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a scratch directory under %s: %s\n", parent.c_str(), std::strerror(errno));
        std::exit(1);
    }
    return pattern;
}

inline std::string defaultScratchParent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Removes the files of a directory (one level) and the directory.
inline void removeDir(const std::string& dir) {
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const struct dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlink((dir + "/" + name).c_str());
            }
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

inline bool isExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

// The option list that the launcher of an install tree gives the VM, as its
// --print-jvm-options writes it (NUL after each option, hooks left out).
inline std::vector<std::string> harvestOptions(const std::string& launcher, const std::string& scratchParent) {
    const std::string logs = makeScratchDir(scratchParent, "harvest");
    std::vector<std::string> env = baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + logs);
    const std::string outPath = logs + "/options.out";
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = out >= 0 ? spawn({launcher, "--print-jvm-options"}, env, out) : -1;
    const int status = pid > 0 ? reap(pid) : -1;
    if (out >= 0) {
        ::close(out);
    }
    const std::string text = readFile(outPath);
    removeDir(logs);
    std::vector<std::string> options;
    if (status != 0 || text.empty() || text.back() != '\0') {
        std::fprintf(stderr, "the launcher %s ended with status %d and gave no option list\n", launcher.c_str(),
                     status);
        return options;
    }
    for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        options.push_back(text.substr(start, end - start));
    }
    return options;
}

// The stock "java" command line with the launcher's options: the hook entries
// are left out, and so is the per-user archive of a trained tree's classes,
// which is the launcher's own (java keeps its default archive, as a user's
// java would); "-Djava.class.path=X" becomes "-cp X"; the main class calls
// the entry method the way the launcher does. `nonHook` gets the number of
// non-hook options taken over (the class path counted once).
inline std::vector<std::string> javaCommand(const std::string& java, const std::vector<std::string>& options,
                                            int& nonHook) {
    std::vector<std::string> command = {java};
    nonHook = 0;
    for (const std::string& option : options) {
        if (option == "vfprintf" || option == "exit" || option == "abort" ||
            option.compare(0, 22, "-XX:SharedArchiveFile=") == 0) {
            continue;
        }
        ++nonHook;
        const std::string cp = "-Djava.class.path=";
        if (option.compare(0, cp.size(), cp) == 0) {
            command.push_back("-cp");
            command.push_back(option.substr(cp.size()));
        } else {
            command.push_back(option);
        }
    }
    command.push_back("com.vellumbry.corvane.bench.JavaMain");
    return command;
}

inline int intOption(const char* text, int fallback) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value > 0 && value < 1000000 ? static_cast<int>(value) : fallback;
}


// One "--name value" option, or a "--name" flag, and where its value goes:
// exactly one target is set.
struct Option {
    const char* name;
    std::string* text = nullptr;               // the value as it is
    int* count = nullptr;                      // intOption(); a bad value keeps what was there
    int* number = nullptr;                     // std::atoi(), so 0 and negative values pass
    std::vector<std::string>* list = nullptr;  // each use adds one value
    bool* flag = nullptr;                      // a flag without a value: set to true
};

inline Option textOption(const char* name, std::string& target) {
    Option option{name};
    option.text = &target;
    return option;
}

inline Option countOption(const char* name, int& target) {
    Option option{name};
    option.count = &target;
    return option;
}

inline Option numberOption(const char* name, int& target) {
    Option option{name};
    option.number = &target;
    return option;
}

inline Option listOption(const char* name, std::vector<std::string>& target) {
    Option option{name};
    option.list = &target;
    return option;
}

inline Option flagOption(const char* name, bool& target) {
    Option option{name};
    option.flag = &target;
    return option;
}

// The flag every program takes: print the table's rows without figures.
inline Option rowsOnlyOption(bool& target) {
    return flagOption("--rows-only", target);
}

inline void setOption(const Option& option, const char* value) {
    if (option.text != nullptr) {
        *option.text = value;
    } else if (option.count != nullptr) {
        *option.count = intOption(value, *option.count);
    } else if (option.number != nullptr) {
        *option.number = std::atoi(value);
    } else {
        option.list->emplace_back(value);
    }
}

// Reads "--name value" pairs and "--name" flags into the table's targets, the
// last use winning. False for a name not in the table or one without a value.
inline bool parseOptions(int argc, char** argv, const std::vector<Option>& table) {
    for (int i = 1; i < argc; ++i) {
        const auto known = std::find_if(table.begin(), table.end(),
                                        [&](const Option& option) { return std::strcmp(option.name, argv[i]) == 0; });
        if (known == table.end()) {
            return false;
        }
        if (known->flag != nullptr) {
            *known->flag = true;
        } else if (i + 1 < argc) {
            setOption(*known, argv[++i]);
        } else {
            return false;
        }
    }
    return true;
}

// Prints the usage line; the result is the exit status for a bad command line.
inline int usage(const char* synopsis) {
    std::fprintf(stderr, "usage: %s\n", synopsis);
    return 2;
}

// The command line and the sides that startup_bench and exit_bench share:
// corvane in an assembled tree ("tree"), the stock "java" with that tree's
// option list ("java") and corvane in a tree whose "jre" is the stock JDK ("stock").
struct TreeComparison {
    std::string tree;
    std::string stockTree;
    std::string java;
    std::string scratchParent = defaultScratchParent();
    int rounds;
    int warmup;
    bool rowsOnly = false;
    // Set by harvest(): the tree's option list and the "java" side's command.
    std::vector<std::string> options;
    std::vector<std::string> javaCommand;
    int nonHook = 0;

    TreeComparison(int defaultRounds, int defaultWarmup) : rounds(defaultRounds), warmup(defaultWarmup) {}

    std::vector<Option> optionTable() {
        return {textOption("--tree", tree),       textOption("--stock-tree", stockTree),
                textOption("--java", java),       countOption("--rounds", rounds),
                numberOption("--warmup", warmup), textOption("--scratch", scratchParent),
                rowsOnlyOption(rowsOnly)};
    }

    bool usable() const {
        return isExecutable(tree + "/corvane") && isExecutable(stockTree + "/corvane") && isExecutable(java);
    }

    // False when the tree's launcher logged no option list.
    bool harvest() {
        options = harvestOptions(tree + "/corvane", scratchParent);
        javaCommand = bench::javaCommand(java, options, nonHook);
        return !options.empty();
    }

    // The three sides in that order, each with a log folder in `scratch`.
    template <typename Side>
    std::vector<Side> sides(const std::string& scratch) const {
        return {side<Side>("tree", {tree + "/corvane"}, scratch), side<Side>("java", javaCommand, scratch),
                side<Side>("stock", {stockTree + "/corvane"}, scratch)};
    }

private:
    template <typename Side>
    static Side side(const std::string& name, const std::vector<std::string>& command, const std::string& scratch) {
        Side made;
        made.name = name;
        made.command = command;
        made.logs = scratch + "/" + name;
        return made;
    }
};

// Runs every side once a round, starting each round one side further on so
// that no side always goes first; the first `warmup` rounds do not count.
// `runOnce(side, counted)` does one run.
template <typename Side, typename RunOnce>
void runRotating(std::vector<Side>& sides, int warmup, int rounds, RunOnce runOnce) {
    for (int round = 0; round < warmup + rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            runOnce(sides[(k + static_cast<std::size_t>(round)) % sides.size()], round >= warmup);
        }
    }
}

// The sides' log directories (member `logs`), all inside `scratch`.
template <typename Side>
void makeLogDirs(const std::vector<Side>& sides) {
    for (const Side& side : sides) {
        ::mkdir(side.logs.c_str(), 0700);
    }
}

template <typename Side>
void removeLogDirs(const std::vector<Side>& sides, const std::string& scratch) {
    for (const Side& side : sides) {
        removeDir(side.logs);
    }
    ::rmdir(scratch.c_str());
}

template <typename Side>
void printFailures(const Side& side) {
    if (side.failures > 0) {
        std::printf("  %s: %d runs failed\n", side.name.c_str(), side.failures);
    }
}

// The exit status of a program: 1 when any run of any side failed.
template <typename Side>
int statusOf(const std::vector<Side>& sides) {
    int failures = 0;
    for (const Side& side : sides) {
        failures += side.failures;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace bench
