// Exec to first painted window: the time from starting a process to the first
// completed paint of a desktop-like Swing window (menus, a tree, a 400-row
// table, a text area), for
//   java       the stock JDK's "java" with the launcher's non-hook options
//              (the untrained tree's list, the class path as -cp),
//   untrained  corvane in a tree assembled without training,
//   trained    corvane in a tree assembled with --train,
//   stale      the trained tree with a jar changed after training.
// The entry (CORVANE_BENCH_MODE=paint-halt) prints the wall-clock time in
// microseconds after the first paint and halts. Needs a display (--display).
// The sides run in turn, in a rotating order; each round also gives each tree
// side's ratio to the java run of the same round (the spread printed).
//
//   paint_bench --java PATH --untrained DIR --trained DIR --stale DIR --display :N
//               [--rounds N] [--warmup N] [--scratch DIR]

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
    std::vector<double> paintMs;  // one entry per counted round, NaN for a failed run
    int failures = 0;
};

const char USAGE[] =
    "paint_bench --java PATH --untrained DIR --trained DIR --stale DIR --display :N [--rounds N] [--warmup N] "
    "[--scratch DIR]";

std::string display;

void runOnce(Side& side, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.push_back("CORVANE_BENCH_MODE=paint-halt");
    env.push_back("DISPLAY=" + display);
    const bench::CapturedRun run = bench::runCapturingOutput(side.command, env, true);
    const long long paintUs = run.piped ? bench::numberAfter(run.output, "paint_us=") : -1;
    double ms = std::nan("");
    if (run.status == 0 && paintUs >= run.startUs) {
        ms = static_cast<double>(paintUs - run.startUs) / 1000.0;
    } else {
        std::fprintf(stderr, "%s: status %d, output '%s'\n", side.name.c_str(), run.status, run.output.c_str());
        ++side.failures;
    }
    if (count) {
        side.paintMs.push_back(ms);
    }
}

Side side(const std::string& name, const std::vector<std::string>& command, const std::string& scratch) {
    Side made;
    made.name = name;
    made.command = command;
    made.logs = scratch + "/" + name;
    return made;
}

std::vector<double> valid(const std::vector<double>& values) {
    std::vector<double> kept;
    for (double value : values) {
        if (!std::isnan(value)) {
            kept.push_back(value);
        }
    }
    return kept;
}

// The side's time over java's in each round where both runs worked.
std::vector<double> pairedRatios(const Side& side, const Side& java) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < side.paintMs.size() && i < java.paintMs.size(); ++i) {
        if (!std::isnan(side.paintMs[i]) && !std::isnan(java.paintMs[i]) && java.paintMs[i] > 0) {
            ratios.push_back(side.paintMs[i] / java.paintMs[i]);
        }
    }
    return ratios;
}

}  // namespace

int main(int argc, char** argv) {
    std::string java, untrained, trained, stale;
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 15;
    int warmup = 2;
    const std::vector<bench::Option> table = {
        bench::textOption("--java", java),           bench::textOption("--untrained", untrained),
        bench::textOption("--trained", trained),     bench::textOption("--stale", stale),
        bench::textOption("--display", display),     bench::countOption("--rounds", rounds),
        bench::numberOption("--warmup", warmup),     bench::textOption("--scratch", scratchParent)};
    if (!bench::parseOptions(argc, argv, table) || display.empty() || !bench::isExecutable(java) ||
        !bench::isExecutable(untrained + "/corvane") || !bench::isExecutable(trained + "/corvane") ||
        !bench::isExecutable(stale + "/corvane")) {
        return bench::usage(USAGE);
    }
    // The launcher's option list, as the untrained tree logs it.
    const std::vector<std::string> options = bench::harvestOptions(untrained + "/corvane", scratchParent);
    if (options.empty()) {
        return 1;
    }
    int nonHook = 0;
    const std::vector<std::string> javaCommand = bench::javaCommand(java, options, nonHook);

    const std::string scratch = bench::makeScratchDir(scratchParent, "paint");
    std::vector<Side> sides = {side("java", javaCommand, scratch), side("untrained", {untrained + "/corvane"}, scratch),
                               side("trained", {trained + "/corvane"}, scratch),
                               side("stale", {stale + "/corvane"}, scratch)};
    bench::makeLogDirs(sides);
    bench::runRotating(sides, warmup, rounds, runOnce);
    bench::removeLogDirs(sides, scratch);

    std::printf("exec to first painted window: %d rounds (+%d warm-up), sides in rotating order, display %s\n", rounds,
                warmup, display.c_str());
    std::printf("  java command: %s with %d non-hook options of the launcher's list, -cp, main class\n", java.c_str(),
                nonHook);
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": exec -> first paint", valid(side.paintMs), "ms");
        bench::printFailures(side);
    }
    const double javaMs = bench::median(valid(sides[0].paintMs));
    for (std::size_t i = 1; i < sides.size(); ++i) {
        const std::vector<double> ratios = pairedRatios(sides[i], sides[0]);
        bench::printSeries(sides[i].name + " / java, paired by round", ratios, "");
        const std::string more = "paired_median=" + std::to_string(bench::median(ratios)) +
                                 " paired_min=" + std::to_string(bench::minOf(ratios)) +
                                 " paired_max=" + std::to_string(bench::maxOf(ratios)) +
                                 " rounds=" + std::to_string(rounds);
        bench::printResult("paint_" + sides[i].name, bench::median(valid(sides[i].paintMs)), javaMs, "ms", more);
    }
    return bench::statusOf(sides);
}
