// The launcher run end to end with "--wait-for-pid". No runtime is found, so
// every start ends with status 53 after "Failed to start JVM": that is how far
// these runs go, and it shows that the start went on after the wait.

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WaitProcesses.h"
#include "support/TestSupport.h"

namespace {

using namespace corvane::waitpidtest;
using corvane::test::RunOptions;
using corvane::test::ScratchDir;

constexpr int NO_VM = 53;
const char* const LAST_LINE = "reportFatalAndExit Failed to start JVM";
const Lines NONE = {};

Lines ignoring(const std::string& text) {
    return {"getCommandLineWaitForPid Ignoring --wait-for-pid value '" + text + "'..."};
}

// One launcher run's place: a log directory and an empty install directory,
// so that no runtime is ever found next to the executable under test.
struct Places {
    ScratchDir logDir{"waitpid-log"};
    ScratchDir installDir{"waitpid-install"};

    std::map<std::string, std::string> env() const {
        return {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", logDir.path()},
                {"CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE", installDir.path()}};
    }
    std::string logFile() const { return logDir / "corvane-native.log"; }
};

enum class Kind { None, NoProcess, Living, EndsSoon, EndsLateChild, EndsLateGrandchild };

constexpr int SOON_MS = 600;
constexpr int LATE_MS = 2500;  // three probes, at 0, 1 and 2 s; gone at the fourth

struct LauncherRow {
    const char* name;
    Kind kind;
    Lines args;      // "{pid}": the awaited process; "{other}": a bystander that keeps running
    Lines expected;  // the lines of the wait, in order
    Fate fate;       // what becomes of the awaited process
    bool sandboxed;  // run in a pid namespace of its own, next to a sibling that must survive
    const char* argv0;
};

void PrintTo(const LauncherRow& row, std::ostream* out) {
    *out << row.name;
}

class WaitForPidLauncher : public ::testing::TestWithParam<LauncherRow> {};

TEST_P(WaitForPidLauncher, WaitsAsTheCommandLineSaysAndThenStarts) {
    const LauncherRow& row = GetParam();
    Places places;
    Target target;
    switch (row.kind) {
        case Kind::None: break;
        case Kind::NoProcess: target.pid = pidOfNoProcess(); break;
        case Kind::Living: target = startLiving(); break;
        case Kind::EndsSoon: target = startEndingChild(SOON_MS); break;
        case Kind::EndsLateChild: target = startEndingChild(LATE_MS); break;
        case Kind::EndsLateGrandchild: target = startEndingGrandchild(LATE_MS); break;
    }
    ASSERT_TRUE(target.pid > 0 || row.kind == Kind::None);
    Target bystander = startLiving();
    Lines args;
    for (const std::string& arg : row.args) {
        args.push_back(expand(arg, target.pid, bystander.pid));
    }
    const std::optional<std::string> argv0 =
        row.argv0 != nullptr ? std::optional<std::string>(row.argv0) : std::nullopt;

    int exitStatus = -1;
    long long launcherEndNs = 0;
    if (row.sandboxed) {
        const SandboxResult sandbox = runInPidNamespace([&](pid_t) {
            return corvane::test::runLauncher(args, places.env(), "", argv0).exitStatus;
        });
        if (!sandbox.available) {
            settle(bystander);
            GTEST_SKIP() << "no new pid namespace can be made here";
        }
        exitStatus = sandbox.bodyStatus;
        EXPECT_TRUE(sandbox.siblingAlive) << "a process next to the launcher was signalled";
    } else {
        const corvane::test::RunResult run = corvane::test::runLauncher(args, places.env(), "", argv0);
        launcherEndNs = monotonicNs();
        exitStatus = run.exitStatus;
        EXPECT_FALSE(run.timedOut);
    }

    EXPECT_EQ(exitStatus, NO_VM);
    const Lines messages = corvane::test::logMessagesOfLastRun(places.logFile());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), LAST_LINE);
    Lines expected;
    for (const std::string& line : row.expected) {
        expected.push_back(expand(line, target.pid, bystander.pid));
    }
    EXPECT_TRUE(linesMatch(expected, waitLines(places.logDir.path())));

    if (row.kind == Kind::EndsLateChild || row.kind == Kind::EndsLateGrandchild) {
        // The launcher goes on when the process ends, not at the next whole
        // second (half a second later here). Loose: it only has to beat that.
        const std::optional<long long> endNs = endTimeNs(target);
        ASSERT_TRUE(endNs.has_value()) << "the awaited process did not end by itself";
        EXPECT_LT((launcherEndNs - *endNs) / 1000000, 300) << "ms from the end of the awaited process to the launcher's end";
    }
    if (row.kind != Kind::None && row.kind != Kind::NoProcess) {
        EXPECT_STREQ(fateName(settle(target)), fateName(row.fate));
    }
    EXPECT_STREQ(fateName(settle(bystander)), fateName(Fate::Running));
}

const Lines PROBE_AND_GONE = concat({WAITING, progressLines(20000, 1), GONE});

const LauncherRow LAUNCHER_ROWS[] = {
    {"NoOption", Kind::None, {"--log-native-to-stdout"}, NONE, Fate::Other, false, nullptr},
    {"OptionLast", Kind::None, {"--install", "--wait-for-pid"}, NONE, Fate::Other, true, nullptr},
    {"FollowedByZero", Kind::None, {"--wait-for-pid", "0", "--install"}, NONE, Fate::Other, true, nullptr},
    {"KillFlagsWithoutTheOption", Kind::None, {"--install", "--kill-wait-for-pid-target-on-timeout"}, NONE,
     Fate::Other, true, nullptr},
    {"ProgramPathIsNeverTheOption", Kind::Living, {"{pid}", "--install"}, NONE, Fate::Running, false,
     "--wait-for-pid"},
    // Texts that are no pid: nothing is waited for and nothing is signalled.
    {"MinusOne", Kind::None, {"--install", "--wait-for-pid", "-1"}, ignoring("-1"), Fate::Other, true, nullptr},
    {"WrapsToMinusOne", Kind::None, {"--install", "--wait-for-pid", "4294967295"}, ignoring("4294967295"),
     Fate::Other, true, nullptr},
    {"Letters", Kind::None, {"--install", "--wait-for-pid", "abc"}, ignoring("abc"), Fate::Other, true, nullptr},
    {"EleventhDigit", Kind::None, {"--install", "--wait-for-pid", "99999999999"}, ignoring("99999999999"),
     Fate::Other, true, nullptr},
    {"JustAboveIntMax", Kind::None, {"--install", "--wait-for-pid", "2147483648"}, ignoring("2147483648"),
     Fate::Other, true, nullptr},
    {"EmptyText", Kind::None, {"--install", "--wait-for-pid", ""}, ignoring(""), Fate::Other, true, nullptr},
    {"ValueIsTheOptionAgain", Kind::Living, {"--wait-for-pid", "--wait-for-pid", "{pid}", "--install"},
     ignoring("--wait-for-pid"), Fate::Running, false, nullptr},
    {"NoSuchProcess", Kind::NoProcess, {"--wait-for-pid", "{pid}", "--install"}, concat({WAITING, GONE}),
     Fate::Gone, false, nullptr},
    // Decorated pid texts: the digits are the pid. The process ends by itself;
    // the kill flags only matter at a timeout.
    {"LeadingBlanks", Kind::EndsSoon, {"--wait-for-pid", " \t{pid}"}, PROBE_AND_GONE, Fate::Exited, false,
     nullptr},
    {"PlusSign", Kind::EndsSoon, {"--install", "--wait-for-pid", "+{pid}"}, PROBE_AND_GONE, Fate::Exited, false,
     nullptr},
    {"TrailingLetters", Kind::EndsSoon, {"--wait-for-pid", "{pid}abc", "--kill-wait-for-pid-target-on-timeout"},
     PROBE_AND_GONE, Fate::Exited, false, nullptr},
    {"FirstOptionWins", Kind::EndsSoon, {"--wait-for-pid", "{pid}", "--wait-for-pid", "{other}"}, PROBE_AND_GONE,
     Fate::Exited, false, nullptr},
    // Ends during the third pause: as a child of the test it stays a zombie
    // until the test reaps it; as an orphan it is reaped by whoever adopts it.
    {"EndsAfter2500AsUnreapedChild", Kind::EndsLateChild, {"--wait-for-pid", "{pid}"},
     concat({WAITING, progressLines(20000, 3), GONE}), Fate::Exited, false, nullptr},
    {"EndsAfter2500AsOrphan", Kind::EndsLateGrandchild, {"--wait-for-pid", "{pid}", "--install"},
     concat({WAITING, progressLines(20000, 3), GONE}), Fate::Gone, false, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Rows, WaitForPidLauncher, ::testing::ValuesIn(LAUNCHER_ROWS), corvane::test::RowName());

// ---------------------------------------------------------------------------
// The one slow case: a process that outlives the 20 s. Three launchers wait at
// once, without and with each kill flag.

pid_t startLauncherQuietly(const Lines& args, const Places& places) {
    RunOptions options;
    options.set = places.env();
    return corvane::test::startProgram(corvane::test::launcherPath(), args, options);
}

TEST(WaitForPidLauncherSlow, ProcessOutlivingTheWaitIsKilledOnlyWithAKillFlag) {
    struct Case {
        const char* flag;
        Lines end;
        Fate fate;
    };
    const Case cases[] = {
        {nullptr, STILL_ALIVE, Fate::Running},
        {"--install", KILLING, Fate::Killed},
        {"--kill-wait-for-pid-target-on-timeout", KILLING, Fate::Killed},
    };
    struct Running {
        Places places;
        Target target;
        pid_t launcher = 0;
    };
    Running runs[std::size(cases)];
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        runs[i].target = startLiving();
        Lines args = {"--wait-for-pid", std::to_string(runs[i].target.pid)};
        if (cases[i].flag != nullptr) {
            args.push_back(cases[i].flag);
        }
        runs[i].launcher = startLauncherQuietly(args, runs[i].places);
    }
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        const std::string flag = cases[i].flag != nullptr ? cases[i].flag : "no kill flag";
        EXPECT_EQ(corvane::test::finishChild(runs[i].launcher, 60), NO_VM) << flag;
        Lines expected;
        for (const std::string& line : concat({WAITING, progressLines(20000), TIMEOUT, cases[i].end})) {
            expected.push_back(expand(line, runs[i].target.pid, 0));
        }
        EXPECT_TRUE(linesMatch(expected, waitLines(runs[i].places.logDir.path()))) << flag;
        const Lines messages = corvane::test::logMessagesOfLastRun(runs[i].places.logFile());
        EXPECT_TRUE(!messages.empty() && messages.back() == LAST_LINE) << flag;
        EXPECT_STREQ(fateName(settle(runs[i].target, cases[i].fate == Fate::Killed ? 2000 : 0)),
                     fateName(cases[i].fate))
            << flag;
    }
}

}  // namespace
