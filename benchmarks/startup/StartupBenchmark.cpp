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
//
//   startup_bench --tree DIR --stock-tree DIR --java PATH [--rounds N] [--warmup N] [--scratch DIR]

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

void runOnce(Side& side, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.push_back("CORVANE_BENCH_MODE=stamp-halt");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ++side.failures;
        return;
    }
    const long long startUs = bench::realUs();
    const pid_t pid = bench::spawn(side.command, env, out[1]);
    ::close(out[1]);
    const std::string text = pid > 0 ? bench::readAll(out[0]) : std::string();
    const int status = pid > 0 ? bench::reap(pid) : -1;
    const long long endUs = bench::realUs();
    ::close(out[0]);
    const long long entryUs = bench::numberAfter(text, "entry_us=");
    if (status != 0 || entryUs < startUs) {
        std::fprintf(stderr, "%s: status %d, output '%s'\n", side.name.c_str(), status, text.c_str());
        ++side.failures;
        return;
    }
    if (count) {
        side.toEntryMs.push_back(static_cast<double>(entryUs - startUs) / 1000.0);
        side.wholeMs.push_back(static_cast<double>(endUs - startUs) / 1000.0);
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: startup_bench --tree DIR --stock-tree DIR --java PATH [--rounds N] [--warmup N] "
                 "[--scratch DIR]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree;
    std::string stockTree;
    std::string java;
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 15;
    int warmup = 2;
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
    int nonHook = 0;
    const std::vector<std::string> javaCommand = bench::javaCommand(java, options, nonHook);
    if (options.empty()) {
        return 1;
    }

    const std::string scratch = bench::makeScratchDir(scratchParent, "startup");
    std::vector<Side> sides = {
        {"tree", {tree + "/corvane"}, scratch + "/tree", {}, {}, 0},
        {"java", javaCommand, scratch + "/java", {}, {}, 0},
        {"stock", {stockTree + "/corvane"}, scratch + "/stock", {}, {}, 0},
    };
    for (const Side& side : sides) {
        ::mkdir(side.logs.c_str(), 0700);
    }
    for (int round = 0; round < warmup + rounds; ++round) {
        for (std::size_t k = 0; k < sides.size(); ++k) {
            runOnce(sides[(k + static_cast<std::size_t>(round)) % sides.size()], round >= warmup);
        }
    }
    for (const Side& side : sides) {
        bench::removeDir(side.logs);
    }
    ::rmdir(scratch.c_str());

    std::printf("start to entry: %d rounds (+%d warm-up), sides in rotating order\n", rounds, warmup);
    std::printf("  java command: %s with %d non-hook options of the launcher's list (%zu entries), -cp, main class\n",
                java.c_str(), nonHook, options.size());
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": start -> entry", side.toEntryMs, "ms");
        bench::printSeries(side.name + ": start -> end (whole run)", side.wholeMs, "ms");
        if (side.failures > 0) {
            std::printf("  %s: %d runs failed\n", side.name.c_str(), side.failures);
        }
    }
    const double javaMs = bench::median(sides[1].toEntryMs);
    const std::string more = "options=" + std::to_string(nonHook) + " rounds=" + std::to_string(rounds);
    bench::printResult("start_tree", bench::median(sides[0].toEntryMs), javaMs, "ms", more);
    bench::printResult("start_stock", bench::median(sides[2].toEntryMs), javaMs, "ms", more);
    bench::printResult("start_tree_whole", bench::median(sides[0].wholeMs), bench::median(sides[1].wholeMs), "ms",
                       more);
    bench::printResult("start_stock_whole", bench::median(sides[2].wholeMs), bench::median(sides[1].wholeMs), "ms",
                       more);
    int failures = 0;
    for (const Side& side : sides) {
        failures += side.failures;
    }
    return failures == 0 ? 0 : 1;
}
