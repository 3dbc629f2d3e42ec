#include "jvm/JvmOptions.h"

#include <algorithm>

#include "Contract.h"
#include "jvm/BootstrapManifest.h"
#include "log/CrashReports.h"

namespace corvane::jvm {

namespace {

// A switch that is on unless its variable is set to a value beginning with "0".
bool onUnlessZero(const char* value) {
    return value == nullptr || value[0] != '0';
}

bool forcedByOne(const char* value) {
    return value != nullptr && value[0] == '1';
}

// Options that say what the VM does by default anyway, and the release from
// which the VM warns about each on every start: with core dumps off (the usual
// ulimit) an explicit CreateCoredumpOnCrash gets a notice since 24, and
// UseCompressedClassPointers is deprecated in 25. Older runtimes keep them.
struct RestatedDefault {
    const char* option;
    int warnedSince;
};
constexpr RestatedDefault CREATE_COREDUMP_ON_CRASH{"-XX:+CreateCoredumpOnCrash", 24};
constexpr RestatedDefault COMPRESSED_CLASS_POINTERS{"-XX:+UseCompressedClassPointers", 25};
constexpr const RestatedDefault* RESTATED_DEFAULTS[] = {&CREATE_COREDUMP_ON_CRASH, &COMPRESSED_CLASS_POINTERS};

bool leftOut(const RestatedDefault& restated, int runtimeFeature) {
    return runtimeFeature != 0 && runtimeFeature >= restated.warnedSince;
}

enum class Collector { Serial, Parallel, G1 };

Collector chooseCollector(const OptionInputs& inputs) {
    if (forcedByOne(inputs.forceSerialGc)) {
        return Collector::Serial;
    }
    if (forcedByOne(inputs.forceParallelGc)) {
        return Collector::Parallel;
    }
    return Collector::G1;
}

}  // namespace

const char TREE_JVM_OPTIONS_FILE[] = "jvm-options.txt";
const char INSTALL_DIR_TOKEN[] = "${INSTALL_DIR}";
std::string systemJvmOptionsPath(const std::string& name) {
    return "/etc/" + name + "/" + TREE_JVM_OPTIONS_FILE;
}

std::string userJvmOptionsPath(const std::string& name, const char* xdgConfigHome, const char* home) {
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        return std::string(xdgConfigHome) + "/" + name + "/" + TREE_JVM_OPTIONS_FILE;
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config/" + name + "/" + TREE_JVM_OPTIONS_FILE;
    }
    return std::string();
}

void expandInstallDir(std::vector<std::string>& lines, const std::string& installDir) {
    for (std::string& line : lines) {
        line = string_replace(line, INSTALL_DIR_TOKEN, installDir);
    }
}

std::string libDirFor(const std::string& installDir) {
    return installDir + "/lib/";
}

std::string stackSizeOptForPageSize(long pageSize) {
    unsigned long sizeKb = 384;
    if (pageSize > 0) {
        sizeKb = std::max(sizeKb, static_cast<unsigned long>(pageSize) / 1024 * 8);
    }
    return "-Xss" + std::to_string(sizeKb) + "k";
}

std::vector<std::string> readJvmArgsLines(std::istream& in) {
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> restatedDefaultsLeftOut(int runtimeFeature) {
    std::vector<std::string> options;
    for (const RestatedDefault* restated : RESTATED_DEFAULTS) {
        if (leftOut(*restated, runtimeFeature)) {
            options.emplace_back(restated->option);
        }
    }
    return options;
}

namespace {

// The contract's decimal text as a number, at compile time.
constexpr int decimalValue(const char* text) {
    int value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
    }
    return value;
}

constexpr int AGGRESSIVE_SINCE = decimalValue(CONTRACT_JDK_MINIMUM);

}  // namespace

bool takesAggressiveOptions(int runtimeFeature) {
    return runtimeFeature == 0 || runtimeFeature >= AGGRESSIVE_SINCE;
}

std::vector<OptionEntry> buildJvmOptionEntries(const OptionInputs& inputs) {
    // A runtime the record names as older than the aggressive set's options (an
    // arm64 tree of Debian's JDK 17, say) would refuse to start with them.
    const bool aggressive =
        onUnlessZero(inputs.aggressiveOptimizations) && takesAggressiveOptions(inputs.runtimeFeature);
    const bool reclaim = onUnlessZero(inputs.aggressiveReclaim);
    const Collector collector = chooseCollector(inputs);
    const std::string libDir = libDirFor(inputs.installDir);

    std::vector<OptionEntry> list;
    auto add = [&list](std::string text) { list.push_back(OptionEntry{std::move(text), nullptr}); };
    auto addRestated = [&](const RestatedDefault& restated) {
        if (!leftOut(restated, inputs.runtimeFeature)) {
            add(restated.option);
        }
    };

    // The default heap limit comes first so that the option files can override
    // it; of these the later wins: the tree's, the system's, the user's, and the
    // JVM arguments file of the command line last. A tree that asks for java's
    // heap gets the VM's own limit, a share of the machine's memory.
    if (!inputs.javaDefaultHeap) {
        add("-Xmx160m");
    }
    for (const auto* lines : {&inputs.treeOptionLines, &inputs.systemOptionLines, &inputs.userOptionLines,
                              &inputs.jvmArgsFileLines}) {
        for (const std::string& line : *lines) {
            add(line);
        }
    }
    add("-Dcorvane.jars.path=" + libDir);
    add("-Djna.nounpack=true");
    add("-Djna.nosys=true");
    add("-Djna.noclasspath=true");
    add("-Djava.class.path=" + inputs.classPath);
    add("-Djna.library.path=" + inputs.installDir);
    add("-Djna.boot.library.path=" + inputs.installDir);
    add("-Dvindo.library.path=" + inputs.installDir);
    add("-Xms8m");
    add(inputs.stackSizeOption);
    add("-XX:+UnlockExperimentalVMOptions");
    addRestated(CREATE_COREDUMP_ON_CRASH);
    add("-XX:MetaspaceSize=16m");
    add("-XX:MinMetaspaceFreeRatio=10");
    add("-XX:MaxMetaspaceFreeRatio=10");
    add("-XX:+UseCompressedOops");
    addRestated(COMPRESSED_CLASS_POINTERS);
    if (aggressive) {
        add("-XX:CompressedClassSpaceSize=64m");
        add("-XX:ReservedCodeCacheSize=64m");
        add("-XX:+UseCodeCacheFlushing");
        add("-XX:CICompilerCount=2");
        add("-XX:+UseCompactObjectHeaders");
        add("-XX:+UseStringDeduplication");
    }
    add("-Dvindo.gpu.resourceCacheLimit=1M");
    add("-Dvindo.buffering=2");
    switch (collector) {
        case Collector::Serial:
            add("-XX:+UseSerialGC");
            break;
        case Collector::Parallel:
            add("-XX:+UseParallelGC");
            add("-XX:ParallelGCThreads=2");
            break;
        case Collector::G1:
            add("-XX:+UseG1GC");
            add("-XX:ParallelGCThreads=2");
            add("-XX:ConcGCThreads=1");
            if (aggressive) {
                if (!inputs.javaDefaultHeap) {
                    add("-XX:SoftMaxHeapSize=128m");
                }
                add("-XX:G1PeriodicGCInterval=10000");
                add("-XX:G1PeriodicGCSystemLoadThreshold=0");
            }
            break;
    }
    if (reclaim) {
        add("-XX:MinHeapFreeRatio=10");
        add("-XX:MaxHeapFreeRatio=10");
        add("-XX:-ShrinkHeapInSteps");
    }
    if (inputs.maxPauseMillis != nullptr) {
        add(std::string("-XX:MaxGCPauseMillis=") + inputs.maxPauseMillis);
    } else {
        add("-XX:MaxGCPauseMillis=100");
    }
    add("-Djdk.lang.processReaperUseDefaultStackSize=true");
    add("--add-opens=java.desktop/sun.awt=ALL-UNNAMED");
    add("--add-opens=java.desktop/sun.awt.resources=ALL-UNNAMED");
    list.push_back(OptionEntry{"vfprintf", inputs.vprintfHook});
    list.push_back(OptionEntry{"exit", inputs.exitHook});
    list.push_back(OptionEntry{"abort", inputs.abortHook});
    add("-DCORVANE_VERSION=" + inputs.version);
    add("-XX:+CrashOnOutOfMemoryError");
    add("-XX:+HeapDumpOnOutOfMemoryError");
    const std::string pid = std::to_string(inputs.pid);
    add("-XX:HeapDumpPath=" + inputs.logsDir + "/" + log::HEAP_DUMP_PREFIX + pid + log::HEAP_DUMP_SUFFIX);
    add("-XX:ErrorFile=" + inputs.logsDir + "/" + log::ERROR_FILE_PREFIX + pid + log::ERROR_FILE_SUFFIX);
    if (inputs.tmpDir != nullptr && inputs.tmpDirIsDirectory) {
        add(std::string("-Djava.io.tmpdir=") + inputs.tmpDir);
    }
    return list;
}

std::string formatOptionsForLog(const std::vector<OptionEntry>& entries) {
    std::string text = "\n\t";
    for (const OptionEntry& entry : entries) {
        text.append(entry.text);
        text.append("\n\t");
    }
    return text;
}

}  // namespace corvane::jvm
