// Exit latency: the time from the application's System.exit to the end of
// the process, under corvane (assembled tree, and a tree with the stock JDK as
// its "jre") and under the stock "java" with the launcher's options.
// The entry (CORVANE_BENCH_MODE=stamp-exit:N) returns 0; a thread of its own
// waits N ms, prints the wall-clock time in microseconds and calls
// System.exit(0). The figure is the wall-clock time right after waitpid
// returned minus that stamp. The sides run in turn, in a rotating order.
//
//   exit_bench --tree DIR --stock-tree DIR --java PATH [--rounds N] [--warmup N] [--delay-ms N] [--scratch DIR]
//              [--rows-only]

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
    std::vector<double> exitMs;
    int failures = 0;
};

const char USAGE[] =
    "exit_bench --tree DIR --stock-tree DIR --java PATH [--rounds N] [--warmup N] [--delay-ms N] [--scratch DIR] "
    "[--rows-only]";

void runOnce(Side& side, int delayMs, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.push_back("CORVANE_BENCH_MODE=stamp-exit:" + std::to_string(delayMs));
    // The parent sleeps in waitpid; the stamp stays in the pipe until then.
    const bench::CapturedRun run = bench::runCapturingOutput(side.command, env, false);
    if (!run.piped) {
        ++side.failures;
        return;
    }
    const long long exitUs = bench::numberAfter(run.output, "exit_us=");
    if (run.status != 0 || exitUs <= 0 || run.endUs < exitUs) {
        std::fprintf(stderr, "%s: status %d, output '%s'\n", side.name.c_str(), run.status, run.output.c_str());
        ++side.failures;
        return;
    }
    if (count) {
        side.exitMs.push_back(static_cast<double>(run.endUs - exitUs) / 1000.0);
    }
}

void printRows(double treeMs, double javaMs, double stockMs) {
    bench::printComparedRow("Exit: `System.exit` to process end, assembled tree / stock `java`", treeMs, javaMs,
                            bench::atMost(1.0, 1));
    bench::printComparedRow("Exit: the same, stock JDK as `jre` / stock `java`", stockMs, javaMs,
                            bench::atMost(1.0, 1));
}

}  // namespace

int main(int argc, char** argv) {
    bench::TreeComparison compared(12, 1);
    int delayMs = 200;
    std::vector<bench::Option> table = compared.optionTable();
    table.push_back(bench::countOption("--delay-ms", delayMs));
    if (!bench::parseOptions(argc, argv, table)) {
        return bench::usage(USAGE);
    }
    if (compared.rowsOnly) {
        printRows(std::nan(""), std::nan(""), std::nan(""));
        return 0;
    }
    if (!compared.usable()) {
        return bench::usage(USAGE);
    }

    if (!compared.harvest()) {
        return 1;
    }
    const std::string scratch = bench::makeScratchDir(compared.scratchParent, "exit");
    std::vector<Side> sides = compared.sides<Side>(scratch);
    const int rounds = compared.rounds;
    const int warmup = compared.warmup;
    bench::makeLogDirs(sides);
    bench::runRotating(sides, warmup, rounds, [delayMs](Side& side, bool count) { runOnce(side, delayMs, count); });
    bench::removeLogDirs(sides, scratch);

    std::printf("exit latency (System.exit -> process reaped): %d rounds (+%d warm-up), exit %d ms after the entry\n",
                rounds, warmup, delayMs);
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": System.exit -> end", side.exitMs, "ms");
        bench::printFailures(side);
    }
    const double javaMs = bench::median(sides[1].exitMs);
    const std::string more = "rounds=" + std::to_string(rounds);
    bench::printResult("exit_tree", bench::median(sides[0].exitMs), javaMs, "ms", more);
    bench::printResult("exit_stock", bench::median(sides[2].exitMs), javaMs, "ms", more);
    printRows(bench::median(sides[0].exitMs), javaMs, bench::median(sides[2].exitMs));
    return bench::statusOf(sides);
}
