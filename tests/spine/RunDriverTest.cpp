// The run driver through the real executable: --version, the program-arguments line and the
// course of a start in a tree without a Java runtime (which ends with status 53).
#include <gtest/gtest.h>

#include <unistd.h>

#include "SpineSupport.h"

using corvane::test::readFile;
using corvane::test::ScratchDir;

namespace {

const std::string VERSION_LINE = std::string("Corvane ") + CORVANE_TEST_VERSION + "\n";

// The messages of a start without a runtime, after the program-arguments line.
void expectStartWithoutRuntime(const std::vector<std::string>& messages, const std::string& argumentText) {
    ASSERT_EQ(messages.size(), 4u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0], "run Program arguments:  " + argumentText);
    EXPECT_EQ(messages[1].rfind("resolveJNICreateFunction Cannot load  ", 0), 0u) << messages[1];
    EXPECT_NE(messages[1].find("/jre/lib/server/libjvm.so :  "), std::string::npos) << messages[1];
    EXPECT_EQ(messages[2], "startJVM Failed to locate exported function to start VM");
    EXPECT_EQ(messages[3], "reportFatalAndExit Failed to start JVM");
}

TEST(SpineVersion, AnswersFromAnyPositionWithoutLogging) {
    const std::vector<std::vector<std::string>> cases = {
        {"--version"},
        {"some", "--version"},
        {"--log-native-to-stdout", "--jvm-args=/nowhere", "--version", "--version"},
        {"--wait-for-pid", std::to_string(::getpid()), "--version"},
        {"--version", "--log-native-to-stdout", "--VERSION"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        ScratchDir scratch("version");
        const auto result = corvane::test::runLauncher(arguments, {{"TEST_TMPDIR", scratch / "tmp"},
                                                           {"HOME", scratch / "home"}});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, VERSION_LINE);
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(spine::entriesOf(scratch.path()).empty()) << "a log directory was created";
    }
}

// Only the exact word from index 1 on counts: the program path and lookalikes start normally.
TEST(SpineVersion, LookalikesStartNormally) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"--version", {}}, {"corvane", {"--VERSION"}}, {"corvane", {"--Version"}}, {"corvane", {"--version="}},
        {"corvane", {"--version=1"}}, {"corvane", {"-version"}}, {"corvane", {"--version "}}};
    for (const auto& [argv0, arguments] : cases) {
        SCOPED_TRACE(argv0 + " " + ::testing::PrintToString(arguments));
        ScratchDir scratch("lookalike");
        const auto result =
            corvane::test::runLauncher(arguments, {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()}}, "", argv0);
        EXPECT_EQ(result.exitStatus, 53);
        EXPECT_EQ(result.out, "");
        expectStartWithoutRuntime(corvane::test::logMessagesOfLastRun(scratch / "corvane-native.log"),
                                  arguments.empty() ? "" : arguments[0] + " ");
    }
}

// Every argument from index 1 on, byte for byte, each followed by one blank; the launcher's own
// options included, and none of them changes the course of a start without a runtime.
TEST(SpineRun, ProgramArgumentsLineAndCourseOfAStart) {
    struct Case {
        std::vector<std::string> arguments;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"a"}, "a "},
        {{"two words", "", "x"}, "two words  x "},
        {{" lead", "trail ", "tab\there"}, " lead trail  tab\there "},
        {{"gr\xc3\xbc\xc3\x9f" "e", "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80"},
         "gr\xc3\xbc\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80 "},
        {{"--jvm-args", "--jvm-args=/no/such/file", "--jvm-args=", "--install", "--kill-wait-for-pid-target-on-timeout"},
         "--jvm-args --jvm-args=/no/such/file --jvm-args= --install --kill-wait-for-pid-target-on-timeout "},
        {{"--jvm-args=/no/such/file"}, "--jvm-args=/no/such/file "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        ScratchDir scratch("args");
        const auto result = corvane::test::runLauncher(c.arguments, {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()}});
        EXPECT_EQ(result.exitStatus, 53);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "") << "nothing reaches standard error without --log-native-to-stdout";
        const std::string log = readFile(scratch / "corvane-native.log");
        EXPECT_EQ(log.rfind(corvane::test::LOG_BANNER, 0), 0u);
        expectStartWithoutRuntime(corvane::test::messagesAfterLastBanner(log), c.text);
    }
}

// Without a loadable runtime the JVM thread never gets far; when the thread cannot even be
// created (its stack does not fit the address-space limit) the start still ends with 53.
TEST(SpineRun, JvmThreadThatCannotBeCreatedEndsWith53) {
#ifdef CORVANE_SPINE_SANITIZED
    GTEST_SKIP() << "an address-space limit breaks sanitizer runtimes";
#endif
    ScratchDir scratch("nothread");
    corvane::test::RunOptions options;
    options.set = {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()}};
    // The JVM thread's 8 MiB stack does not fit into 8 MiB of address space beside the launcher.
    const auto result = corvane::test::runProgram(
        "/bin/sh", {"-c", "ulimit -v 8192 && exec \"$0\"", corvane::test::launcherPath()},
        options);
    ASSERT_EQ(result.err, "");
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 53);
    const auto messages = corvane::test::logMessagesOfLastRun(scratch / "corvane-native.log");
    ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0], "run Program arguments:  ");
    EXPECT_EQ(messages[1].rfind("reportFatalAndExit Failed to start JVM", 0), 0u) << messages[1];
}

}  // namespace
