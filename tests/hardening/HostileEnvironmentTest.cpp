// Ordinary but hostile surroundings, through the real executable and the real
// VM: closed standard descriptors, odd files at the log's path, limits set in
// the child (file size, descriptors, stack), a console whose reader is gone, a
// class path separator in the tree, no /proc, and the launcher's own pid. No
// row may hang, crash, write into a file that is not the log, or load
// anything from the working directory.

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/InstallTree.h"

namespace {

using namespace corvane::test;
namespace fs = std::filesystem;

using Prepare = std::function<std::vector<std::string>(const InstallTree&)>;

struct Hostile {
    const char* name;
    TreeRuntime runtime;
    const char* appName;  // the install directory's name
    Prepare prepare;      // spoils the tree or the log; returns the launcher's arguments
    std::function<bool()> inChild;  // what the child does to itself before the exec (null: nothing)
    std::map<std::string, std::string> env;  // values may hold {R}, {L}, {S}
    int status;
    // Messages that follow each other in the log, each compared by its start
    // ({}: not checked); {P} stands for the launcher's pid.
    std::vector<std::string> messages;
    std::string onStderr = {};              // a line standard error holds exactly once ("": not checked)
    std::vector<std::string> reportHas = {};  // lines of the test app's report
    const char* workingDirectory = "";      // {R}, {S} allowed; "": the test's own
    bool ownPid = false;                    // started by a shell that passes its pid (= the launcher's)
    bool withoutProc = false;               // in a mount namespace whose /proc is empty
};

void PrintTo(const Hostile& c, std::ostream* os) {
    *os << c.name;
}

std::string expand(std::string text, const InstallTree& tree, const std::string& pid = "") {
    const std::map<std::string, std::string> names = {
        {"{R}", tree.root()}, {"{L}", tree.libDir()}, {"{S}", tree.scratchDir()}, {"{P}", pid}};
    for (const auto& [name, value] : names) {
        text = replaceAll(text, name, value);
    }
    return text;
}

int occurrences(const std::string& text, const std::string& line) {
    int count = 0;
    const std::string wrapped = "\n" + text;
    for (std::size_t at = wrapped.find("\n" + line + "\n"); at != std::string::npos;
         at = wrapped.find("\n" + line + "\n", at + 1)) {
        ++count;
    }
    return count;
}

// --- what the child does to itself ---------------------------------------

std::function<bool()> limit(int resource, rlim_t soft, bool hardToo) {
    return [=] {
        struct rlimit value {};
        ::getrlimit(resource, &value);
        value.rlim_cur = soft;
        if (hardToo) {
            value.rlim_max = soft;
        }
        return ::setrlimit(resource, &value) == 0;
    };
}

bool closeStandardDescriptors() {
    return ::close(0) == 0 && ::close(1) == 0 && ::close(2) == 0;
}

// Standard error becomes a pipe that nobody reads any more.
bool stderrToClosedPipe() {
    int ends[2];
    return ::pipe(ends) == 0 && ::close(ends[0]) == 0 && ::dup2(ends[1], 2) == 2 && ::close(ends[1]) == 0;
}

// A mount namespace of its own with an empty file system on /proc: no /proc/self/exe.
bool hideProc() {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("none", "/proc", "tmpfs", 0, "size=16k") == 0;
}

// Whether hideProc works here (it needs root or a user namespace), tried in a child.
bool canHideProc() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(hideProc() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// --- what the rows do to the tree and the log ------------------------------

std::vector<std::string> nothing(const InstallTree&) {
    return {};
}

std::vector<std::string> consoleCopy(const InstallTree&) {
    return {"--log-native-to-stdout"};
}

std::vector<std::string> fifoAsLog(const InstallTree& tree) {
    fs::create_directories(tree.scratchDir() + "/odd");
    ::mkfifo((tree.scratchDir() + "/odd/corvane-native.log").c_str(), 0600);
    return {};
}

std::vector<std::string> logLinkedToDevNull(const InstallTree& tree) {
    fs::create_directories(tree.logDir());
    fs::create_symlink("/dev/null", tree.logFile());
    return {};
}

// A log that already holds more than the file-size limit of the row lets no line in.
std::vector<std::string> logAboveFileSizeLimit(const InstallTree& tree) {
    writeFile(tree.logFile(), std::string(128 * 1024, 'x') + "\n");
    return {};
}

std::vector<std::string> manifestEntryWithColon(const InstallTree& tree) {
    tree.addToLib(testAppJar(), "a:b.jar");
    tree.writeManifest("corvane-testapp.jar\na:b.jar\n");
    return {};
}

const std::string EXIT_AFTER_STARTUP = "operator() JVM exit after startup is set, exiting";
const std::string JVM_FAILED = "reportFatalAndExit Failed to start JVM";
const std::string ODD_LOG = "corvane: Failed to open log file for writing: {S}/odd/corvane-native.log";
const std::map<std::string, std::string> ODD_LOG_DIR = {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "{S}/odd"}};
const std::map<std::string, std::string> REPORT = {{"CORVANE_TESTAPP_REPORT", "{S}/report.txt"}};
const std::string UNKNOWN = "startJVM Install directory is unknown: ";

const Hostile ROWS[] = {
    // Descriptors 0 to 2 closed: the runtime's and the application's files
    // must not become standard input, output or error.
    {"StandardDescriptorsClosed", TreeRuntime::Jdk, "app", nothing, closeStandardDescriptors, REPORT, 0,
     {EXIT_AFTER_STARTUP}, "", {"fd.0=/dev/null", "fd.1=/dev/null", "fd.2=/dev/null"}},
    // An odd file at the log's path (a FIFO; sockets and directories take the
    // same check): refused at once, never waited on.
    {"LogIsAFifo", TreeRuntime::Jdk, "app", fifoAsLog, nullptr, ODD_LOG_DIR, 1, {}, ODD_LOG},
    {"LogLinkedToDevNull", TreeRuntime::Jdk, "app", logLinkedToDevNull, nullptr, {}, 0, {}},
    // Past RLIMIT_FSIZE every write fails with EFBIG instead of SIGXFSZ ending
    // the process; the start goes on, and says so once.
    {"LogAboveFileSizeLimit", TreeRuntime::Jdk, "app", logAboveFileSizeLimit,
     limit(RLIMIT_FSIZE, 64 * 1024, false), {}, 0, {},
     "corvane: cannot write the native log {S}/logs/corvane-native.log: File too large"},
    // The application takes every descriptor, then ends the VM: the exit
    // hook's line still reaches the log.
    {"NoDescriptorLeft", TreeRuntime::Jdk, "app", nothing, limit(RLIMIT_NOFILE, 256, true),
     {{"CORVANE_TESTAPP_MODE", "exhaust-exit:7"}}, 7, {"jvm_exit JVM: exit( 7 )"}},
    {"ConsoleReaderGone", TreeRuntime::Jdk, "app", consoleCopy, stderrToClosedPipe, {}, 0, {EXIT_AFTER_STARTUP}},
    // The class path separator would split a path into pieces, one of them
    // relative to the working directory.
    {"InstallDirWithColon", TreeRuntime::Jdk, "a:pp", nothing, nullptr, {}, 53,
     {"startJVM Install directory cannot be used: {R}: it holds ':', which separates class path entries",
      JVM_FAILED}},
    {"ManifestEntryWithColon", TreeRuntime::Jdk, "app", manifestEntryWithColon, nullptr, {}, 52,
     {"reportFatalAndExit Bootstrap manifest entry cannot be used: {L}a:b.jar: it holds ':', which separates "
      "class path entries"}},
    // Nothing is loaded relative to the working directory, which here holds
    // a runtime, a manifest and a jar.
    {"NoProcFileSystem", TreeRuntime::FakeJvm, "app", nothing, hideProc, {}, 53,
     {UNKNOWN + "/proc/self/exe cannot be read and CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE is not set", JVM_FAILED},
     "", {}, "{R}", false, true},
    {"RelativeInstallDirOverride", TreeRuntime::FakeJvm, "app", nothing, nullptr,
     {{"CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE", "app"}}, 53,
     {UNKNOWN + "CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE is not an absolute path: app", JVM_FAILED}, "", {}, "{S}"},
    // Its own pid is no process to wait for, and never one to kill.
    {"WaitForItsOwnPid", TreeRuntime::Jdk, "app", nothing, nullptr, {}, 0,
     {"run Program arguments:  --install --wait-for-pid {P} ",
      "getCommandLineWaitForPid Ignoring --wait-for-pid value '{P}': it is the launcher's own pid; not waiting",
      "* No application name: the tree has no"},
     "", {}, "", true},
    // The VM is created on the JVM thread, whose stack does not follow RLIMIT_STACK.
    {"StackLimit32KiB", TreeRuntime::Jdk, "app", nothing, limit(RLIMIT_STACK, 32 * 1024, false), {}, 0,
     {EXIT_AFTER_STARTUP}},
};

class HostileRun : public testing::TestWithParam<Hostile> {};

TEST_P(HostileRun, NoHangNoCrashNothingFromTheWorkingDirectory) {
    const Hostile& c = GetParam();
#ifdef CORVANE_HOSTILE_SANITIZED
    if (c.withoutProc) {
        GTEST_SKIP() << "a sanitizer runtime reads /proc itself and ends the process without it";
    }
#endif
    if (c.withoutProc && !canHideProc()) {
        GTEST_SKIP() << "no mount namespace with an empty /proc can be made here (unshare or mount refused)";
    }
    InstallTree tree(c.runtime, true, c.appName);
    std::vector<std::string> arguments = c.prepare(tree);
    RunOptions options;
    for (const auto& [key, value] : c.env) {
        options.set[key] = expand(value, tree);
    }
    options.workingDirectory = expand(c.workingDirectory, tree);
    options.inChild = c.inChild;
    // Generous: a hang shows as a timeout, not as a test that never ends.
    options.timeoutSeconds = 60;
    const std::string pidFile = tree.scratchDir() + "/shell.pid";
    const TreeRun run =
        c.ownPid ? tree.runThrough({"/bin/sh", "-c", "echo $$ >" + pidFile + " && exec \"$0\" \"$@\" --wait-for-pid $$"},
                                   {"--install"}, options)
                 : tree.run(arguments, options);

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, c.status) << joinLines(run.log) << run.err;
    const std::string pid = c.ownPid ? splitLines(readFile(pidFile)).at(0) : "";
    if (!c.messages.empty()) {
        std::vector<std::string> expected;
        for (const std::string& m : c.messages) {
            expected.push_back(expand(m, tree, pid));
        }
        const int first = run.find(expected[0]);
        ASSERT_GE(first, 0) << expected[0] << "\n" << joinLines(run.log) << run.err;
        std::vector<std::string> seen;
        for (std::size_t i = 0; i < expected.size() && first + i < run.log.size(); ++i) {
            const std::string& line = run.log[first + i];
            seen.push_back(TreeRun::matches(line, expected[i]) ? expected[i] : line.substr(0, expected[i].size()));
        }
        EXPECT_EQ(seen, expected) << joinLines(run.log) << run.err;
    }
    if (!c.onStderr.empty()) {
        EXPECT_EQ(occurrences(run.err, expand(c.onStderr, tree)), 1) << run.err;
    }
    const std::string report = readFile(tree.scratchDir() + "/report.txt");
    for (const std::string& line : c.reportHas) {
        EXPECT_EQ(occurrences(report, line), 1) << report;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileRun, testing::ValuesIn(ROWS), RowName());

}  // namespace
