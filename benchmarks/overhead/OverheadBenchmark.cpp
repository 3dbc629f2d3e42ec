// The launcher's own cost, with whole-process times (posix_spawn to waitpid,
// CLOCK_MONOTONIC), every process started the same way:
//   fake     corvane in a tree whose runtime is the fake libjvm.so
//            (FAKEJVM_ENTRY_RESULT=1: JNI_CreateJavaVM and the entry return at
//            once, and the launcher then exits with status 0). The whole run
//            is everything the launcher does outside JNI_CreateJavaVM and the
//            entry method, log writes included, plus what the kernel needs to
//            start and end any process: an upper bound of its own overhead.
//   version  corvane --version.
//   true     /bin/true, the floor for starting and reaping a process.
// The three run in turn, in a rotating order.
//
//   overhead_bench --fake-tree DIR [--runs N] [--true PATH] [--scratch DIR]

#include <cstdio>
#include <string>
#include <vector>

#include "../common/BenchSupport.h"

namespace {

struct Side {
    std::string name;
    std::vector<std::string> command;
    std::vector<std::string> env;
    std::vector<double> wholeMs;
    int failures = 0;
};

void runOnce(Side& side, bool count) {
    const long long start = bench::monoNs();
    const pid_t pid = bench::spawn(side.command, side.env);
    const int status = pid > 0 ? bench::reap(pid) : -1;
    const long long end = bench::monoNs();
    if (status != 0) {
        if (side.failures++ == 0) {
            std::fprintf(stderr, "%s: status %d\n", side.name.c_str(), status);
        }
        return;
    }
    if (count) {
        side.wholeMs.push_back(static_cast<double>(end - start) / 1e6);
    }
}

const char USAGE[] = "overhead_bench --fake-tree DIR [--runs N] [--true PATH] [--scratch DIR]";

}  // namespace

int main(int argc, char** argv) {
    std::string fakeTree;
    std::string truePath = bench::isExecutable("/bin/true") ? "/bin/true" : "/usr/bin/true";
    std::string scratchParent = bench::defaultScratchParent();
    int runs = 300;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::textOption("--fake-tree", fakeTree), bench::countOption("--runs", runs),
         bench::textOption("--true", truePath), bench::textOption("--scratch", scratchParent)});
    if (!parsed || !bench::isExecutable(fakeTree + "/corvane") || !bench::isExecutable(truePath)) {
        return bench::usage(USAGE);
    }

    const std::string logs = bench::makeScratchDir(scratchParent, "overhead");
    std::vector<std::string> fakeEnv = bench::baseEnvironment();
    fakeEnv.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + logs);
    fakeEnv.push_back("FAKEJVM_ENTRY_RESULT=1");
    const std::vector<std::string> plainEnv = bench::baseEnvironment();
    std::vector<Side> sides = {
        {"fake", {fakeTree + "/corvane"}, fakeEnv, {}, 0},
        {"version", {fakeTree + "/corvane", "--version"}, plainEnv, {}, 0},
        {"true", {truePath}, plainEnv, {}, 0},
    };
    const int warmup = 20;
    bench::runRotating(sides, warmup, runs, runOnce);
    const std::string log = bench::readFile(logs + "/corvane-native.log");
    bench::removeDir(logs);
    const auto linesPerRun = static_cast<double>(std::count(log.begin(), log.end(), '\n')) / (warmup + runs);

    std::printf("whole-process times: %d runs of each (+%d warm-up), rotating order\n", runs, warmup);
    bench::printSeries("corvane with the fake runtime", sides[0].wholeMs, "ms");
    bench::printSeries("corvane --version", sides[1].wholeMs, "ms");
    bench::printSeries(truePath, sides[2].wholeMs, "ms");
    std::printf("  native log per fake run: %.1f lines, %zu bytes\n", linesPerRun,
                log.size() / static_cast<std::size_t>(warmup + runs));
    const double fakeMs = bench::median(sides[0].wholeMs);
    const double trueMs = bench::median(sides[2].wholeMs);
    std::printf("  fake run minus /bin/true (medians): %.3f ms\n", fakeMs - trueMs);
    char more[128];
    std::snprintf(more, sizeof more, "net=%.4f runs=%d", fakeMs - trueMs, runs);
    bench::printResult("overhead_fake", fakeMs, trueMs, "ms", more);
    bench::printResult("version", bench::median(sides[1].wholeMs), trueMs, "ms", "runs=" + std::to_string(runs));
    return sides[0].failures + sides[1].failures + sides[2].failures == 0 ? 0 : 1;
}
