// Start to entry: the time from starting a process to the Java entry method
// running, for
//   tree   corvane in an assembled install tree (jlink'd runtime, class-data
//          sharing archive dumped with the launcher's options),
//   stock  corvane in a tree whose "jre" is a link to the stock JDK,
//   java   the stock JDK's "java" with the launcher's 44 non-hook options
//          (the class path given as -cp) and a main class that calls the
//          same entry method.
// The entry (CORVANE_BENCH_MODE=stamp-halt) prints the wall-clock time in
// microseconds and halts the VM at once. The figure is that time minus the
// wall-clock time taken just before posix_spawn. The whole run (spawn to reap)
// is printed as well. The three sides run in turn, in a rotating order, in
// every round; the first rounds warm the page cache and are not counted.
// --tree-kind names the tree in the table's rows: "assembled" (the default;
// its rows are the tree's and the stock tree's) or "trained" (the tree's row
// alone: the stock tree's figure is the same as in the assembled tree's run).
//
//   startup_bench --tree DIR --stock-tree DIR --java PATH [--tree-kind assembled|trained] [--rounds N]
//                 [--warmup N] [--scratch DIR] [--rows-only]

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/BenchSupport.h"

namespace {

struct Side {
    std::string name;
    std::vector<std::string> command;
    std::string logs;
    std::vector<double> toEntryMs;
    std::vector<double> wholeMs;
    int failures = 0;
};

const char USAGE[] =
    "startup_bench --tree DIR --stock-tree DIR --java PATH [--tree-kind assembled|trained] [--rounds N] [--warmup N] "
    "[--scratch DIR] [--rows-only]";

void runOnce(Side& side, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.push_back("CORVANE_BENCH_MODE=stamp-halt");
    const bench::CapturedRun run = bench::runCapturingOutput(side.command, env, true);
    if (!run.piped) {
        ++side.failures;
        return;
    }
    const long long entryUs = bench::numberAfter(run.output, "entry_us=");
    if (run.status != 0 || entryUs < run.startUs) {
        std::fprintf(stderr, "%s: status %d, output '%s'\n", side.name.c_str(), run.status, run.output.c_str());
        ++side.failures;
        return;
    }
    if (count) {
        side.toEntryMs.push_back(static_cast<double>(entryUs - run.startUs) / 1000.0);
        side.wholeMs.push_back(static_cast<double>(run.endUs - run.startUs) / 1000.0);
    }
}

// The stock tree's row comes last: the table has it further down.
void printRows(bool trained, double treeMs, double javaMs, double stockMs, int nonHook) {
    if (trained) {
        bench::printComparedRow("Start to entry: the same, tree trained with `--train`", treeMs, javaMs,
                                bench::atMost(0.75, 2));
        return;
    }
    const std::string options = nonHook > 0 ? "same " + std::to_string(nonHook) + " options" : "same options";
    bench::printComparedRow("Start to entry: corvane, assembled tree / stock `java`, " + options, treeMs, javaMs,
                            bench::atMost(0.75, 2));
    bench::printComparedRow("Start to entry: corvane, stock JDK as `jre` / stock `java`", stockMs, javaMs,
                            bench::atMost(1.0, 1));
}

}  // namespace

int main(int argc, char** argv) {
    bench::TreeComparison compared(15, 2);
    std::string kind = "assembled";
    std::vector<bench::Option> table = compared.optionTable();
    table.push_back(bench::textOption("--tree-kind", kind));
    if (!bench::parseOptions(argc, argv, table) || (kind != "assembled" && kind != "trained")) {
        return bench::usage(USAGE);
    }
    const bool trained = kind == "trained";
    if (compared.rowsOnly) {
        printRows(trained, std::nan(""), std::nan(""), std::nan(""), 0);
        return 0;
    }
    if (!compared.usable()) {
        return bench::usage(USAGE);
    }

    if (!compared.harvest()) {
        return 1;
    }
    const std::string scratch = bench::makeScratchDir(compared.scratchParent, "startup");
    std::vector<Side> sides = compared.sides<Side>(scratch);
    const int rounds = compared.rounds;
    const int warmup = compared.warmup;
    bench::makeLogDirs(sides);
    bench::runRotating(sides, warmup, rounds, runOnce);
    bench::removeLogDirs(sides, scratch);

    std::printf("start to entry: %d rounds (+%d warm-up), sides in rotating order\n", rounds, warmup);
    std::printf("  java command: %s with %d non-hook options of the launcher's list (%zu entries), -cp, main class\n",
                compared.java.c_str(), compared.nonHook, compared.options.size());
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": start -> entry", side.toEntryMs, "ms");
        bench::printSeries(side.name + ": start -> end (whole run)", side.wholeMs, "ms");
        bench::printFailures(side);
    }
    const double javaMs = bench::median(sides[1].toEntryMs);
    const std::string more = "options=" + std::to_string(compared.nonHook) + " rounds=" + std::to_string(rounds);
    bench::printResult("start_tree", bench::median(sides[0].toEntryMs), javaMs, "ms", more);
    bench::printResult("start_stock", bench::median(sides[2].toEntryMs), javaMs, "ms", more);
    bench::printResult("start_tree_whole", bench::median(sides[0].wholeMs), bench::median(sides[1].wholeMs), "ms",
                       more);
    bench::printResult("start_stock_whole", bench::median(sides[2].wholeMs), bench::median(sides[1].wholeMs), "ms",
                       more);
    printRows(trained, bench::median(sides[0].toEntryMs), javaMs, bench::median(sides[2].toEntryMs), compared.nonHook);
    return bench::statusOf(sides);
}
