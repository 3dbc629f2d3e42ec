// Exec to main window mapped for a third-party Swing application shipped as a
// trained tree, against the stock "java" of the JDK the tree was made from
// with the same class path (the tree's jars, in the tree's order) and the
// tree's own JVM options (lib/jvm-options.txt), java with its default archive:
//   java   <jdk>/bin/java [tree options] -cp <tree jars> <main class>
//   warm   the trained tree, its per-user application archive made beforehand
//   first  a copy of the tree elsewhere, started with an empty cache home
//          (no archive for its place yet: it starts the dump in the background)
//   later  the same copy started again once that dump has ended
//   installed (with --installed) the trained tree as tools/package installed it,
//          started with an empty cache home: its first start per user, with the
//          archive made at packaging when the start is the one it was made for
// Each round runs java and warm (in turns which goes first), then first and
// later; the dump is waited for off the clock. The window is found by the X
// server's MapNotify and its name; the process group is killed after it.
// The table's rows name the version of the Debian package (--package, the
// name by default) that the tree was made from, as dpkg knows it.
//
//   app_bench --name TEXT --tree DIR --moved DIR --java PATH --main-class CLASS
//             --window NAME-PREFIX --display :N [--package NAME] [--installed DIR] [--app-arg ARG]...
//             [--rounds N] [--warmup N] [--scratch DIR] [--rows-only]
// --app-arg: an argument every side passes the application (e.g. jEdit's -nosettings:
// the VM takes user.home from the password file, not HOME, so an application that
// keeps its settings there would share them between the sides and rounds).

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/AppCache.h"
#include "../common/BenchSupport.h"
#include "../common/MapWatcher.h"
#include "../common/WindowRun.h"

namespace {

const char USAGE[] =
    "app_bench --name TEXT --tree DIR --moved DIR --java PATH --main-class CLASS --window NAME-PREFIX --display :N "
    "[--package NAME] [--installed DIR] [--app-arg ARG]... [--rounds N] [--warmup N] [--scratch DIR] [--rows-only]";
const int WINDOW_LIMIT_MS = 60000;

struct Side {
    std::string name;
    std::vector<std::string> command;
    std::string logs;         // the launcher's native log folder
    std::vector<double> ms;   // one per counted round, NaN for a failed run
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// java's command: the tree's options (${INSTALL_DIR} filled in), its jars as -cp.
std::vector<std::string> javaCommand(const std::string& java, const std::string& tree, const std::string& mainClass) {
    std::vector<std::string> command = {java};
    for (std::string line : linesOf(bench::readFile(tree + "/lib/jvm-options.txt"))) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        for (std::size_t at = line.find("${INSTALL_DIR}"); at != std::string::npos; at = line.find("${INSTALL_DIR}")) {
            line.replace(at, 14, tree);
        }
        command.push_back(line);
    }
    std::string classPath;
    for (const std::string& jar : linesOf(bench::readFile(tree + "/lib/manifest-bootstrap.txt"))) {
        if (!jar.empty() && jar != "corvane-bridge.jar") {  // the launcher's way to the main class
            classPath += (classPath.empty() ? "" : ":") + tree + "/lib/" + jar;
        }
    }
    command.insert(command.end(), {"-cp", classPath, mainClass});
    return command;
}

// How many starts logged that they used the application class archive.
int archiveUses(const Side& side) {
    const std::string log = bench::readFile(side.logs + "/corvane-native.log");
    int uses = 0;
    for (std::size_t at = log.find("Using the application class archive"); at != std::string::npos;
         at = log.find("Using the application class archive", at + 1)) {
        ++uses;
    }
    return uses;
}

// A tree side's figures in the table: its median, java's and the ratios paired by round.
struct Figure {
    double ms = std::nan("");
    double javaMs = std::nan("");
    double pairedMedian = std::nan("");
    double pairedMin = std::nan("");
    double pairedMax = std::nan("");
};

// The installed version of a Debian package; empty when it is not installed.
std::string packageVersion(const std::string& package) {
    return bench::toolOutput({"/usr/bin/dpkg-query", "-W", "-f=${Version}", package}, bench::baseEnvironment());
}

// The rows of the warm, first, later and installed sides, in that order.
void printRows(const std::string& name, const std::string& package, const std::vector<Figure>& figures) {
    const std::string version = packageVersion(package);
    const struct {
        const char* what;
        bench::Aim aim;
    } rows[] = {{"trained tree, application archive made", bench::atMost(0.70, 2)},
                {"the trained tree moved, its first start (empty cache)", bench::atMost(1.0, 1)},
                {"the moved tree's later starts (its archive made)", bench::atMost(0.70, 2)},
                {"the trained tree as an installed package (tools/package, dpkg), its first start (empty cache)",
                 bench::atMost(0.70, 2)}};
    for (std::size_t i = 0; i < 4; ++i) {
        const Figure& figure = figures[i];
        bench::printRow("Exec to main window mapped, " + name + " " + (version.empty() ? "(not installed)" : version) +
                            " from Debian (Xvfb), " + rows[i].what +
                            " / stock `java` of the same JDK, same jars; median of paired ratios (" +
                            bench::cell(figure.pairedMin, 2) + "–" + bench::cell(figure.pairedMax, 2) + ")",
                        bench::cell(figure.ms, 1, "ms"), bench::cell(figure.javaMs, 1, "ms"),
                        bench::cell(figure.pairedMedian, 2), rows[i].aim.text(), rows[i].aim.met(figure.pairedMedian));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string name, package, tree, moved, installed, java, mainClass, windowPrefix, display;
    std::vector<std::string> appArgs;
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 6;
    int warmup = 1;
    bool rowsOnly = false;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::textOption("--name", name), bench::textOption("--package", package), bench::textOption("--tree", tree),
         bench::textOption("--moved", moved), bench::textOption("--installed", installed),
         bench::listOption("--app-arg", appArgs),
         bench::textOption("--java", java),
         bench::textOption("--main-class", mainClass), bench::textOption("--window", windowPrefix),
         bench::textOption("--display", display), bench::countOption("--rounds", rounds),
         bench::numberOption("--warmup", warmup), bench::textOption("--scratch", scratchParent),
         bench::rowsOnlyOption(rowsOnly)});
    if (!parsed || name.empty()) {
        return bench::usage(USAGE);
    }
    package = package.empty() ? name : package;
    if (rowsOnly) {
        printRows(name, package, std::vector<Figure>(4));
        return 0;
    }
    if (mainClass.empty() || windowPrefix.empty() || display.empty() || !bench::isExecutable(java) ||
        !bench::isExecutable(tree + "/corvane") || !bench::isExecutable(moved + "/corvane") ||
        (!installed.empty() && !bench::isExecutable(installed + "/corvane"))) {
        return bench::usage(USAGE);
    }
    const std::string scratch = bench::makeScratchDir(scratchParent, "app-" + name);
    const std::string warmCache = scratch + "/cache-warm";
    std::vector<std::string> env = bench::baseEnvironment();
    bench::setEnv(env, "DISPLAY=" + display);
    bench::setEnv(env, "HOME=" + scratch + "/home");  // the application's settings start empty and stay here
    ::mkdir((scratch + "/home").c_str(), 0700);
    bench::MapWatcher maps;
    if (!maps.start(env)) {
        std::fprintf(stderr, "cannot start xev\n");
        return 1;
    }
    Side javaSide{"java", javaCommand(java, tree, mainClass), scratch + "/java", {}};
    Side warm{"warm", {tree + "/corvane"}, scratch + "/warm", {}};
    Side first{"first", {moved + "/corvane"}, scratch + "/first", {}};
    Side later{"later", {moved + "/corvane"}, scratch + "/later", {}};
    Side installedSide{"installed", {installed + "/corvane"}, scratch + "/installed", {}};
    std::vector<Side*> treeSides = {&warm, &first, &later};
    if (!installed.empty()) {
        treeSides.push_back(&installedSide);
    }
    for (Side* side : {&javaSide, &warm, &first, &later, &installedSide}) {
        ::mkdir(side->logs.c_str(), 0700);
        side->command.insert(side->command.end(), appArgs.begin(), appArgs.end());
    }
    auto run = [&](Side& side, const std::string& cacheHome, bool count) {
        std::vector<std::string> sideEnv = env;
        bench::setEnv(sideEnv, "CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + side.logs);
        bench::setEnv(sideEnv, "XDG_CACHE_HOME=" + cacheHome);
        const double ms = bench::msToWindow(side.command, sideEnv, maps, windowPrefix, WINDOW_LIMIT_MS);
        if (count) {
            side.ms.push_back(ms);
        }
    };
    // Prime: the first start makes the warm tree's archive.
    run(warm, warmCache, false);
    const bool primed = bench::waitForAppArchives(warmCache) && bench::appArchiveCount(warmCache) > 0;
    bench::removeDir(warm.logs);
    ::mkdir(warm.logs.c_str(), 0700);
    for (int round = 0; round < warmup + rounds; ++round) {
        const bool count = round >= warmup;
        Side& one = round % 2 == 0 ? javaSide : warm;
        Side& other = round % 2 == 0 ? warm : javaSide;
        run(one, warmCache, count);
        run(other, warmCache, count);
        const std::string fresh = scratch + "/cache-" + std::to_string(round);
        ::mkdir(fresh.c_str(), 0700);
        run(first, fresh, count);
        bench::waitForAppArchives(fresh);
        run(later, fresh, count);
        bench::removeTree(fresh);
        if (!installed.empty()) {
            const std::string empty = scratch + "/cache-installed-" + std::to_string(round);
            ::mkdir(empty.c_str(), 0700);
            run(installedSide, empty, count);
            bench::waitForAppArchives(empty);  // a start that did not take the shipped one makes its own
            bench::removeTree(empty);
        }
    }
    const int counted = warmup + rounds;
    std::printf("%s: exec -> main window ('%s...') mapped, %d rounds (+%d warm-up), display %s\n", name.c_str(),
                windowPrefix.c_str(), rounds, warmup, display.c_str());
    std::printf("  java command: %s -cp <the tree's jars> %s (and lib/jvm-options.txt's options, if any)\n",
                java.c_str(), mainClass.c_str());
    std::printf("  warm tree primed: %s; archive used by warm %d/%d, first %d/%d, later %d/%d, installed %d/%d starts\n",
                primed ? "yes" : "NO", archiveUses(warm), counted, archiveUses(first), counted,
                archiveUses(later), counted, archiveUses(installedSide), installed.empty() ? 0 : counted);
    std::vector<Side*> allSides = {&javaSide};
    allSides.insert(allSides.end(), treeSides.begin(), treeSides.end());
    for (const Side* side : allSides) {
        bench::printSeries(side->name + ": exec -> window mapped", bench::validOf(side->ms), "ms");
    }
    const double javaMs = bench::median(bench::validOf(javaSide.ms));
    int failures = 0;
    for (const Side* side : allSides) {
        failures += static_cast<int>(side->ms.size() - bench::validOf(side->ms).size());
    }
    std::vector<Figure> figures;
    for (const Side* side : treeSides) {
        const std::vector<double> ratios = bench::pairedRatios(side->ms, javaSide.ms);
        bench::printSeries(side->name + " / java, paired by round", ratios, "");
        const std::string more = "paired_median=" + std::to_string(bench::median(ratios)) +
                                 " paired_min=" + std::to_string(bench::minOf(ratios)) +
                                 " paired_max=" + std::to_string(bench::maxOf(ratios)) +
                                 " archive_uses=" + std::to_string(archiveUses(*side)) +
                                 " starts=" + std::to_string(counted) + " rounds=" + std::to_string(rounds);
        figures.push_back({bench::median(bench::validOf(side->ms)), javaMs, bench::median(ratios), bench::minOf(ratios),
                           bench::maxOf(ratios)});
        bench::printResult("app_" + name + "_" + side->name, figures.back().ms, javaMs, "ms", more);
    }
    figures.resize(4);
    printRows(name, package, figures);
    bench::removeTree(scratch);
    return failures == 0 && primed ? 0 : 1;
}
