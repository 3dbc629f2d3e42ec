#pragma once

// The launcher's JVM option list as this test suite expects it, written out
// independently of src/jvm/JvmOptions.cpp, and the environment switches that
// change it, shared by the unit tests and the tests through the real VM.

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace corvane::test {

struct OptionPaths {
    std::string installDir;  // no trailing "/"
    std::string classPath;
    std::string logDir;
    int pid = 0;
    std::string version;
    std::string stackSize;  // "-Xss384k"
};

// The list with none of the switches set and no JVM arguments file: 47 entries.
inline std::vector<std::string> defaultOptionList(const OptionPaths& p) {
    const std::string pid = std::to_string(p.pid);
    return {
        "-Xmx160m",
        "-Dcorvane.jars.path=" + p.installDir + "/lib/",
        "-Djna.nounpack=true",
        "-Djna.nosys=true",
        "-Djna.noclasspath=true",
        "-Djava.class.path=" + p.classPath,
        "-Djna.library.path=" + p.installDir,
        "-Djna.boot.library.path=" + p.installDir,
        "-Dvindo.library.path=" + p.installDir,
        "-Xms8m",
        p.stackSize,
        "-XX:+UnlockExperimentalVMOptions",
        "-XX:+CreateCoredumpOnCrash",
        "-XX:MetaspaceSize=16m",
        "-XX:MinMetaspaceFreeRatio=10",
        "-XX:MaxMetaspaceFreeRatio=10",
        "-XX:+UseCompressedOops",
        "-XX:+UseCompressedClassPointers",
        "-XX:CompressedClassSpaceSize=64m",
        "-XX:ReservedCodeCacheSize=64m",
        "-XX:+UseCodeCacheFlushing",
        "-XX:CICompilerCount=2",
        "-XX:+UseCompactObjectHeaders",
        "-XX:+UseStringDeduplication",
        "-Dvindo.gpu.resourceCacheLimit=1M",
        "-Dvindo.buffering=2",
        "-XX:+UseG1GC",
        "-XX:ParallelGCThreads=2",
        "-XX:ConcGCThreads=1",
        "-XX:SoftMaxHeapSize=128m",
        "-XX:G1PeriodicGCInterval=10000",
        "-XX:G1PeriodicGCSystemLoadThreshold=0",
        "-XX:MinHeapFreeRatio=10",
        "-XX:MaxHeapFreeRatio=10",
        "-XX:-ShrinkHeapInSteps",
        "-XX:MaxGCPauseMillis=100",
        "-Djdk.lang.processReaperUseDefaultStackSize=true",
        "--add-opens=java.desktop/sun.awt=ALL-UNNAMED",
        "--add-opens=java.desktop/sun.awt.resources=ALL-UNNAMED",
        "vfprintf",
        "exit",
        "abort",
        "-DCORVANE_VERSION=" + p.version,
        "-XX:+CrashOnOutOfMemoryError",
        "-XX:+HeapDumpOnOutOfMemoryError",
        "-XX:HeapDumpPath=" + p.logDir + "/corvane-oom-" + pid + ".hprof",
        "-XX:ErrorFile=" + p.logDir + "/corvane-error-" + pid + ".log",
    };
}

using OptionList = std::vector<std::string>;

// Replaces the contiguous run `from` by `to`; a test failure when `from` is not there.
inline void replaceRun(OptionList& list, const OptionList& from, const OptionList& to) {
    auto at = std::search(list.begin(), list.end(), from.begin(), from.end());
    if (at == list.end()) {
        ADD_FAILURE() << "expected run starting with " << from.front() << " not in the list";
        return;
    }
    at = list.erase(at, at + static_cast<std::ptrdiff_t>(from.size()));
    list.insert(at, to.begin(), to.end());
}

inline const OptionList& aggressiveRows() {
    static const OptionList rows = {"-XX:CompressedClassSpaceSize=64m", "-XX:ReservedCodeCacheSize=64m",
                                    "-XX:+UseCodeCacheFlushing",        "-XX:CICompilerCount=2",
                                    "-XX:+UseCompactObjectHeaders",     "-XX:+UseStringDeduplication"};
    return rows;
}
inline const OptionList& g1AggressiveRows() {
    static const OptionList rows = {"-XX:SoftMaxHeapSize=128m", "-XX:G1PeriodicGCInterval=10000",
                                    "-XX:G1PeriodicGCSystemLoadThreshold=0"};
    return rows;
}
inline const OptionList& g1Rows() {
    static const OptionList rows = {"-XX:+UseG1GC", "-XX:ParallelGCThreads=2", "-XX:ConcGCThreads=1"};
    return rows;
}
inline const OptionList& reclaimRows() {
    static const OptionList rows = {"-XX:MinHeapFreeRatio=10", "-XX:MaxHeapFreeRatio=10", "-XX:-ShrinkHeapInSteps"};
    return rows;
}

inline void withoutAggressive(OptionList& l) {
    replaceRun(l, aggressiveRows(), {});
    replaceRun(l, g1AggressiveRows(), {});
}
inline void withSerial(OptionList& l) {
    replaceRun(l, g1Rows(), {"-XX:+UseSerialGC"});
    replaceRun(l, g1AggressiveRows(), {});
}
inline void withParallel(OptionList& l) {
    replaceRun(l, g1Rows(), {"-XX:+UseParallelGC", "-XX:ParallelGCThreads=2"});
    replaceRun(l, g1AggressiveRows(), {});
}

// One setting of the environment switches and the tree's record. "{dir}" in a
// value stands for an existing directory, "{file}" for an existing regular file.
struct SwitchCase {
    const char* name;
    std::map<std::string, std::string> env;
    std::function<void(OptionList&, const std::string& tmpDir)> change;
    bool throughRealVm;              // also run through the real executable and VM
    const char* record = nullptr;    // the tree's lib/corvane-tree.txt; none when null
};

inline void PrintTo(const SwitchCase& c, std::ostream* os) {
    *os << c.name;
}

// The case's environment with "{dir}" and "{file}" filled in.
inline std::map<std::string, std::string> switchEnvironment(const SwitchCase& c, const std::string& dir,
                                                            const std::string& file) {
    std::map<std::string, std::string> env;
    for (const auto& [key, value] : c.env) {
        env[key] = value == "{dir}" ? dir : value == "{file}" ? file : value;
    }
    return env;
}

inline const std::vector<SwitchCase>& switchCases() {
    static const std::vector<SwitchCase> cases = {
        {"Default", {}, [](OptionList&, const std::string&) {}, true},
        {"AggressiveOff", {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "0"}},
         [](OptionList& l, const std::string&) { withoutAggressive(l); }, true},
        {"AggressiveOffAnyTextStartingWithZero", {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "0ff"}},
         [](OptionList& l, const std::string&) { withoutAggressive(l); }, false},
        {"AggressiveEmptyIsOn", {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", ""}}, [](OptionList&, const std::string&) {},
         false},
        {"AggressiveFalseWordIsOn", {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "false"}},
         [](OptionList&, const std::string&) {}, false},
        {"Serial", {{"CORVANE_GC_FORCE_SERIAL_GC", "1"}}, [](OptionList& l, const std::string&) { withSerial(l); },
         true},
        {"SerialByFirstCharacter", {{"CORVANE_GC_FORCE_SERIAL_GC", "10"}},
         [](OptionList& l, const std::string&) { withSerial(l); }, false},
        {"SerialTrueWordDoesNotForce", {{"CORVANE_GC_FORCE_SERIAL_GC", "true"}},
         [](OptionList&, const std::string&) {}, false},
        {"Parallel", {{"CORVANE_GC_FORCE_PARALLEL_GC", "1"}},
         [](OptionList& l, const std::string&) { withParallel(l); }, true},
        {"ParallelWithAggressiveOff",
         {{"CORVANE_GC_FORCE_PARALLEL_GC", "1"}, {"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "0"}},
         [](OptionList& l, const std::string&) {
             replaceRun(l, aggressiveRows(), {});
             withParallel(l);
         },
         false},
        {"BothForcedSerialWins", {{"CORVANE_GC_FORCE_SERIAL_GC", "1"}, {"CORVANE_GC_FORCE_PARALLEL_GC", "1"}},
         [](OptionList& l, const std::string&) { withSerial(l); }, true},
        {"SerialNotForcedParallelForced",
         {{"CORVANE_GC_FORCE_SERIAL_GC", "0"}, {"CORVANE_GC_FORCE_PARALLEL_GC", "1"}},
         [](OptionList& l, const std::string&) { withParallel(l); }, false},
        {"ReclaimOff", {{"CORVANE_GC_AGGRESSIVE_RECLAIM", "0"}},
         [](OptionList& l, const std::string&) { replaceRun(l, reclaimRows(), {}); }, true},
        {"ReclaimOtherValueIsOn", {{"CORVANE_GC_AGGRESSIVE_RECLAIM", "no"}}, [](OptionList&, const std::string&) {},
         false},
        {"PauseSet", {{"CORVANE_GC_MAX_PAUSE_MILLIS", "250"}},
         [](OptionList& l, const std::string&) {
             replaceRun(l, {"-XX:MaxGCPauseMillis=100"}, {"-XX:MaxGCPauseMillis=250"});
         },
         true},
        {"PauseEmpty", {{"CORVANE_GC_MAX_PAUSE_MILLIS", ""}},
         [](OptionList& l, const std::string&) {
             replaceRun(l, {"-XX:MaxGCPauseMillis=100"}, {"-XX:MaxGCPauseMillis="});
         },
         false},
        {"PauseUncheckedText", {{"CORVANE_GC_MAX_PAUSE_MILLIS", "12ms x"}},
         [](OptionList& l, const std::string&) {
             replaceRun(l, {"-XX:MaxGCPauseMillis=100"}, {"-XX:MaxGCPauseMillis=12ms x"});
         },
         false},
        {"TmpDirDirectory", {{"TMPDIR", "{dir}"}},
         [](OptionList& l, const std::string& dir) { l.push_back("-Djava.io.tmpdir=" + dir); }, true},
        {"TmpDirFile", {{"TMPDIR", "{file}"}}, [](OptionList&, const std::string&) {}, true},
        {"TmpDirMissing", {{"TMPDIR", "/nonexistent/corvane-tmp"}}, [](OptionList&, const std::string&) {}, false},
        // What the VM does anyway and warns about when told, left out from the
        // release that warns; an older or unknown runtime keeps it.
        {"Runtime25LeavesOutBothWarnedDefaults", {},
         [](OptionList& l, const std::string&) {
             replaceRun(l, {"-XX:+CreateCoredumpOnCrash"}, {});
             replaceRun(l, {"-XX:+UseCompressedClassPointers"}, {});
         },
         true, "runtime-version=25.0.3\n"},
        {"Runtime24LeavesOutTheCoreDumpOption", {},
         [](OptionList& l, const std::string&) { replaceRun(l, {"-XX:+CreateCoredumpOnCrash"}, {}); }, false,
         "runtime-version=24\n"},
        // A runtime older than the aggressive set takes the lighter one, as with the switch off.
        {"Runtime21KeepsBothAndTakesTheLighterSet", {}, [](OptionList& l, const std::string&) { withoutAggressive(l); },
         false, "runtime-version=21.0.5\n"},
        {"RuntimeVersionNotANumberKeepsBoth", {}, [](OptionList&, const std::string&) {}, false,
         "runtime-version=unknown\n"},
    };
    return cases;
}

}  // namespace corvane::test
