// Exec to splash window mapped: a tree whose record names a splash image
// (splash=<path>), the launcher showing it before the VM starts, against the
// stock "java -splash:<the same image>" with the tree's jars as class path.
// The application (CORVANE_BENCH_MODE=idle) opens no window of its own, so the
// first window the X server maps after the exec, override-redirect windows
// included, is the splash. Each process group is killed once it is mapped.
// Without splash= in the record, or when the launcher shows nothing, the
// tree's figure is n/a (nan) and java runs alone with --image.
//
//   splash_bench --tree DIR --java PATH --display :N [--image PNG] [--main-class CLASS]
//                [--rounds N] [--warmup N] [--scratch DIR] [--rows-only]

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/AppCache.h"
#include "../common/BenchSupport.h"
#include "../common/MapWatcher.h"
#include "../common/WindowRun.h"
#include "jvm/TreeRecord.h"

namespace {

const char USAGE[] =
    "splash_bench --tree DIR --java PATH --display :N [--image PNG] [--main-class CLASS] [--rounds N] [--warmup N] "
    "[--scratch DIR] [--rows-only]";
const int SPLASH_LIMIT_MS = 5000;

std::string classPathOf(const std::string& tree) {
    std::istringstream names(bench::readFile(tree + "/lib/manifest-bootstrap.txt"));
    std::string classPath;
    for (std::string jar; std::getline(names, jar);) {
        if (!jar.empty() && jar != "corvane-bridge.jar") {
            classPath += (classPath.empty() ? "" : ":") + tree + "/lib/" + jar;
        }
    }
    return classPath;
}

// The table's row; `treeNote` says why the tree's side is n/a, if it is.
void printRow(double treeMs, double javaMs, double pairedMin, double pairedMax, const std::string& treeNote) {
    const double ratio = bench::ratioOf(treeMs, javaMs);
    const bench::Aim time = bench::atMost(60, 0, "ms");
    const bench::Aim ratioAim = bench::atMost(1.0, 1);
    const std::string spread = std::isnan(treeMs)
                                   ? "the tree's side n/a: " + treeNote
                                   : "paired ratios " + bench::cell(pairedMin, 2) + "–" + bench::cell(pairedMax, 2);
    bench::printRow("Exec to splash window mapped: tree with `splash=` in its record / `java -splash:` with the same "
                    "image (Xvfb); " + spread,
                    bench::cell(treeMs, 1, "ms"), bench::cell(javaMs, 1, "ms"), bench::cell(ratio, 2),
                    time.text() + ", " + ratioAim.text(), bench::bothMet(time.met(treeMs), ratioAim.met(ratio)));
}

}  // namespace

int main(int argc, char** argv) {
    std::string tree, java, display, fallbackImage;
    std::string mainClass = "com.vellumbry.corvane.bench.JavaMain";
    std::string scratchParent = bench::defaultScratchParent();
    int rounds = 15;
    int warmup = 2;
    bool rowsOnly = false;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::textOption("--tree", tree), bench::textOption("--java", java), bench::textOption("--display", display),
         bench::textOption("--image", fallbackImage), bench::textOption("--main-class", mainClass),
         bench::countOption("--rounds", rounds), bench::numberOption("--warmup", warmup),
         bench::textOption("--scratch", scratchParent), bench::rowsOnlyOption(rowsOnly)});
    if (!parsed) {
        return bench::usage(USAGE);
    }
    const double none = std::nan("");
    if (rowsOnly) {
        printRow(none, none, none, none, "");
        return 0;
    }
    if (display.empty() || !bench::isExecutable(java) || !bench::isExecutable(tree + "/corvane")) {
        return bench::usage(USAGE);
    }
    std::string image = corvane::jvm::readTreeRecord(tree).splash;
    std::string treeNote;
    if (image.empty()) {
        treeNote = "the tree's record names no splash image";
        image = fallbackImage;
    } else if (image[0] != '/') {  // relative to the tree, or else to its lib folder
        image = ::access((tree + "/" + image).c_str(), R_OK) == 0 ? tree + "/" + image : tree + "/lib/" + image;
    }
    if (image.empty()) {
        std::printf("splash: n/a (%s, and no --image for java)\n", treeNote.c_str());
        bench::printResult("splash", none, none, "ms");
        printRow(none, none, none, none, treeNote);
        return 0;
    }
    const std::string logs = bench::makeScratchDir(scratchParent, "splash");
    std::vector<std::string> env = bench::baseEnvironment();
    bench::setEnv(env, "DISPLAY=" + display);
    bench::setEnv(env, "CORVANE_BENCH_MODE=idle");
    bench::setEnv(env, "CORVANE_NATIVE_LOG_DIR_OVERRIDE=" + logs);
    bench::MapWatcher maps(true);
    if (!maps.start(env)) {
        std::fprintf(stderr, "cannot start xev\n");
        return 1;
    }
    const std::vector<std::string> javaCommand = {java, "-splash:" + image, "-cp", classPathOf(tree), mainClass};
    const std::vector<std::string> treeCommand = {tree + "/corvane"};
    // A launcher that ignores the key shows nothing: one try tells.
    if (treeNote.empty() && std::isnan(bench::msToWindow(treeCommand, env, maps, "", SPLASH_LIMIT_MS))) {
        treeNote = "the launcher mapped no window within " + std::to_string(SPLASH_LIMIT_MS) + " ms";
    }
    const bool withTree = treeNote.empty();
    std::vector<double> javaMs;
    std::vector<double> treeMs;
    for (int round = 0; round < warmup + rounds; ++round) {
        const bool javaFirst = round % 2 == 0;
        const double a = !withTree && !javaFirst ? std::nan("")
                         : bench::msToWindow(javaFirst ? javaCommand : treeCommand, env, maps, "", SPLASH_LIMIT_MS);
        const double b = !withTree && javaFirst ? std::nan("")
                         : bench::msToWindow(javaFirst ? treeCommand : javaCommand, env, maps, "", SPLASH_LIMIT_MS);
        if (round >= warmup) {
            javaMs.push_back(javaFirst ? a : b);
            treeMs.push_back(javaFirst ? b : a);
        }
    }
    bench::removeTree(logs);
    std::printf("splash: exec -> splash window mapped, %d rounds (+%d warm-up), display %s, image %s\n", rounds,
                warmup, display.c_str(), image.c_str());
    std::printf("  java command: %s -splash:<image> -cp <the tree's jars> %s\n", java.c_str(), mainClass.c_str());
    if (!withTree) {
        std::printf("  tree: n/a (%s)\n", treeNote.c_str());
    }
    bench::printSeries("java -splash: exec -> window mapped", bench::validOf(javaMs), "ms");
    bench::printSeries("tree: exec -> window mapped", bench::validOf(treeMs), "ms");
    const std::vector<double> ratios = bench::pairedRatios(treeMs, javaMs);
    bench::printSeries("tree / java, paired by round", ratios, "");
    const std::string more = "paired_median=" + std::to_string(bench::median(ratios)) +
                             " paired_min=" + std::to_string(bench::minOf(ratios)) +
                             " paired_max=" + std::to_string(bench::maxOf(ratios)) + " rounds=" + std::to_string(rounds);
    const double treeMedian = bench::median(bench::validOf(treeMs));
    const double javaMedian = bench::median(bench::validOf(javaMs));
    bench::printResult("splash", treeMedian, javaMedian, "ms", more);
    printRow(treeMedian, javaMedian, bench::minOf(ratios), bench::maxOf(ratios), treeNote);
    const bool allRan = bench::validOf(javaMs).size() == javaMs.size() &&
                        (!withTree || bench::validOf(treeMs).size() == treeMs.size());
    return allRan ? 0 : 1;
}
