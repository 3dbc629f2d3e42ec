// The launcher's own cost. Every process is started the same way
// (bench::runCapturingOutput: CLOCK_REALTIME read right before posix_spawn and
// right after waitpid), in a rotating order:
//   fake     corvane in a tree whose runtime is the fake libjvm.so
//            (FAKEJVM_ENTRY_RESULT=1: JNI_CreateJavaVM and the entry return at
//            once, and the launcher then exits with status 0). The fake stamps
//            the clock on entering and leaving both calls (FAKEJVM_TIMES), which
//            splits the run into the launcher's own parts:
//              to entry    process start to the entry call, minus the time
//                          inside JNI_CreateJavaVM
//              from entry  the entry's return to the process's end
//            Their sum is what the launcher spends outside the VM, log writes
//            and the kernel's process start and end included.
//   version  corvane --version.
//   true     /bin/true, the floor for starting and reaping a process.
//
//   overhead_bench --fake-tree DIR [--runs N] [--true PATH] [--scratch DIR] [--rows-only]

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/BenchSupport.h"

namespace {

const double AIM_MS = 2.0;

// The fake's stamps of one run, in microseconds; -1 where one is missing.
struct Stamps {
    long long createEnter = -1;
    long long createLeave = -1;
    long long entryEnter = -1;
    long long entryLeave = -1;
};

// Per-run parts of a fake run, in milliseconds.
struct Split {
    std::vector<double> toEntryMs;
    std::vector<double> fromEntryMs;
    std::vector<double> ownMs;
    std::vector<double> insideMs;  // inside JNI_CreateJavaVM and the entry: the fake's own cost
};

struct Side {
    std::string name;
    std::vector<std::string> command;
    std::vector<std::string> env;
    std::string timesPath;  // the fake's FAKEJVM_TIMES file; empty for the other sides
    std::vector<double> wholeMs;
    Split split;
    int failures = 0;
};

Stamps readStamps(const std::string& path) {
    const std::string text = bench::readFile(path);
    Stamps stamps;
    stamps.createEnter = bench::numberAfter(text, "create-enter ");
    stamps.createLeave = bench::numberAfter(text, "create-leave ");
    stamps.entryEnter = bench::numberAfter(text, "entry-enter ");
    stamps.entryLeave = bench::numberAfter(text, "entry-leave ");
    return stamps;
}

// All four stamps there and in order within the run; a clock step breaks this.
bool inOrder(const bench::CapturedRun& run, const Stamps& s) {
    return run.startUs <= s.createEnter && s.createEnter <= s.createLeave && s.createLeave <= s.entryEnter &&
           s.entryEnter <= s.entryLeave && s.entryLeave <= run.endUs;
}

void addSplit(Split& split, const bench::CapturedRun& run, const Stamps& s) {
    const long long inCreate = s.createLeave - s.createEnter;
    const long long toEntry = s.entryEnter - run.startUs - inCreate;
    const long long fromEntry = run.endUs - s.entryLeave;
    split.toEntryMs.push_back(static_cast<double>(toEntry) / 1e3);
    split.fromEntryMs.push_back(static_cast<double>(fromEntry) / 1e3);
    split.ownMs.push_back(static_cast<double>(toEntry + fromEntry) / 1e3);
    split.insideMs.push_back(static_cast<double>(inCreate + s.entryLeave - s.entryEnter) / 1e3);
}

void fail(Side& side, const std::string& why) {
    if (side.failures++ == 0) {
        std::fprintf(stderr, "%s: %s\n", side.name.c_str(), why.c_str());
    }
}

void runOnce(Side& side, bool count) {
    const bench::CapturedRun run = bench::runCapturingOutput(side.command, side.env, false);
    Stamps stamps;
    if (!side.timesPath.empty()) {
        stamps = readStamps(side.timesPath);
        ::unlink(side.timesPath.c_str());  // each run's stamps alone in the file
    }
    if (!run.piped || run.status != 0) {
        fail(side, "status " + std::to_string(run.status));
        return;
    }
    if (!side.timesPath.empty() && !inOrder(run, stamps)) {
        fail(side, "the fake's time stamps are missing or out of order");
        return;
    }
    if (!count) {
        return;
    }
    side.wholeMs.push_back(static_cast<double>(run.endUs - run.startUs) / 1e3);
    if (!side.timesPath.empty()) {
        addSplit(side.split, run, stamps);
    }
}

void printSplit(const Split& split) {
    std::printf("corvane with the fake runtime, split by the fake's stamps (per run):\n");
    bench::printSeries("start -> entry call, minus JNI_CreateJavaVM", split.toEntryMs, "ms");
    bench::printSeries("entry return -> process end", split.fromEntryMs, "ms");
    bench::printSeries("launcher's own overhead (the sum)", split.ownMs, "ms");
    bench::printSeries("inside JNI_CreateJavaVM and the entry (fake)", split.insideMs, "ms");
    const double own = bench::median(split.ownMs);
    std::printf("  own overhead %.3f ms against the aim of under %.1f ms: %s\n", own, AIM_MS,
                own < AIM_MS ? "met" : "missed");
}

const char USAGE[] = "overhead_bench --fake-tree DIR [--runs N] [--true PATH] [--scratch DIR] [--rows-only]";

// The medians the table's rows show.
struct Figures {
    double ownMs = std::nan("");
    double toEntryMs = std::nan("");
    double fromEntryMs = std::nan("");
    double fakeMs = std::nan("");
    double versionMs = std::nan("");
    double trueMs = std::nan("");
};

void printRows(const Figures& f, const std::string& truePath) {
    const bench::Aim own = bench::below(AIM_MS, 0, "ms");
    bench::printRow("Launcher's own overhead, fake runtime: start to entry call " + bench::cell(f.toEntryMs, 2, "ms") +
                        " (less `JNI_CreateJavaVM`) + entry return to end " + bench::cell(f.fromEntryMs, 2, "ms") +
                        " (whole run " + bench::cell(f.fakeMs, 2, "ms") + ", `" + truePath + "` " +
                        bench::cell(f.trueMs, 2, "ms") + ")",
                    bench::cell(f.ownMs, 2, "ms"), "–", "–", own.text(), own.met(f.ownMs));
    bench::printComparedRow("`corvane --version` / `" + truePath + "`, whole process", f.versionMs, f.trueMs,
                            bench::atMost(1.2, 1), "ms", 2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string fakeTree;
    std::string truePath = bench::isExecutable("/bin/true") ? "/bin/true" : "/usr/bin/true";
    std::string scratchParent = bench::defaultScratchParent();
    int runs = 300;
    bool rowsOnly = false;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::textOption("--fake-tree", fakeTree), bench::countOption("--runs", runs),
         bench::textOption("--true", truePath), bench::textOption("--scratch", scratchParent),
         bench::rowsOnlyOption(rowsOnly)});
    if (!parsed) {
        return bench::usage(USAGE);
    }
    if (rowsOnly) {
        printRows(Figures(), truePath);
        return 0;
    }
    if (!bench::isExecutable(fakeTree + "/corvane") || !bench::isExecutable(truePath)) {
        return bench::usage(USAGE);
    }

    const std::string logs = bench::makeScratchDir(scratchParent, "overhead");
    const std::string times = logs + "/fakejvm-times";
    std::vector<std::string> fakeEnv = bench::baseEnvironment();
    fakeEnv.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + logs);
    fakeEnv.push_back("FAKEJVM_ENTRY_RESULT=1");
    fakeEnv.push_back("FAKEJVM_TIMES=" + times);
    const std::vector<std::string> plainEnv = bench::baseEnvironment();
    std::vector<Side> sides = {
        {"fake", {fakeTree + "/corvane"}, fakeEnv, times, {}, {}, 0},
        {"version", {fakeTree + "/corvane", "--version"}, plainEnv, "", {}, {}, 0},
        {"true", {truePath}, plainEnv, "", {}, {}, 0},
    };
    const int warmup = 20;
    bench::runRotating(sides, warmup, runs, runOnce);
    const std::string log = bench::readFile(logs + "/corvane-native.log");
    bench::removeDir(logs);
    const auto linesPerRun = static_cast<double>(std::count(log.begin(), log.end(), '\n')) / (warmup + runs);

    std::printf("%d runs of each (+%d warm-up), rotating order\n", runs, warmup);
    printSplit(sides[0].split);
    std::printf("whole-process times, for context:\n");
    bench::printSeries("corvane with the fake runtime", sides[0].wholeMs, "ms");
    bench::printSeries("corvane --version", sides[1].wholeMs, "ms");
    bench::printSeries(truePath, sides[2].wholeMs, "ms");
    std::printf("  native log per fake run: %.1f lines, %zu bytes\n", linesPerRun,
                log.size() / static_cast<std::size_t>(warmup + runs));
    const double fakeMs = bench::median(sides[0].wholeMs);
    const double trueMs = bench::median(sides[2].wholeMs);
    std::printf("  fake run minus /bin/true (medians): %.3f ms\n", fakeMs - trueMs);
    for (const Side& side : sides) {
        bench::printFailures(side);
    }

    const Split& split = sides[0].split;
    const Figures figures = {bench::median(split.ownMs),   bench::median(split.toEntryMs),
                             bench::median(split.fromEntryMs), fakeMs,
                             bench::median(sides[1].wholeMs), trueMs};
    char more[160];
    std::snprintf(more, sizeof more, "to_entry=%.4f from_entry=%.4f aim=%.1f runs=%d", figures.toEntryMs,
                  figures.fromEntryMs, AIM_MS, runs);
    bench::printResult("overhead_own", figures.ownMs, std::nan(""), "ms", more);
    std::snprintf(more, sizeof more, "net=%.4f runs=%d", fakeMs - trueMs, runs);
    bench::printResult("overhead_fake", fakeMs, trueMs, "ms", more);
    bench::printResult("version", figures.versionMs, trueMs, "ms", "runs=" + std::to_string(runs));
    printRows(figures, truePath);
    return bench::statusOf(sides);
}
