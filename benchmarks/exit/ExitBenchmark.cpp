// Exit latency: the time from the application's System.exit to the end of
// the process, under corvane (assembled tree, and a tree with the stock JDK as
// its "jre") and under the stock "java" with the launcher's options.
// The entry (CORVANE_BENCH_MODE=stamp-exit:N) returns 0; a thread of its own
// waits N ms, prints the wall-clock time in microseconds and calls
// System.exit(0). The figure is the wall-clock time right after waitpid
// returned minus that stamp. The sides run in turn, in a rotating order.
//
//   exit_bench --tree DIR --stock-tree DIR --java PATH [--rounds N] [--warmup N] [--delay-ms N] [--scratch DIR]

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

void runOnce(Side& side, int delayMs, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.push_back("CORVANE_BENCH_MODE=stamp-exit:" + std::to_string(delayMs));
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ++side.failures;
        return;
    }
    const pid_t pid = bench::spawn(side.command, env, out[1]);
    ::close(out[1]);
    // The parent sleeps in waitpid; the stamp stays in the pipe until then.
    const int status = pid > 0 ? bench::reap(pid) : -1;
    const long long endUs = bench::realUs();
    const std::string text = bench::readAll(out[0]);
    ::close(out[0]);
    const long long exitUs = bench::numberAfter(text, "exit_us=");
    if (status != 0 || exitUs <= 0 || endUs < exitUs) {
        std::fprintf(stderr, "%s: status %d, output '%s'\n", side.name.c_str(), status, text.c_str());
        ++side.failures;
        return;
    }
    if (count) {
        side.exitMs.push_back(static_cast<double>(endUs - exitUs) / 1000.0);
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: exit_bench --tree DIR --stock-tree DIR --java PATH [--rounds N] [--warmup N] "
                 "[--delay-ms N] [--scratch DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree;
    std::string stockTree;
    std::string java;
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 12;
    int warmup = 1;
    int delayMs = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--tree") {
            tree = argv[i + 1];
        } else if (option == "--stock-tree") {
            stockTree = argv[i + 1];
        } else if (option == "--java") {
            java = argv[i + 1];
        } else if (option == "--rounds") {
            rounds = bench::intOption(argv[i + 1], rounds);
        } else if (option == "--warmup") {
            warmup = std::atoi(argv[i + 1]);
        } else if (option == "--delay-ms") {
            delayMs = bench::intOption(argv[i + 1], delayMs);
        } else if (option == "--scratch") {
            scratchParent = argv[i + 1];
        } else {
            return usage();
        }
    }
    if (argc % 2 == 0 || !bench::isExecutable(tree + "/corvane") || !bench::isExecutable(stockTree + "/corvane") ||
        !bench::isExecutable(java)) {
        return usage();
    }

    const std::vector<std::string> options = bench::harvestOptions(tree + "/corvane", scratchParent);
    if (options.empty()) {
        return 1;
    }
    int nonHook = 0;
    const std::vector<std::string> javaCommand = bench::javaCommand(java, options, nonHook);

    const std::string scratch = bench::makeScratchDir(scratchParent, "exit");
    std::vector<Side> sides = {
        {"tree", {tree + "/corvane"}, scratch + "/tree", {}, 0},
        {"java", javaCommand, scratch + "/java", {}, 0},
        {"stock", {stockTree + "/corvane"}, scratch + "/stock", {}, 0},
    };
    for (const Side& side : sides) {
        ::mkdir(side.logs.c_str(), 0700);
    }
    for (int round = 0; round < warmup + rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            runOnce(sides[(k + static_cast<std::size_t>(round)) % sides.size()], delayMs, round >= warmup);
        }
    }
    for (const Side& side : sides) {
        bench::removeDir(side.logs);
    }
    ::rmdir(scratch.c_str());

    std::printf("exit latency (System.exit -> process reaped): %d rounds (+%d warm-up), exit %d ms after the entry\n",
                rounds, warmup, delayMs);
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": System.exit -> end", side.exitMs, "ms");
        if (side.failures > 0) {
            std::printf("  %s: %d runs failed\n", side.name.c_str(), side.failures);
        }
    }
    const double javaMs = bench::median(sides[1].exitMs);
    const std::string more = "rounds=" + std::to_string(rounds);
    bench::printResult("exit_tree", bench::median(sides[0].exitMs), javaMs, "ms", more);
    bench::printResult("exit_stock", bench::median(sides[2].exitMs), javaMs, "ms", more);
    int failures = 0;
    for (const Side& side : sides) {
        failures += side.failures;
    }
    return failures == 0 ? 0 : 1;
}
