// waitForPid and parsePidText called directly, with short timeouts, so that the
// timeout and kill paths run in seconds instead of the launcher's 20.

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "WaitProcesses.h"
#include "launcher/PidText.h"
#include "launcher/WaitForPid.h"
#include "log/DumbLogger.h"
#include "support/TestSupport.h"

namespace {

using namespace corvane::waitpidtest;
using corvane::test::ScratchDir;

// ---------------------------------------------------------------------------
// The pid text

struct PidTextRow {
    const char* text;
    int pid;
    bool ignored;
};

TEST(PidText, ReadsOnlyPidsFromOneToIntMax) {
    const PidTextRow rows[] = {
        {"1234", 1234, false},
        {" \t\n\v\f\r1234", 1234, false},
        {"+1234", 1234, false},
        {"1234abc", 1234, false},
        {"12 34", 12, false},
        {"000000000000000000000000000042", 42, false},
        {"2147483647", 2147483647, false},
        {"1", 1, false},
        {"0", 0, false},      // no wait, but nothing wrong with the text either
        {"+0", 0, false},
        {"0x10", 0, false},   // decimal: the digits end at the "x"
        {"2147483648", 0, true},
        {"4294967295", 0, true},
        {"4294967297", 0, true},  // would narrow to 1
        {"99999999999", 0, true},
        {"184467440737095516161", 0, true},  // past unsigned long long too
        {"-1", 0, true},
        {"-0", 0, true},
        {" -5", 0, true},
        {"+-1", 0, true},
        {"++1", 0, true},
        {"- 1", 0, true},
        {"abc", 0, true},
        {"", 0, true},
        {"   ", 0, true},
        {"\xd9\xa3", 0, true},  // a non-ASCII digit
    };
    for (const PidTextRow& row : rows) {
        const corvane::launcher::PidText parsed = corvane::launcher::parsePidText(row.text);
        EXPECT_EQ(parsed.pid, row.pid) << "text [" << row.text << "]";
        EXPECT_EQ(!parsed.ignoredBecause.empty(), row.ignored) << "text [" << row.text << "]";
    }
}

// ---------------------------------------------------------------------------
// The wait

// Starts waitForPid in a child process of its own process group (so that a
// signal to pid 0 could only reach that child), logging to logDir. The child
// exits with the result's low byte.
pid_t startWaiter(int pid, int timeoutMs, bool kill, const std::string& logDir) {
    const pid_t waiter = ::fork();
    if (waiter == 0) {
        ::setpgid(0, 0);
        ::alarm(60);
        ::setenv("CORVANE_NATIVE_LOG_DIR_OVERRIDE", logDir.c_str(), 1);
        initialize_logging(false);
        ::_exit(corvane::launcher::waitForPid(pid, timeoutMs, kill) & 0xff);
    }
    return waiter;
}

struct WaitOutcome {
    int result = 99;  // 99: did not return
    int signal = 0;
};

WaitOutcome finishWaiter(pid_t waiter) {
    WaitOutcome outcome;
    int status = 0;
    ::waitpid(waiter, &status, 0);
    if (WIFEXITED(status)) {
        outcome.result = static_cast<signed char>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

enum class Kind { Living, EndingChild, EndingGrandchild, Zombie, NoProcess, PidZero };

struct WaitRow {
    const char* name;
    Kind kind;
    int endsAfterMs;  // for the ending kinds
    int timeoutMs;
    bool kill;
    Lines expected;   // "{pid}" is the awaited pid
    int result;
    Fate fate;        // what becomes of the awaited process
};

const Lines KILL_FAILED = {"waitForPid Failed to kill process  {pid}  on timeout"};

void PrintTo(const WaitRow& row, std::ostream* out) {
    *out << row.name;
}

class WaitForPidTable : public ::testing::TestWithParam<WaitRow> {};

TEST_P(WaitForPidTable, LogsReturnsAndLeavesTheProcessAsExpected) {
    const WaitRow& row = GetParam();
    ScratchDir logDir("waitpid-unit");
    Target target;
    switch (row.kind) {
        case Kind::Living: target = startLiving(); break;
        case Kind::EndingChild: target = startEndingChild(row.endsAfterMs); break;
        case Kind::EndingGrandchild: target = startEndingGrandchild(row.endsAfterMs); break;
        case Kind::Zombie: {
            target = startEndingChild(0);
            siginfo_t info {};  // until it has ended, without reaping it
            ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(target.pid), &info, WEXITED | WNOWAIT), 0);
            break;
        }
        case Kind::NoProcess: target.pid = pidOfNoProcess(); break;
        case Kind::PidZero: break;
    }
    ASSERT_TRUE(target.pid > 0 || row.kind == Kind::PidZero);

    const pid_t pid = target.pid;
    const WaitOutcome outcome = finishWaiter(startWaiter(pid, row.timeoutMs, row.kill, logDir.path()));
    const Fate fate = row.kind == Kind::NoProcess || row.kind == Kind::PidZero
                          ? Fate::Gone
                          : settle(target, row.fate == Fate::Killed ? 2000 : 0);

    EXPECT_EQ(outcome.signal, 0) << "the waiter itself was ended by a signal";
    EXPECT_EQ(outcome.result, row.result);
    Lines expected;
    for (const std::string& line : row.expected) {
        expected.push_back(expand(line, pid, 0));
    }
    EXPECT_TRUE(linesMatch(expected, waitLines(logDir.path())));
    EXPECT_STREQ(fateName(fate), fateName(row.fate));
}

const WaitRow WAIT_ROWS[] = {
    {"OutlivesWithoutKill", Kind::Living, 0, 3000, false,
     concat({WAITING, progressLines(3000), TIMEOUT, STILL_ALIVE}), -1, Fate::Running},
    {"OutlivesWithKill", Kind::Living, 0, 3000, true, concat({WAITING, progressLines(3000), TIMEOUT, KILLING}), 0,
     Fate::Killed},
    {"ZeroTimeoutTakesTheTimeoutPathWithoutProbe", Kind::Living, 0, 0, false,
     concat({WAITING, TIMEOUT, STILL_ALIVE}), -1, Fate::Running},
    {"NegativeTimeoutKillsAtOnce", Kind::Living, 0, -1000, true, concat({WAITING, TIMEOUT, KILLING}), 0,
     Fate::Killed},
    {"TimeoutOf1500GivesTwoProbes", Kind::Living, 0, 1500, false,
     concat({WAITING, progressLines(1500), TIMEOUT, STILL_ALIVE}), -1, Fate::Running},
    // No probe follows the last pause: an end inside it is still a timeout.
    {"EndDuringTheLastSecondIsATimeout", Kind::EndingGrandchild, 1500, 2000, false,
     concat({WAITING, progressLines(2000), TIMEOUT, STILL_ALIVE}), -1, Fate::Gone},
    // Unreaped, it still takes the kill signal (which changes nothing).
    {"EndDuringTheLastSecondStillKills", Kind::EndingChild, 1500, 2000, true,
     concat({WAITING, progressLines(2000), TIMEOUT, KILLING}), 0, Fate::Exited},
    // A process that has ended but is not reaped yet has gone all the same.
    {"UnreapedZombieHasGone", Kind::Zombie, 0, 3000, true, concat({WAITING, GONE}), 0, Fate::Exited},
    {"ChildEndingMidWaitHasGoneWhileStillAZombie", Kind::EndingChild, 1500, 5000, true,
     concat({WAITING, progressLines(5000, 2), GONE}), 0, Fate::Exited},
    {"ReapedGrandchildEndingMidWaitHasGone", Kind::EndingGrandchild, 1500, 5000, true,
     concat({WAITING, progressLines(5000, 2), GONE}), 0, Fate::Gone},
    {"NoSuchProcessHasGoneAtOnce", Kind::NoProcess, 0, 3000, true, concat({WAITING, GONE}), 0, Fate::Gone},
    // Pid 0 would signal the caller's own process group.
    {"PidZeroIsNeverSignalled", Kind::PidZero, 0, 0, true, concat({WAITING, GONE}), 0, Fate::Gone},
};

INSTANTIATE_TEST_SUITE_P(Rows, WaitForPidTable, ::testing::ValuesIn(WAIT_ROWS), corvane::test::RowName());

// ---------------------------------------------------------------------------
// A pid that is reused while the wait is paused

bool logHas(const std::string& logDir, const std::string& wanted) {
    for (const std::string& line : waitLines(logDir)) {
        if (line.find(wanted) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Inside a pid namespace of its own, where no one else makes processes: the
// awaited process ends while the waiter is stopped in its last pause, and an
// unrelated process is given the same pid before the waiter goes on to kill.
TEST(WaitForPidRecycledPid, KillOnTimeoutNeverHitsTheProcessThatGotThePidNext) {
    ScratchDir logDir("waitpid-recycle");
    const std::string dir = logDir.path();
    // The body reports 10 * the awaited pid + a code.
    const SandboxResult sandbox = runInPidNamespace([&](pid_t) {
        Target target = startLiving();
        const int awaited = 10 * target.pid;
        const pid_t waiter = startWaiter(target.pid, 1000, true, dir);
        const long long giveUp = monotonicNs() + 5000000000LL;
        while (!logHas(dir, "is still running") && monotonicNs() < giveUp) {
            ::usleep(5000);
        }
        ::kill(waiter, SIGSTOP);
        ::kill(target.pid, SIGKILL);
        ::waitpid(target.pid, nullptr, 0);
        const std::string previous = std::to_string(target.pid - 1);
        const int lastPid = ::open("/proc/sys/kernel/ns_last_pid", O_WRONLY | O_CLOEXEC);
        const bool steered =
            lastPid >= 0 && ::write(lastPid, previous.data(), previous.size()) == static_cast<ssize_t>(previous.size());
        if (lastPid >= 0) {
            ::close(lastPid);
        }
        const Target recycled = startLiving();
        ::kill(waiter, SIGCONT);
        const WaitOutcome outcome = finishWaiter(waiter);
        const bool recycledAlive = ::waitpid(recycled.pid, nullptr, WNOHANG) == 0;
        if (!steered || recycled.pid != target.pid) {
            return awaited + 1;  // the pid could not be handed on
        }
        if (outcome.signal != 0) {
            return awaited + 2;
        }
        if (!recycledAlive) {
            return awaited + 3;  // the kill hit the wrong process
        }
        return awaited + (outcome.result == -2 ? 0 : 4);
    });
    if (!sandbox.available) {
        GTEST_SKIP() << "no new pid namespace can be made here";
    }
    const int awaited = sandbox.bodyStatus / 10;
    const int code = sandbox.bodyStatus % 10;
    ASSERT_NE(code, 1) << "ns_last_pid did not hand the pid on";
    EXPECT_EQ(code, 0) << "2: waiter killed, 3: the new owner of the pid was killed, 4: wrong result";
    Lines expected;
    for (const std::string& line : concat({WAITING, progressLines(1000), TIMEOUT, KILLING, KILL_FAILED})) {
        expected.push_back(expand(line, awaited, 0));
    }
    EXPECT_TRUE(linesMatch(expected, waitLines(dir)));
}

}  // namespace
