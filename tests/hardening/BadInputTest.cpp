// Bad input and odd environments through the real executable, in install trees
// with the real JDK (or no runtime, where the runtime itself is the bad
// input): the exit status and the messages that the user gets. Each row is a
// row of docs/bad-input.md that no other test shows.
//
// Unreadable files and directories: root reads everything, so when the tests
// run as root, those rows start the launcher through setpriv with the
// capabilities that override file permissions (CAP_DAC_OVERRIDE,
// CAP_DAC_READ_SEARCH) dropped from its bounding set; the permission bits then
// hold for it as for any user.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/InstallTree.h"

namespace {

using namespace corvane::test;
namespace fs = std::filesystem;

const char* const SETPRIV = "/usr/bin/setpriv";

// Paths of a tree: {R} the install directory, {L} its lib directory (ending
// in "/"), {S} the scratch directory that holds the tree, the logs and the
// scratch files.
std::string expand(std::string text, const InstallTree& tree) {
    const std::map<std::string, std::string> names = {
        {"{R}", tree.root()}, {"{L}", tree.libDir()}, {"{S}", tree.scratchDir()}};
    for (const auto& [name, value] : names) {
        text = replaceAll(text, name, value);
    }
    return text;
}

struct BadInput {
    const char* name;
    TreeRuntime runtime;
    // Spoils the tree; returns the launcher's arguments.
    std::function<std::vector<std::string>(const InstallTree&)> prepare;
    std::map<std::string, std::string> env;  // values may hold {R}, {L}, {S}
    bool needsPermissions;                   // unreadable files: run without root's permission override
    int status;
    std::vector<std::string> lastMessages;   // the native log's last messages, in order (none: no log)
    std::string onStderr = {};               // a line that standard error holds ("": not checked)
    std::vector<std::string> options = {};   // in the logged JVM option list
    std::vector<std::string> notOptions = {};  // not in it
};

void PrintTo(const BadInput& c, std::ostream* os) {
    *os << c.name;
}

class BadInputRun : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputRun, StatusAndMessages) {
    const BadInput& c = GetParam();
    const bool asRoot = ::geteuid() == 0;
    if (c.needsPermissions && asRoot && ::access(SETPRIV, X_OK) != 0) {
        GTEST_SKIP() << "running as root, and without " << SETPRIV
                     << " root's permission override cannot be dropped: root reads every file";
    }
    const auto aggressive = c.env.find("CORVANE_AGGRESSIVE_OPTIMIZATIONS");
    if (!jdkSupportsDefaultOptions() && aggressive != c.env.end() && aggressive->second.rfind('0', 0) != 0) {
        GTEST_SKIP() << "the JDK found is major " << jdkMajor() << "; these options need "
                     << CORVANE_TEST_JDK_MINIMUM << " or newer";
    }
    InstallTree tree(c.runtime);
    const std::vector<std::string> arguments = c.prepare(tree);

    RunOptions options;
    for (const auto& [key, value] : c.env) {
        options.set[key] = expand(value, tree);
    }
    options.timeoutSeconds = 60;
    const TreeRun run = c.needsPermissions && asRoot
                            ? tree.runThrough({SETPRIV, "--bounding-set=-dac_override,-dac_read_search"}, arguments,
                                              options)
                            : tree.run(arguments, options);
    // Give back what the row locked, so that the scratch directory can go.
    for (const char* locked : {"{L}locked", "{S}/locked", "{S}/ro"}) {
        ::chmod(expand(locked, tree).c_str(), 0755);
    }

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, c.status) << joinLines(run.log) << run.err;
    if (c.lastMessages.empty()) {
        EXPECT_TRUE(run.log.empty()) << joinLines(run.log);
    } else {
        ASSERT_GE(run.log.size(), c.lastMessages.size()) << joinLines(run.log);
        std::vector<std::string> expected;
        for (const std::string& m : c.lastMessages) {
            expected.push_back(expand(m, tree));
        }
        EXPECT_EQ(std::vector<std::string>(run.log.end() - static_cast<long>(expected.size()), run.log.end()),
                  expected)
            << joinLines(run.log) << run.err;
    }
    if (!c.onStderr.empty()) {
        const std::string line = expand(c.onStderr, tree);
        EXPECT_NE(("\n" + run.err).find("\n" + line + "\n"), std::string::npos) << run.err;
    }
    const std::vector<std::string> list = run.jvmArgs();
    for (const std::string& o : c.options) {
        EXPECT_NE(std::find(list.begin(), list.end(), expand(o, tree)), list.end()) << o << "\n" << joinLines(list);
    }
    for (const std::string& o : c.notOptions) {
        EXPECT_EQ(std::find(list.begin(), list.end(), expand(o, tree)), list.end()) << o << "\n" << joinLines(list);
    }
}

// --- what the rows do to the tree ------------------------------------------

std::vector<std::string> nothing(const InstallTree&) {
    return {};
}

std::function<std::vector<std::string>(const InstallTree&)> manifest(std::string content) {
    return [content](const InstallTree& tree) {
        tree.writeManifest(content);
        return std::vector<std::string>{};
    };
}

std::function<std::vector<std::string>(const InstallTree&)> jvmArgsFile(std::string content) {
    return [content](const InstallTree& tree) {
        return std::vector<std::string>{"--jvm-args=" + tree.writeScratchFile("jvm.args", content)};
    };
}

std::function<std::vector<std::string>(const InstallTree&)> runtimeFile(std::string content) {
    return [content](const InstallTree& tree) {
        fs::create_directories(tree.root() + "/jre/lib/server");
        writeFile(tree.root() + "/jre/lib/server/libjvm.so", content);
        return std::vector<std::string>{};
    };
}

std::vector<std::string> unreadableManifest(const InstallTree& tree) {
    ::chmod((tree.libDir() + "manifest-bootstrap.txt").c_str(), 0);
    return {};
}

std::vector<std::string> manifestIsADirectory(const InstallTree& tree) {
    fs::remove(tree.libDir() + "manifest-bootstrap.txt");
    fs::create_directory(tree.libDir() + "manifest-bootstrap.txt");
    return {};
}

std::vector<std::string> unreadableJar(const InstallTree& tree) {
    ::chmod((tree.libDir() + "corvane-testapp.jar").c_str(), 0);
    return {};
}

std::vector<std::string> jarBehindLockedDirectory(const InstallTree& tree) {
    fs::create_directory(tree.libDir() + "locked");
    fs::rename(tree.libDir() + "corvane-testapp.jar", tree.libDir() + "locked/corvane-testapp.jar");
    ::chmod((tree.libDir() + "locked").c_str(), 0);
    tree.writeManifest("locked/corvane-testapp.jar\n");
    return {};
}

std::vector<std::string> unreadableJvmArgs(const InstallTree& tree) {
    const std::string path = tree.writeScratchFile("jvm.args", "-Dcorvane.test.first=1\n");
    ::chmod(path.c_str(), 0);
    return {"--jvm-args=" + path};
}

std::vector<std::string> jvmArgsDirectory(const InstallTree& tree) {
    return {"--jvm-args=" + tree.scratchDir()};
}

std::vector<std::string> lockedLogDirectories(const InstallTree& tree) {
    const std::string& scratch = tree.scratchDir();
    fs::create_directories(scratch + "/ro");
    ::chmod((scratch + "/ro").c_str(), 0555);
    fs::create_directories(scratch + "/locked/logs");
    ::chmod((scratch + "/locked").c_str(), 0);
    return {};
}

const std::string JVM_FAILED = "reportFatalAndExit Failed to start JVM";
const std::string NO_LOCATE = "startJVM Failed to locate exported function to start VM";
const std::string EXIT_AFTER_STARTUP = "operator() JVM exit after startup is set, exiting";
const std::string CLASS_MISSING_104 = "reportFatalAndExit Failed to initialize Corvane JVM application: 104";
const std::vector<std::string> AGGRESSIVE = {"-XX:CompressedClassSpaceSize=64m", "-XX:+UseCompactObjectHeaders",
                                             "-XX:SoftMaxHeapSize=128m"};
const std::vector<std::string> G1 = {"-XX:+UseG1GC", "-XX:ConcGCThreads=1"};
const std::string ELF_HEADER("\x7f" "ELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x3e\x00", 20);
const std::string TEXT_RUNTIME =
    "This is not a library. Someone put a text file where the Java runtime library belongs.\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, BadInputRun,
    testing::Values(
        // --- the bootstrap manifest -----------------------------------------
        BadInput{"ManifestUnreadable", TreeRuntime::Jdk, unreadableManifest, {}, true, 51,
                 {"reportFatalAndExit Bootstrap manifest is missing or not accessible: {L}manifest-bootstrap.txt"}},
        BadInput{"ManifestEmpty", TreeRuntime::Jdk, manifest(""), {}, false, 104,
                 {"callMainMethod Finding  CorvaneProcessEarlyEntry  class failed with exception!",
                  "operator() JVM main ended", CLASS_MISSING_104},
                 "", {"-Djava.class.path="}},
        // A directory opens like a file; its first read fails, which ends the
        // list as the end of a file would: an empty class path.
        BadInput{"ManifestIsADirectory", TreeRuntime::Jdk, manifestIsADirectory, {}, false, 51,
                 {"reportFatalAndExit Bootstrap manifest is missing or not accessible: {L}manifest-bootstrap.txt"}},
        // The start of an x86-64 ELF file: "\x7f" "ELF", class, byte order,
        // version, then NUL bytes.
        BadInput{"ManifestBinaryElfHeader", TreeRuntime::Jdk, manifest(ELF_HEADER), {}, false, 52,
                 {"reportFatalAndExit Bootstrap manifest entry cannot be checked: {L}\x7f"
                  "ELF\x02\x01\x01: it holds a NUL byte"}},
        BadInput{"ManifestBinaryWithoutNul", TreeRuntime::Jdk, manifest("\xff\xfe\x80\x01garbage\x7f\n"), {}, false, 52,
                 {"reportFatalAndExit Bootstrap manifest entry does not exist: {L}\xff\xfe\x80\x01garbage\x7f"}},
        BadInput{"ManifestByteOrderMark", TreeRuntime::Jdk, manifest("\xEF\xBB\xBF" "corvane-testapp.jar\r\n"), {},
                 false, 52,
                 {"reportFatalAndExit Bootstrap manifest entry does not exist: {L}\xEF\xBB\xBF" "corvane-testapp.jar"}},
        // The entry exists, so it reaches the class path; the VM cannot open it.
        BadInput{"ManifestEntryUnreadable", TreeRuntime::Jdk, unreadableJar, {}, true, 104,
                 {"operator() JVM main ended", CLASS_MISSING_104}, "",
                 {"-Djava.class.path={L}corvane-testapp.jar"}},
        BadInput{"ManifestEntryBehindDirectoryWithoutSearchPermission", TreeRuntime::Jdk, jarBehindLockedDirectory, {},
                 true, 52,
                 {"reportFatalAndExit Bootstrap manifest entry cannot be checked: {L}locked/corvane-testapp.jar: "
                  "Permission denied"}},

        // --- the JVM arguments file -----------------------------------------
        BadInput{"JvmArgsUnreadable", TreeRuntime::Jdk, unreadableJvmArgs, {}, true, 53,
                 {"startJVM Unable to open jvm args file:  {S}/jvm.args", JVM_FAILED}},
        BadInput{"JvmArgsIsADirectory", TreeRuntime::Jdk, jvmArgsDirectory, {}, false, 53,
                 {"startJVM Unable to open jvm args file:  {S}", JVM_FAILED}},
        // The carriage return stays part of the option; for a size the VM refuses it.
        BadInput{"JvmArgsCrlfOnHeapSize", TreeRuntime::Jdk, jvmArgsFile("-Xmx200m\r\n"), {}, false, 53,
                 {"startJVM Error creating VM: code= -6 . Exiting...\n", JVM_FAILED},
                 "Invalid maximum heap size: -Xmx200m\r", {"-Xmx200m\r"}},
        // An empty line is an empty option, which the VM does not recognise.
        BadInput{"JvmArgsEmptyLine", TreeRuntime::Jdk, jvmArgsFile("-Dcorvane.test.first=1\n\n-Xmx200m\n"), {}, false,
                 53, {"startJVM Error creating VM: code= -1 . Exiting...\n", JVM_FAILED}, "Unrecognized option: ",
                 {""}},

        // --- the log directory (messages on standard error: there is no log) --
        BadInput{"LogDirUnwritable", TreeRuntime::Jdk, lockedLogDirectories,
                 {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "{S}/ro"}}, true, 1, {},
                 "corvane: Failed to open log file for writing: {S}/ro/corvane-native.log"},
        BadInput{"LogDirBehindDirectoryWithoutSearchPermission", TreeRuntime::Jdk, lockedLogDirectories,
                 {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "{S}/locked/logs"}}, true, 1, {},
                 "corvane: Invalid or inaccessible log directory: {S}/locked/logs"},

        // --- environment variables with odd values ---------------------------
        BadInput{"AggressiveEmptyIsOn", TreeRuntime::Jdk, nothing, {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", ""}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", AGGRESSIVE},
        BadInput{"AggressiveWordNoIsOn", TreeRuntime::Jdk, nothing, {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "no"}}, false,
                 0, {EXIT_AFTER_STARTUP}, "", AGGRESSIVE},
        BadInput{"Aggressive10IsOn", TreeRuntime::Jdk, nothing, {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "10"}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", AGGRESSIVE},
        BadInput{"Aggressive0ffIsOff", TreeRuntime::Jdk, nothing, {{"CORVANE_AGGRESSIVE_OPTIMIZATIONS", "0ff"}}, false,
                 0, {EXIT_AFTER_STARTUP}, "", {}, AGGRESSIVE},
        BadInput{"Serial10Forces", TreeRuntime::Jdk, nothing, {{"CORVANE_GC_FORCE_SERIAL_GC", "10"}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", {"-XX:+UseSerialGC"}, G1},
        BadInput{"SerialEmptyDoesNotForce", TreeRuntime::Jdk, nothing, {{"CORVANE_GC_FORCE_SERIAL_GC", ""}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", G1, {"-XX:+UseSerialGC"}},
        BadInput{"ParallelYesDoesNotForce", TreeRuntime::Jdk, nothing, {{"CORVANE_GC_FORCE_PARALLEL_GC", "yes"}}, false,
                 0, {EXIT_AFTER_STARTUP}, "", G1, {"-XX:+UseParallelGC"}},
        BadInput{"ReclaimEmptyIsOn", TreeRuntime::Jdk, nothing, {{"CORVANE_GC_AGGRESSIVE_RECLAIM", ""}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", {"-XX:MinHeapFreeRatio=10", "-XX:-ShrinkHeapInSteps"}},
        BadInput{"PauseEmptyRejectedByVm", TreeRuntime::Jdk, nothing, {{"CORVANE_GC_MAX_PAUSE_MILLIS", ""}}, false, 53,
                 {"startJVM Error creating VM: code= -6 . Exiting...\n", JVM_FAILED},
                 "Improperly specified VM option 'MaxGCPauseMillis='", {"-XX:MaxGCPauseMillis="}},
        BadInput{"PauseWordRejectedByVm", TreeRuntime::Jdk, nothing, {{"CORVANE_GC_MAX_PAUSE_MILLIS", "fast"}}, false,
                 53, {"startJVM Error creating VM: code= -6 . Exiting...\n", JVM_FAILED},
                 "Improperly specified VM option 'MaxGCPauseMillis=fast'", {"-XX:MaxGCPauseMillis=fast"}},
        BadInput{"TmpDirIsAFile", TreeRuntime::Jdk, nothing, {{"TMPDIR", "{L}corvane-testapp.jar"}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", {}, {"-Djava.io.tmpdir={L}corvane-testapp.jar"}},
        BadInput{"TmpDirMissing", TreeRuntime::Jdk, nothing, {{"TMPDIR", "{S}/no-such-tmp"}}, false, 0,
                 {EXIT_AFTER_STARTUP}, "", {}, {"-Djava.io.tmpdir={S}/no-such-tmp"}},
        BadInput{"InstallDirOverrideMissing", TreeRuntime::Jdk, nothing,
                 {{"CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE", "{S}/no-such-tree"}}, false, 53,
                 {"resolveJNICreateFunction Cannot load  {S}/no-such-tree/jre/lib/server/libjvm.so :  "
                  "{S}/no-such-tree/jre/lib/server/libjvm.so: cannot open shared object file: No such file or directory",
                  NO_LOCATE, JVM_FAILED}},
        BadInput{"InstallDirOverrideTrailingSlash", TreeRuntime::Jdk, nothing,
                 {{"CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE", "{R}/"}}, false, 0, {EXIT_AFTER_STARTUP}, "",
                 {"-Dcorvane.jars.path={R}//lib/", "-Djava.class.path={R}//lib/corvane-testapp.jar",
                  "-Djna.library.path={R}/"}},

        // --- the runtime library ---------------------------------------------
        BadInput{"RuntimeIsATextFile", TreeRuntime::None, runtimeFile(TEXT_RUNTIME), {}, false, 53,
                 {"resolveJNICreateFunction Cannot load  {R}/jre/lib/server/libjvm.so :  "
                  "{R}/jre/lib/server/libjvm.so: invalid ELF header",
                  NO_LOCATE, JVM_FAILED}},
        BadInput{"RuntimeIsEmpty", TreeRuntime::None, runtimeFile(""), {}, false, 53,
                 {"resolveJNICreateFunction Cannot load  {R}/jre/lib/server/libjvm.so :  "
                  "{R}/jre/lib/server/libjvm.so: file too short",
                  NO_LOCATE, JVM_FAILED}},

        // --- what the entry method returns -----------------------------------
        // The launcher's own failure codes cannot be told apart from the same
        // values returned by the application.
        BadInput{"EntryReturns104", TreeRuntime::Jdk, nothing, {{"CORVANE_TESTAPP_MODE", "return:104"}}, false, 104,
                 {"operator() JVM calling main", "operator() JVM main ended", CLASS_MISSING_104}},
        // An exit status has eight bits: 256 would reach the parent as 0, a
        // failure that looks like success, so it becomes 255.
        BadInput{"EntryReturns256", TreeRuntime::Jdk, nothing, {{"CORVANE_TESTAPP_MODE", "return:256"}}, false, 255,
                 {"operator() JVM main ended", "reportFatalAndExit Failed to initialize Corvane JVM application: 256"}},
        BadInput{"EntryReturnsIntMin", TreeRuntime::Jdk, nothing, {{"CORVANE_TESTAPP_MODE", "return:-2147483648"}},
                 false, 255, {"operator() JVM calling main", "operator() JVM main ended"}}),
    RowName());

}  // namespace
