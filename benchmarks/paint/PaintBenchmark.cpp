// Exec to first painted window: the time from starting a process to the first
// completed paint of a Swing window with an application's weight (a few
// hundred classes of its own, lambdas, images, fonts; menus, a tool bar, a
// tree, a 400-row table, tabs, a text area), for
//   java       the stock JDK's "java" with the launcher's non-hook options
//              (the untrained tree's list, the class path as -cp),
//   untrained  corvane in a tree assembled without training,
//   trained    corvane in a tree assembled with --train, its per-user
//              application archive made before the rounds (warm starts),
//   stale      the trained tree with a jar changed after training, each run
//              with an empty cache home: the first start after the change,
//              without an application archive (the dump it starts in the
//              background is waited for before the next run).
// The entry (CORVANE_BENCH_MODE=paint-halt) prints the wall-clock time in
// microseconds after the first paint and halts. Needs a display (--display).
// The sides run in turn, in a rotating order; each round also gives each tree
// side's ratio to the java run of the same round (the spread printed).
//
//   paint_bench --java PATH --untrained DIR --trained DIR --stale DIR --display :N
//               [--rounds N] [--warmup N] [--scratch DIR] [--rows-only]

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/AppCache.h"
#include "../common/BenchSupport.h"
#include "../common/WindowRun.h"

namespace {

struct Side {
    std::string name;
    std::vector<std::string> command;
    std::string logs;
    std::vector<double> paintMs;  // one entry per counted round, NaN for a failed run
    int failures = 0;
    std::string cacheHome;        // XDG_CACHE_HOME: primed, or a fresh one per run
    bool freshCache = false;
    int runs = 0;
};

const char USAGE[] =
    "paint_bench --java PATH --untrained DIR --trained DIR --stale DIR --display :N [--rounds N] [--warmup N] "
    "[--scratch DIR] [--rows-only]";

std::string display;

void runOnce(Side& side, bool count) {
    std::vector<std::string> env = bench::baseEnvironment();
    env.push_back("CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
    env.push_back("CORVANE_BENCH_MODE=paint-halt");
    env.push_back("DISPLAY=" + display);
    const std::string cacheHome = side.freshCache ? side.cacheHome + "-" + std::to_string(side.runs++) : side.cacheHome;
    ::mkdir(cacheHome.c_str(), 0700);
    bench::setEnv(env, "XDG_CACHE_HOME=" + cacheHome);
    const bench::CapturedRun run = bench::runCapturingOutput(side.command, env, true);
    if (side.freshCache) {  // the background dump must not overlap the next run
        bench::waitForAppArchives(cacheHome);
        bench::removeTree(cacheHome);
    }
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

Side side(const std::string& name, const std::vector<std::string>& command, const std::string& scratch,
          bool freshCache = false) {
    Side made;
    made.name = name;
    made.command = command;
    made.logs = scratch + "/" + name;
    made.cacheHome = scratch + "/cache" + (freshCache ? "-" + name : std::string());
    made.freshCache = freshCache;
    return made;
}

// A tree side's figures in the table: its median, java's and the spread of
// the ratios paired by round.
struct Figure {
    double ms = std::nan("");
    double javaMs = std::nan("");
    double pairedMin = std::nan("");
    double pairedMax = std::nan("");
};

// The row of one tree side; without an aim its figure is only reported.
void printRow(const std::string& what, const Figure& figure, const bench::Aim* aim) {
    const double ratio = bench::ratioOf(figure.ms, figure.javaMs);
    bench::printRow("Exec to first painted window (240 generated classes of its own, lambdas, images, fonts; menus, "
                    "tool bar, tree, 400-row table, text area; Xvfb), " + what +
                        " / stock `java`, same options; paired ratios " + bench::cell(figure.pairedMin, 2) + "–" +
                        bench::cell(figure.pairedMax, 2),
                    bench::cell(figure.ms, 1, "ms"), bench::cell(figure.javaMs, 1, "ms"), bench::cell(ratio, 2),
                    aim != nullptr ? aim->text() : "(reported)", aim != nullptr ? aim->met(ratio) : "(reported)");
}

void printRows(const Figure& untrained, const Figure& trained, const Figure& stale) {
    const bench::Aim trainedAim = bench::atMost(0.55, 2);
    const bench::Aim staleAim = bench::atMost(1.0, 1);
    printRow("tree trained with `--train`, application archive made", trained, &trainedAim);
    printRow("trained tree, a jar changed after training, its first start (no application archive yet)", stale,
             &staleAim);
    printRow("untrained tree", untrained, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string java, untrained, trained, stale;
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 15;
    int warmup = 2;
    bool rowsOnly = false;
    const std::vector<bench::Option> table = {
        bench::textOption("--java", java),           bench::textOption("--untrained", untrained),
        bench::textOption("--trained", trained),     bench::textOption("--stale", stale),
        bench::textOption("--display", display),     bench::countOption("--rounds", rounds),
        bench::numberOption("--warmup", warmup),     bench::textOption("--scratch", scratchParent),
        bench::rowsOnlyOption(rowsOnly)};
    if (!bench::parseOptions(argc, argv, table)) {
        return bench::usage(USAGE);
    }
    if (rowsOnly) {
        printRows(Figure(), Figure(), Figure());
        return 0;
    }
    if (display.empty() || !bench::isExecutable(java) || !bench::isExecutable(untrained + "/corvane") ||
        !bench::isExecutable(trained + "/corvane") || !bench::isExecutable(stale + "/corvane")) {
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
                               side("stale", {stale + "/corvane"}, scratch, true)};
    bench::makeLogDirs(sides);
    runOnce(sides[2], false);  // makes the trained tree's application archive
    const bool primed = bench::waitForAppArchives(sides[2].cacheHome) && bench::appArchiveCount(sides[2].cacheHome) > 0;
    bench::runRotating(sides, warmup, rounds, runOnce);
    bench::removeTree(scratch);

    std::printf("exec to first painted window: %d rounds (+%d warm-up), sides in rotating order, display %s\n", rounds,
                warmup, display.c_str());
    std::printf("  java command: %s with %d non-hook options of the launcher's list, -cp, main class\n", java.c_str(),
                nonHook);
    std::printf("  trained tree's application archive made before the rounds: %s\n", primed ? "yes" : "NO");
    for (const Side& side : sides) {
        bench::printSeries(side.name + ": exec -> first paint", bench::validOf(side.paintMs), "ms");
        bench::printFailures(side);
    }
    const double javaMs = bench::median(bench::validOf(sides[0].paintMs));
    std::vector<Figure> figures(sides.size());
    for (std::size_t i = 1; i < sides.size(); ++i) {
        const std::vector<double> ratios = bench::pairedRatios(sides[i].paintMs, sides[0].paintMs);
        bench::printSeries(sides[i].name + " / java, paired by round", ratios, "");
        const std::string more = "paired_median=" + std::to_string(bench::median(ratios)) +
                                 " paired_min=" + std::to_string(bench::minOf(ratios)) +
                                 " paired_max=" + std::to_string(bench::maxOf(ratios)) +
                                 " rounds=" + std::to_string(rounds);
        figures[i] = {bench::median(bench::validOf(sides[i].paintMs)), javaMs, bench::minOf(ratios),
                      bench::maxOf(ratios)};
        bench::printResult("paint_" + sides[i].name, figures[i].ms, javaMs, "ms", more);
    }
    printRows(figures[1], figures[2], figures[3]);
    return bench::statusOf(sides);
}
