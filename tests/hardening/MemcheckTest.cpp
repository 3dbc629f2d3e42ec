// The launcher under valgrind's memcheck, against the fake runtime of
// tests/fakejvm: every start road that the fake can drive, from a full start
// (options built, VM "created", option texts freed, entry called) to the fatal
// exits. Memcheck must see no invalid access and no definite leak; a definite
// leak counts as an error (--errors-for-leak-kinds=definite), so valgrind's
// own exit status 1 (--error-exitcode=1) also reports it.
//
// The launcher's own status 1 (unusable log directory) cannot be confused with
// valgrind's: no row here expects 1.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/InstallTree.h"

namespace {

using namespace corvane::test;

const char* const MEMCHECK_FLAGS[] = {"--error-exitcode=1", "--leak-check=full", "--errors-for-leak-kinds=definite",
                                      "--show-leak-kinds=definite"};

// valgrind on PATH, or empty.
std::string findValgrind() {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string candidate = dirs.substr(start, end - start) + "/valgrind";
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return "";
}

// What memcheck wrote at the end of a run.
struct MemcheckReport {
    bool complete = false;  // the "ERROR SUMMARY" line is there
    long errors = -1;       // its error count
    bool invalidAccess = false;
};

MemcheckReport readReport(const std::string& logPath) {
    const std::string text = readFile(logPath);
    MemcheckReport report;
    std::smatch match;
    if (std::regex_search(text, match, std::regex("ERROR SUMMARY: ([0-9,]+) errors"))) {
        report.complete = true;
        std::string digits = match[1];
        digits.erase(std::remove(digits.begin(), digits.end(), ','), digits.end());
        report.errors = std::stol(digits);
    }
    report.invalidAccess = std::regex_search(
        text, std::regex("Invalid (read|write|free)|uninitialised value|Mismatched free|Source and destination overlap"));
    return report;
}

struct MemcheckRow {
    const char* name;
    std::map<std::string, std::string> knobs;  // FAKEJVM_* settings
    bool withoutManifest;                      // remove lib/manifest-bootstrap.txt
    std::string manifest;                      // written when not empty
    int status;                                // launcher's exit status; -1: it parks and is ended by SIGTERM
    std::string lastMessage;                   // the last message of the native log; "{L}": the lib directory
    // A suppression file of this folder for a leak that the row accepts, or empty.
    const char* suppressions;
};

void PrintTo(const MemcheckRow& row, std::ostream* os) {
    *os << row.name;
}

class Memcheck : public testing::TestWithParam<MemcheckRow> {};

// Starts valgrind with the launcher, waits for the launcher to park its main
// thread, ends it with SIGTERM (memcheck still does its leak check) and
// returns the wait status, or -1 when it did not park.
int runUntilParkedThenTerminate(const std::string& valgrind, const std::vector<std::string>& arguments,
                                const RunOptions& options, const std::string& logFile, std::string& problem) {
    const pid_t child = startProgram(valgrind, arguments, options);
    if (child < 0) {
        problem = "fork failed";
        return -1;
    }
    // A deadline so that a launcher which never parks cannot hang the test;
    // how long the start takes is not checked.
    bool parked = false;
    int status = 0;
    for (int i = 0; i < 1800 && !parked; ++i) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            problem = "the launcher ended instead of parking";
            return status;
        }
        parked = readFile(logFile).find("run Entering dummy main loop\n") != std::string::npos;
        if (!parked) {
            ::usleep(100000);
        }
    }
    if (!parked) {
        problem = "the launcher did not park within 180 s";
    }
    ::kill(child, SIGTERM);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

TEST_P(Memcheck, NoInvalidAccessNoDefiniteLeak) {
    const MemcheckRow& row = GetParam();
    const std::string valgrind = findValgrind();
    ASSERT_FALSE(valgrind.empty()) << "valgrind is not on PATH; install it (tools/run-tests does: apt-get install "
                                      "valgrind). This test must not pass without it.";

    const FakeRuntimeTree fake;
    const InstallTree& tree = fake.tree;
    if (row.withoutManifest) {
        ASSERT_EQ(::unlink((tree.libDir() + "manifest-bootstrap.txt").c_str()), 0);
    }
    if (!row.manifest.empty()) {
        tree.writeManifest(row.manifest);
    }
    const std::string memcheckLog = tree.writeScratchFile("memcheck.log", "");
    // A JVM arguments file with an empty line and a CRLF line, and arguments
    // that need the modified UTF-8 conversion (a surrogate pair, an invalid byte).
    const std::string argsFile = tree.writeScratchFile("jvm.args", "-Dfirst=1\n\n-Dcrlf=2\r\n");

    std::vector<std::string> valgrindArgs(std::begin(MEMCHECK_FLAGS), std::end(MEMCHECK_FLAGS));
    valgrindArgs.push_back("--log-file=" + memcheckLog);
    if (row.suppressions != nullptr) {
        valgrindArgs.push_back(std::string("--suppressions=") + CORVANE_TEST_SOURCE_DIR + "/tests/hardening/" +
                          row.suppressions);
    }
    valgrindArgs.push_back(tree.launcher());
    const std::vector<std::string> launcherArgs = {"--jvm-args=" + argsFile, "party \xF0\x9F\x8E\x89", "bad\xFF", ""};
    valgrindArgs.insert(valgrindArgs.end(), launcherArgs.begin(), launcherArgs.end());

    RunOptions options;
    options.set = row.knobs;
    options.set["FAKEJVM_RECORD"] = fake.recordPath;
    options.set["CORVANE_NATIVE_LOG_DIR_OVERRIDE"] = tree.logDir();
    options.timeoutSeconds = 240;
    if (row.status >= 0) {
        const RunResult run = runProgram(valgrind, valgrindArgs, options);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitStatus, row.status)
            << "status 1 is valgrind's error exit code\n" << readFile(memcheckLog) << run.err;
    } else {
        std::string problem;
        const int status = runUntilParkedThenTerminate(valgrind, valgrindArgs, options, tree.logFile(), problem);
        EXPECT_EQ(problem, "");
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "wait status " << status;
    }

    const MemcheckReport report = readReport(memcheckLog);
    ASSERT_TRUE(report.complete) << "memcheck wrote no summary:\n" << readFile(memcheckLog);
    EXPECT_FALSE(report.invalidAccess) << readFile(memcheckLog);
    EXPECT_EQ(report.errors, 0) << readFile(memcheckLog);

    // The launcher went the road the row is about.
    const std::vector<std::string> log = logMessagesOfLastRun(tree.logFile());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), replaceAll(row.lastMessage, "{L}", tree.libDir())) << joinLines(log);
    EXPECT_FALSE(fake.recorded("violation")) << readFile(fake.recordPath);
}

const std::string JVM_FAILED = "reportFatalAndExit Failed to start JVM";

INSTANTIATE_TEST_SUITE_P(
    Rows, Memcheck,
    testing::Values(
        // A full start: the hooks are called during creation (a short and a
        // 2000-character VM message, exit and abort), the option texts are
        // freed, the entry method gets six arguments and returns 1.
        MemcheckRow{"FullStartExitAfterStartup",
                    {{"FAKEJVM_ENTRY_RESULT", "1"}, {"FAKEJVM_HOOKS", "1"}},
                    false, "", 0, "operator() JVM exit after startup is set, exiting", nullptr},
        // Entry result 0: the main thread parks; SIGTERM ends it, and the leak
        // check runs with run's frame (the argument list) still alive.
        MemcheckRow{"ParkedMainThread", {{"FAKEJVM_ENTRY_RESULT", "0"}, {"FAKEJVM_HOOKS", "1"}}, false, "", -1,
                    "run Entering dummy main loop", nullptr},
        MemcheckRow{"NegativeEntryResult", {{"FAKEJVM_ENTRY_RESULT", "-1"}}, false, "", 255,
                    "operator() JVM main ended", nullptr},
        MemcheckRow{"EntryThrows", {{"FAKEJVM_ENTRY_THROWS", "1"}}, false, "", 108,
                    "reportFatalAndExit Failed to initialize Corvane JVM application: 108", nullptr},
        // The fatal exits happen on the JVM thread while the main thread waits
        // in the join: what they leave is "still reachable" or "possibly lost".
        // A failed creation leaves the option texts unfreed (they are released
        // only after a successful creation) and the process ends at once: that
        // one leak is accepted by the suppression file, and no other.
        MemcheckRow{"CreationFails", {{"FAKEJVM_CREATE_RESULT", "-6"}}, false, "", 53, JVM_FAILED,
                    "memcheck-failed-creation.supp"},
        MemcheckRow{"ManifestMissing", {}, true, "", 51,
                    "reportFatalAndExit Bootstrap manifest is missing or not accessible: {L}manifest-bootstrap.txt",
                    nullptr},
        MemcheckRow{"ManifestEntryMissing", {}, false, "corvane-testapp.jar\nmissing.jar\n", 52,
                    "reportFatalAndExit Bootstrap manifest entry does not exist: {L}missing.jar", nullptr}),
    RowName());

}  // namespace
