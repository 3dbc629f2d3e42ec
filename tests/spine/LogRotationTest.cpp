// The log stays bounded: above 10 MiB at start-up it is renamed to
// "corvane-native.log.1" and a new one begun, once, even when launchers start
// together or one is still running; no line is lost on the way.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SpineSupport.h"
#include "log/LogFile.h"

using corvane::test::readFile;
using corvane::test::ScratchDir;

namespace {

const std::string LOG_NAME = "corvane-native.log";
const off_t LIMIT = off_t{10} * 1024 * 1024;  // written out: the size the launcher promises

// The messages of one process in a log file, in order; other lines are skipped.
std::vector<std::string> messagesOf(const std::string& file, long pid) {
    std::vector<std::string> messages;
    for (const std::string& line : corvane::test::splitLines(readFile(file))) {
        const auto parsed = corvane::test::parseLogLine(line);
        if (parsed && parsed->pid == pid) {
            messages.push_back(parsed->message);
        }
    }
    return messages;
}

off_t sizeOf(const std::string& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_size : -1;
}

// Makes `file` `size` bytes long (sparse: nothing is written).
void makeSize(const std::string& file, off_t size) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

corvane::test::RunOptions optionsFor(const ScratchDir& scratch) {
    corvane::test::RunOptions options;
    options.set = {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()},
                   {"CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE", scratch.path()}};
    return options;
}

const std::vector<std::string> A_RUN_WITHOUT_RUNTIME = {"run Program arguments:  ",
                                                        "resolveJNICreateFunction Cannot load  ",
                                                        "startJVM Failed to locate exported function to start VM",
                                                        "reportFatalAndExit Failed to start JVM"};

// Every one of `messages` begins like the line of `expected` at its place.
void expectRun(const std::vector<std::string>& messages, const std::vector<std::string>& expected) {
    ASSERT_EQ(messages.size(), expected.size()) << ::testing::PrintToString(messages);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(messages[i].substr(0, expected[i].size()), expected[i]);
    }
}

TEST(SpineLogRotation, RenamedOnceAboveTheLimit) {
    ASSERT_EQ(corvane::log::LOG_ROTATE_BYTES, LIMIT);
    struct Case {
        const char* name;
        off_t size;          // of the log before the start
        bool olderRotated;   // a "corvane-native.log.1" exists already
        int starters;        // launchers started at once
        bool rotated;
    };
    const std::vector<Case> cases = {
        {"at the limit", LIMIT, true, 1, false},
        {"above the limit, older one replaced", LIMIT + 1, true, 1, true},
        {"three starting together", LIMIT + 5, false, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch("rotate");
        const std::string log = scratch / LOG_NAME;
        makeSize(log, c.size);
        if (c.olderRotated) {
            corvane::test::writeFile(log + ".1", "older\n");
        }
        std::vector<pid_t> starters;
        for (int i = 0; i < c.starters; ++i) {
            starters.push_back(corvane::test::startProgram(corvane::test::launcherPath(), {}, optionsFor(scratch)));
        }
        for (const pid_t pid : starters) {
            EXPECT_EQ(corvane::test::finishChild(pid, 60), 53);
        }
        if (c.rotated) {
            EXPECT_EQ(sizeOf(log + ".1"), c.size) << "the old log, renamed once";
            EXPECT_LT(sizeOf(log), 64 * 1024);
            EXPECT_EQ(readFile(log).rfind(corvane::test::LOG_BANNER, 0), 0u) << "the new log begins with the banner";
        } else {
            EXPECT_GT(sizeOf(log), c.size);
            EXPECT_EQ(readFile(log + ".1"), "older\n");
        }
        for (const pid_t pid : starters) {
            expectRun(messagesOf(log, pid), A_RUN_WITHOUT_RUNTIME);
        }
    }
}

// A launcher still running (waiting for a pid) when another one rotates the
// log: its lines before the rename are in the old log, the later ones in the
// new log, and together they are complete.
TEST(SpineLogRotation, RunningLauncherLosesNoLine) {
    ScratchDir scratch("running");
    const std::string log = scratch / LOG_NAME;
    const pid_t sleeper = corvane::test::startProgram("/bin/sleep", {"120"});
    const pid_t waiting = corvane::test::startProgram(
        corvane::test::launcherPath(), {"--wait-for-pid", std::to_string(sleeper)}, optionsFor(scratch));
    const std::string progress = "waitForPid Process " + std::to_string(sleeper) + " is still running. Waiting ";
    for (int i = 0; i < 400 && messagesOf(log, waiting).size() < 3; ++i) {
        ::usleep(50000);
    }
    ASSERT_GE(messagesOf(log, waiting).size(), 3u) << "the waiting launcher has not logged its first probe";
    {
        // Grow the log past the limit with whole lines that no launcher wrote.
        const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        const std::string padding(LIMIT, '\n');
        ASSERT_EQ(::write(fd, padding.data(), padding.size()), static_cast<ssize_t>(padding.size()));
        ::close(fd);
    }
    const pid_t rotating = corvane::test::startProgram(corvane::test::launcherPath(), {}, optionsFor(scratch));
    EXPECT_EQ(corvane::test::finishChild(rotating, 60), 53);
    ::kill(sleeper, SIGKILL);
    corvane::test::finishChild(sleeper);
    EXPECT_EQ(corvane::test::finishChild(waiting, 60), 53);

    const std::vector<std::string> before = messagesOf(log + ".1", waiting);
    const std::vector<std::string> after = messagesOf(log, waiting);
    ASSERT_GE(before.size(), 3u);
    ASSERT_FALSE(after.empty()) << "the lines after the rename went to the new log";
    std::vector<std::string> all = before;
    all.insert(all.end(), after.begin(), after.end());
    const std::size_t probes = all.size() - 6;
    std::vector<std::string> expected = {"run Program arguments:  --wait-for-pid " + std::to_string(sleeper) + " ",
                                         "waitForPid Waiting for pid " + std::to_string(sleeper) + " to exit"};
    for (std::size_t i = 0; i < probes; ++i) {
        expected.push_back(progress + std::to_string(20000 - 1000 * static_cast<int>(i)) + " ms");
    }
    expected.push_back("waitForPid Process " + std::to_string(sleeper) + " has gone or not accessible");
    expected.insert(expected.end(), A_RUN_WITHOUT_RUNTIME.begin() + 1, A_RUN_WITHOUT_RUNTIME.end());
    expectRun(all, expected);
    expectRun(messagesOf(log, rotating), A_RUN_WITHOUT_RUNTIME);
}

}  // namespace
