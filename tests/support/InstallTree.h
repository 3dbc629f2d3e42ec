#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace corvane::test {

// Artefacts of the build that install trees are made of. A test target that
// uses them names their targets in corvane_add_gtest(... DEPENDS corvane_testapp
// corvane_fakejvm corvane_fakejvm_nocreate).
std::string testAppJar();                 // the entry class driven by CORVANE_TESTAPP_* (testapp/)
std::string noMethodJar();                // the entry class without startCorvane(String[])I
std::string fakeJvmLibrary();             // tests/fakejvm/FakeJvm.c, driven by FAKEJVM_*
std::string fakeJvmWithoutCreateLibrary();  // a library without JNI_CreateJavaVM

// What the tree's "jre" holds.
enum class TreeRuntime {
    Jdk,                 // jre -> the JDK (jdkHome())
    FakeJvm,             // jre/lib/server/libjvm.so -> fakeJvmLibrary()
    FakeJvmWithoutCreate,  // jre/lib/server/libjvm.so -> fakeJvmWithoutCreateLibrary()
    None,                // no jre at all
};

// One run of the tree's launcher.
struct TreeRun : RunResult {
    std::vector<std::string> log;  // logMessagesOfLastRun(): each starts with the function name
    int pid = 0;                   // the launcher's pid, read from the log line prefix (0: no log)

    // Whether `message` starts with `prefix`; a prefix "* <text>" stands for
    // <text> after any function name, for the lines whose function names are
    // the launcher's own business.
    static bool matches(const std::string& message, const std::string& prefix);
    // Index of the first message that matches `prefix`, or -1.
    int find(const std::string& prefix) const;
    bool has(const std::string& prefix) const { return find(prefix) >= 0; }
    // The "JVM Args:" list as logged, one entry per option (empty when not logged).
    std::vector<std::string> jvmArgs() const;
};

// An install tree in a scratch directory, removed at destruction:
//   <scratch>/app/corvane                     a copy of the launcher (not a link)
//   <scratch>/app/jre                         see TreeRuntime
//   <scratch>/app/lib/corvane-testapp.jar     unless withTestApp is false
//   <scratch>/app/lib/manifest-bootstrap.txt  "corvane-testapp.jar\n" unless withTestApp is false
//   <scratch>/logs/                           the native log directory of every run
class InstallTree {
public:
    // `appName`: the install directory's name in the scratch directory.
    explicit InstallTree(TreeRuntime runtime = TreeRuntime::Jdk, bool withTestApp = true,
                         const std::string& appName = "app");

    const std::string& root() const { return root_; }  // the install directory, no trailing "/"
    const std::string& scratchDir() const { return scratch_.path(); }  // holds the tree and logDir()
    std::string libDir() const { return root_ + "/lib/"; }
    std::string launcher() const { return root_ + "/corvane"; }
    const std::string& logDir() const { return logDir_; }
    std::string logFile() const { return logDir_ + "/corvane-native.log"; }

    // Copies `source` to lib/<name>.
    void addToLib(const std::string& source, const std::string& name) const;
    // Writes lib/manifest-bootstrap.txt with exactly this content.
    void writeManifest(const std::string& content) const;
    // Writes a file below the scratch directory (outside the tree); returns its path.
    std::string writeScratchFile(const std::string& name, const std::string& content) const;
    // Makes a directory below the scratch directory; returns its path.
    std::string makeScratchDir(const std::string& name) const;

    // Runs the launcher with `arguments` (argv[0] is launcher() unless argv0 is
    // given). CORVANE_NATIVE_LOG_DIR_OVERRIDE is set to logDir() and, with a JDK
    // too old for the default options, CORVANE_AGGRESSIVE_OPTIMIZATIONS to 0,
    // each unless the options set it. The default timeout is 30 s.
    TreeRun run(const std::vector<std::string>& arguments = {}, RunOptions options = RunOptions(),
                const std::optional<std::string>& argv0 = std::nullopt) const;
    // The same, with the launcher started by `wrapper` (a program and its
    // arguments, which launcher() and `arguments` follow).
    TreeRun runThrough(const std::vector<std::string>& wrapper, const std::vector<std::string>& arguments,
                       RunOptions options = RunOptions()) const;
    // Starts the launcher as run() would, with standard streams on /dev/null,
    // and returns at once: its pid (finishChild() reaps it), or -1.
    pid_t start(const std::vector<std::string>& arguments, RunOptions options = RunOptions()) const;

private:
    RunOptions withDefaults(RunOptions options) const;
    TreeRun withLog(const RunResult& run) const;

    ScratchDir scratch_;
    std::string root_;
    std::string logDir_;
};

// A tree with the fake runtime, and the file where the fake records what it
// was handed (FAKEJVM_RECORD; see tests/fakejvm/FakeJvm.c).
struct FakeRuntimeTree {
    InstallTree tree{TreeRuntime::FakeJvm};
    std::string recordPath = tree.writeScratchFile("record.txt", "");

    // tree.run() with the FAKEJVM_* `knobs`, the record file and a 20 s timeout.
    TreeRun run(std::map<std::string, std::string> knobs, const std::vector<std::string>& args = {},
                const std::optional<std::string>& argv0 = std::nullopt) const;
    std::vector<std::string> records() const { return splitLines(readFile(recordPath)); }
    bool recorded(const std::string& prefix) const;  // a record starts with `prefix`
};

}  // namespace corvane::test
