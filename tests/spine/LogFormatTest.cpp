// The bytes of the native log: line format, banner, console copy, how a statement joins its
// pieces, and log calls nested inside the logger.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <set>

#include <fcntl.h>
#include <unistd.h>

#include "SpineSupport.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "log/FatalDialog.h"

using corvane::test::readFile;
using corvane::test::ScratchDir;
using corvane::test::splitLines;

namespace {

// Local time 10:30 ahead of UTC, so that a line stamped in UTC is caught.
const char* const ZONE = "<+1030>-10:30";
const long ZONE_OFFSET = 10 * 3600 + 30 * 60;

long secondsOf(const std::string& timestamp) {
    std::tm fields{};
    fields.tm_year = std::stoi(timestamp.substr(0, 4)) - 1900;
    fields.tm_mon = std::stoi(timestamp.substr(5, 2)) - 1;
    fields.tm_mday = std::stoi(timestamp.substr(8, 2));
    fields.tm_hour = std::stoi(timestamp.substr(11, 2));
    fields.tm_min = std::stoi(timestamp.substr(14, 2));
    fields.tm_sec = std::stoi(timestamp.substr(17, 2));
    return static_cast<long>(::timegm(&fields)) - ZONE_OFFSET;
}

// Two runs into one log that already holds a line: each run appends its banner and lines, the
// console gets exactly the lines (not the banner), and every line has the full format.
TEST(SpineLogFormat, LinesBannerAndConsoleCopy) {
    ScratchDir scratch("format");
    const std::string logFile = scratch / "corvane-native.log";
    ASSERT_TRUE(corvane::test::writeFile(logFile, "earlier line\n"));
    const std::map<std::string, std::string> env = {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()},
                                                    {"TZ", ZONE}};
    std::string expected = "earlier line\n";
    std::set<long> pids;
    for (int runIndex = 0; runIndex < 2; ++runIndex) {
        SCOPED_TRACE(runIndex);
        const long before = static_cast<long>(std::time(nullptr));
        const auto result = corvane::test::runLauncher({"--log-native-to-stdout", "x y"}, env);
        const long after = static_cast<long>(std::time(nullptr));
        EXPECT_EQ(result.exitStatus, 53);
        EXPECT_EQ(result.out, "");
        expected += corvane::test::LOG_BANNER + result.err;
        ASSERT_EQ(readFile(logFile), expected) << "the console copy differs from the file";

        const auto lines = splitLines(result.err);
        ASSERT_EQ(lines.size(), 4u) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
        for (const std::string& line : lines) {
            SCOPED_TRACE(line);
            const auto parsed = corvane::test::parseLogLine(line);
            ASSERT_TRUE(parsed.has_value());
            EXPECT_EQ(parsed->pid, corvane::test::parseLogLine(lines[0])->pid);
            const long stamped = secondsOf(parsed->timestamp);
            EXPECT_GE(stamped, before - 5);
            EXPECT_LE(stamped, after + 5);
        }
        EXPECT_EQ(corvane::test::parseLogLine(lines[0])->message, "run Program arguments:  --log-native-to-stdout x y ");
        // The tag is followed by the message's own blank: eighteen blanks after "(native)".
        EXPECT_NE(lines[3].find("(native)" + std::string(18, ' ') + "reportFatalAndExit Failed to start JVM"),
                  std::string::npos);
        pids.insert(corvane::test::parseLogLine(lines[0])->pid);
    }
    EXPECT_EQ(pids.size(), 2u) << "each run carries its own pid";
}

// A statement's text: one blank before the function name and before every piece.
int logJoinCases() {
    CORVANE_LOG(INFO) << "before initialize_logging";
    initialize_logging(true);
    CORVANE_LOG(INFO);
    CORVANE_LOG(INFO) << "";
    CORVANE_LOG(INFO) << "a" << "" << "b";
    CORVANE_LOG(WARNING) << "Failed to kill process " << 4242;
    CORVANE_LOG(INFO) << -1 << 0 << INT_MIN << INT_MAX;
    CORVANE_LOG(INFO) << std::string("  inner  blanks  ") << std::string();
    CORVANE_LOG(DEBUG) << "same" << 1;
    CORVANE_LOG(ERROR) << "same" << 1;
    CORVANE_LOG(INFO) << "ends in a line feed\n";
    CORVANE_LOG(INFO) << "two\nlines";
    reportFatalAndExit("", 7, true);
}

TEST(SpineLogFormat, StatementJoinsPiecesAndFatalExitEnds) {
    ScratchDir scratch("join");
    const std::string errFile = scratch / "stderr.txt";
    const pid_t child = spine::startChild([&] {
        const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::dup2(fd, 2) < 0) {
            return 90;
        }
        ::setenv("CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path().c_str(), 1);
        return logJoinCases();
    });
    EXPECT_EQ(corvane::test::finishChild(child), 7);
    const std::string log = readFile(scratch / "corvane-native.log");
    ASSERT_EQ(log.rfind(corvane::test::LOG_BANNER, 0), 0u);
    EXPECT_EQ(log.substr(corvane::test::LOG_BANNER.size()), readFile(errFile));
    const std::vector<std::string> expected = {
        "logJoinCases",
        "logJoinCases ",
        "logJoinCases a  b",
        "logJoinCases Failed to kill process  4242",
        "logJoinCases -1 0 -2147483648 2147483647",
        "logJoinCases   inner  blanks   ",
        "logJoinCases same 1",
        "logJoinCases same 1",
        "logJoinCases ends in a line feed\n",
        "logJoinCases two\nlines",
        "reportFatalAndExit ",
    };
    EXPECT_EQ(corvane::test::messagesAfterLastBanner(log), expected);
    EXPECT_NE(log.find(" ends in a line feed\n\n"), std::string::npos) << "a piece's line feed leaves an empty line";
}

// A signal handler that logs, as a crash handler would: with standard error a pipe
// nobody reads, each console copy raises SIGPIPE on the logging thread, so every
// line makes one more log call from inside the logger.
void logFromSignalHandler(int) {
    CORVANE_LOG(INFO) << "echo";
}

// Two levels of nesting are admitted, the third is dropped (no endless recursion), and the
// thread's depth is back to zero afterwards.
TEST(SpineLogFormat, NestedLogCallsStopAtTwoLevels) {
    ScratchDir scratch("nested");
    const pid_t child = spine::startChild([&] {
        ::setenv("CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path().c_str(), 1);
        int unread[2];
        if (::pipe(unread) != 0 || ::dup2(unread[1], STDERR_FILENO) < 0) {
            return 92;
        }
        ::close(unread[0]);
        // SA_NODEFER: the handler's own console copy re-enters it at once, one level deeper.
        struct sigaction action {};
        action.sa_handler = logFromSignalHandler;
        action.sa_flags = SA_NODEFER;
        ::sigaction(SIGPIPE, &action, nullptr);
        initialize_logging(true);
        CORVANE_LOG(INFO) << "outer";
        CORVANE_LOG(INFO) << "again";
        return 0;
    });
    ASSERT_EQ(corvane::test::finishChild(child), 0);
    const std::string log = readFile(scratch / "corvane-native.log");
    EXPECT_EQ(corvane::test::messagesAfterLastBanner(log),
              (std::vector<std::string>{"operator() outer", "logFromSignalHandler echo", "operator() again",
                                        "logFromSignalHandler echo"}));
}

}  // namespace
