#pragma once

#include <istream>
#include <string>
#include <vector>

namespace corvane::jvm {

// One entry of the VM option list before it is handed to the VM; extraInfo is
// null except for the three hook entries.
struct OptionEntry {
    std::string text;
    void* extraInfo = nullptr;
};

// Everything the option list depends on. Environment values are null when
// the variable is unset.
struct OptionInputs {
    std::vector<std::string> treeOptionLines;    // the tree's own JVM options file
    std::vector<std::string> systemOptionLines;  // /etc/<name>/jvm-options.txt
    std::vector<std::string> userOptionLines;    // <config home>/<name>/jvm-options.txt
    std::vector<std::string> jvmArgsFileLines;   // the --jvm-args= file
    std::string installDir;
    std::string classPath;
    std::string logsDir;
    int pid = 0;
    const char* aggressiveOptimizations = nullptr;  // CORVANE_AGGRESSIVE_OPTIMIZATIONS
    const char* forceSerialGc = nullptr;            // CORVANE_GC_FORCE_SERIAL_GC
    const char* forceParallelGc = nullptr;          // CORVANE_GC_FORCE_PARALLEL_GC
    const char* aggressiveReclaim = nullptr;        // CORVANE_GC_AGGRESSIVE_RECLAIM
    const char* maxPauseMillis = nullptr;           // CORVANE_GC_MAX_PAUSE_MILLIS
    const char* tmpDir = nullptr;                   // TMPDIR
    bool tmpDirIsDirectory = false;
    // The tree's record asks for java's own default heap limit ("heap=java"):
    // no fixed maximum and no soft limit tied to it.
    bool javaDefaultHeap = false;
    // The runtime's feature release as the tree's record gives it; 0 when unknown.
    int runtimeFeature = 0;
    std::string stackSizeOption;  // "-Xss<n>k"
    std::string version;
    void* vprintfHook = nullptr;
    void* exitHook = nullptr;
    void* abortHook = nullptr;
};

// The tree's own JVM options file, in the lib directory: the packager's
// options for every start, read with the JVM arguments file's line rules.
// INSTALL_DIR_TOKEN in its lines stands for the install directory, so that
// a tree keeps its options (an archive layer's path, say) wherever it lies.
extern const char TREE_JVM_OPTIONS_FILE[];
extern const char INSTALL_DIR_TOKEN[];

// /etc/<name>/jvm-options.txt.
std::string systemJvmOptionsPath(const std::string& name);

// <config home>/<name>/jvm-options.txt, where the config home is
// XDG_CONFIG_HOME when it is absolute, else HOME's ".config" when HOME is
// absolute; empty when there is neither.
std::string userJvmOptionsPath(const std::string& name, const char* xdgConfigHome, const char* home);

// Puts `installDir` in place of every INSTALL_DIR_TOKEN in `lines`.
void expandInstallDir(std::vector<std::string>& lines, const std::string& installDir);

// The lib directory: the install directory followed by "/lib/".
std::string libDirFor(const std::string& installDir);

// "-Xss<n>k" for the given page size in bytes (0 or less when unknown).
std::string stackSizeOptForPageSize(long pageSize);

// Each line of a JVM arguments file, verbatim (no trimming, empty lines kept,
// no entry after a final line feed).
std::vector<std::string> readJvmArgsLines(std::istream& in);

// The options that only restate the VM's own default and that the list leaves
// out for a runtime of `runtimeFeature`: from some release on the VM warns
// about each of them on every start. An unknown runtime (0) keeps them all.
std::vector<std::string> restatedDefaultsLeftOut(int runtimeFeature);

// Whether a runtime of `runtimeFeature` (0: unknown) takes the aggressive set
// (compact object headers came with the contract's minimum JDK).
bool takesAggressiveOptions(int runtimeFeature);

// The complete, ordered option list.
std::vector<OptionEntry> buildJvmOptionEntries(const OptionInputs& inputs);

// "JVM Args:" log text: "\n\t" and then every option followed by "\n\t".
std::string formatOptionsForLog(const std::vector<OptionEntry>& entries);

}  // namespace corvane::jvm
