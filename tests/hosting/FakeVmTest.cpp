// Hosting through the fake runtime of tests/fakejvm, only for what a real VM
// cannot be made to do: a broken library, failed creation, attach and class
// lookups, failing argument-array steps, and a look at exactly what the
// launcher hands to JNI_CreateJavaVM and NewStringUTF.

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/InstallTree.h"

namespace {

using namespace corvane::test;

// Messages after "Program arguments", in order.
std::vector<std::string> afterArguments(const TreeRun& run) {
    const int at = run.find("run Program arguments:");
    return at < 0 ? run.log : std::vector<std::string>(run.log.begin() + at + 1, run.log.end());
}

TEST(FakeVm, NoRuntimeLibraryLogsTheLoaderReason) {
    InstallTree tree(TreeRuntime::None);
    const TreeRun run = tree.run();
    EXPECT_EQ(run.exitStatus, 53);
    const std::vector<std::string> lines = afterArguments(run);
    ASSERT_EQ(lines.size(), 3u) << joinLines(run.log);
    const std::string path = tree.root() + "/jre/lib/server/libjvm.so";
    EXPECT_EQ(lines[0].rfind("resolveJNICreateFunction Cannot load  " + path + " :  " + path + ": ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "startJVM Failed to locate exported function to start VM");
    EXPECT_EQ(lines[2], "reportFatalAndExit Failed to start JVM");
}

TEST(FakeVm, LibraryWithoutCreateFunctionLogsOnlyTheError) {
    InstallTree tree(TreeRuntime::FakeJvmWithoutCreate);
    const TreeRun run = tree.run();
    EXPECT_EQ(run.exitStatus, 53);
    EXPECT_EQ(afterArguments(run), (std::vector<std::string>{"startJVM Failed to locate exported function to start VM",
                                                             "reportFatalAndExit Failed to start JVM"}));
}

TEST(FakeVm, FailedCreationLogsTheCodeAndIs53) {
    FakeRuntimeTree fake;
    const TreeRun run = fake.run({{"FAKEJVM_CREATE_RESULT", "-6"}});
    EXPECT_EQ(run.exitStatus, 53);
    const std::vector<std::string> lines = afterArguments(run);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{"startJVM Starting JVM", "startJVM Error creating VM: code= -6 . Exiting...\n",
                                        "reportFatalAndExit Failed to start JVM"}));
    EXPECT_FALSE(fake.recorded("violation")) << readFile(fake.recordPath);
}

// Failures of the entry call: each with its status, its messages in order
// (after "JVM calling main"), and whether the fake printed an exception.
struct EntryFailure {
    const char* name;
    std::map<std::string, std::string> knobs;
    int status;
    std::vector<std::string> messages;
    bool printed;
    bool entryCalled;
};

void PrintTo(const EntryFailure& c, std::ostream* os) {
    *os << c.name;
}

class FakeVmEntryFailure : public testing::TestWithParam<EntryFailure> {};

TEST_P(FakeVmEntryFailure, EndsWithItsStatus) {
    const EntryFailure& c = GetParam();
    FakeRuntimeTree fake;
    const TreeRun run = fake.run(c.knobs);
    EXPECT_EQ(run.exitStatus, c.status) << joinLines(run.log);
    const int at = run.find("operator() JVM calling main");
    ASSERT_GE(at, 0) << joinLines(run.log);
    std::vector<std::string> expected = c.messages;
    expected.push_back("operator() JVM main ended");
    expected.push_back("reportFatalAndExit Failed to initialize Corvane JVM application: " + std::to_string(c.status));
    EXPECT_EQ(std::vector<std::string>(run.log.begin() + at + 1, run.log.end()), expected);
    EXPECT_EQ(fake.recorded("printStackTrace"), c.printed) << readFile(fake.recordPath);
    EXPECT_EQ(fake.recorded("entry-called"), c.entryCalled);
    EXPECT_FALSE(fake.recorded("violation")) << readFile(fake.recordPath);
}

const std::string PASS_FAILED =
    "callMainMethod Failed to pass the program arguments to ' startCorvane ' on  CorvaneProcessEarlyEntry";

INSTANTIATE_TEST_SUITE_P(
    Table, FakeVmEntryFailure,
    testing::Values(
        EntryFailure{"AttachFails", {{"FAKEJVM_ATTACH_RESULT", "-1"}}, 103,
                     {"callMainMethod Failed to attach native thread to JVM"}, false, false},
        EntryFailure{"ClassNotFoundWithoutException", {{"FAKEJVM_FIND_ENTRY", "null"}}, 105,
                     {"callMainMethod Failed to find  CorvaneProcessEarlyEntry  class"}, false, false},
        EntryFailure{"ClassNotFoundWithException", {{"FAKEJVM_FIND_ENTRY", "exception"}}, 104,
                     {"callMainMethod Failed to find  CorvaneProcessEarlyEntry  class",
                      "callMainMethod Finding  CorvaneProcessEarlyEntry  class failed with exception!"},
                     true, false},
        EntryFailure{"ThrowableClassMissing", {{"FAKEJVM_FIND_ENTRY", "exception"}, {"FAKEJVM_THROWABLE", "missing"}},
                     104,
                     {"callMainMethod Failed to find  CorvaneProcessEarlyEntry  class",
                      "checkFailureAndLog Failed to find Throwable class",
                      "callMainMethod Finding  CorvaneProcessEarlyEntry  class failed with exception!"},
                     false, false},
        EntryFailure{"EntryThrows", {{"FAKEJVM_ENTRY_THROWS", "1"}, {"FAKEJVM_ENTRY_RESULT", "0"}}, 108,
                     {"callMainMethod Method ' startCorvane ' failed with exception!"}, true, true},
        EntryFailure{"EntryThrowsPrintStackTraceMissing",
                     {{"FAKEJVM_ENTRY_THROWS", "1"}, {"FAKEJVM_THROWABLE", "nomethod"}}, 108,
                     {"checkFailureAndLog Failed to find Throwable#printStackTrace class",
                      "callMainMethod Method ' startCorvane ' failed with exception!"},
                     false, true},
        EntryFailure{"ReturnsTwoWithException", {{"FAKEJVM_ENTRY_THROWS", "1"}, {"FAKEJVM_ENTRY_RESULT", "2"}}, 107,
                     {"callMainMethod Failed to invoke method ' startCorvane ' on the  CorvaneProcessEarlyEntry"},
                     false, true},
        EntryFailure{"StringClassLookupFails", {{"FAKEJVM_FAIL_AT", "stringclass"}}, 108, {PASS_FAILED}, true, false},
        EntryFailure{"ArrayAllocationFails", {{"FAKEJVM_FAIL_AT", "array"}}, 108, {PASS_FAILED}, true, false},
        EntryFailure{"StringCreationFails", {{"FAKEJVM_FAIL_AT", "string:0"}}, 108, {PASS_FAILED}, true, false},
        EntryFailure{"ElementStoreFails", {{"FAKEJVM_FAIL_AT", "store:0"}}, 108, {PASS_FAILED}, true, false}),
    RowName());

TEST(FakeVm, HooksLogTheVmsOutputExitAndAbort) {
    FakeRuntimeTree fake;
    const TreeRun run = fake.run({{"FAKEJVM_HOOKS", "1"}, {"FAKEJVM_HOOK_EXIT_CODE", "3"}});
    EXPECT_EQ(run.exitStatus, 0) << joinLines(run.log);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const std::string shortText = "fake vm says hello 42\n";
    EXPECT_TRUE(run.has("jvm_vprintf JVM:  " + shortText)) << joinLines(run.log);
    // A long message is cut to its first 1019 characters; the hook returns the full length.
    const int at = run.find("jvm_vprintf JVM:  xxx");
    ASSERT_GE(at, 0);
    EXPECT_EQ(run.log[static_cast<std::size_t>(at)], "jvm_vprintf JVM:  " + std::string(1019, 'x'));
    EXPECT_TRUE(fake.recorded("vprintf-returned " + std::to_string(shortText.size())));
    EXPECT_TRUE(fake.recorded("vprintf-returned 2000"));
    EXPECT_TRUE(run.has("jvm_exit JVM: exit( 3 )"));
    EXPECT_TRUE(run.has("jvm_abort JVM: abort()"));
    // The hooks ran inside the creation.
    EXPECT_LT(run.find("startJVM Starting JVM"), run.find("jvm_exit"));
    EXPECT_LT(run.find("jvm_abort"), run.find("startJVM Java Virtual Machine is created!"));
}

// What the launcher hands over on a full start, and that the JVM thread leaves
// the VM before it ends.
struct StartCase {
    const char* name;
    const char* entryResult;
    int status;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class FakeVmStart : public testing::TestWithParam<StartCase> {};

TEST_P(FakeVmStart, HandsOverOptionsAndArgumentsAndDetaches) {
    FakeRuntimeTree fake;
    const std::string argsFile = fake.tree.writeScratchFile("jvm.args", "-Dfirst=1\n\n-Dcrlf=2\r\n");
    const std::vector<std::string> args = {"--jvm-args=" + argsFile, "party \xF0\x9F\x8E\x89", "bad\xFF",
                                           "caf\xC3\xA9", ""};
    const TreeRun run = fake.run({{"FAKEJVM_ENTRY_RESULT", GetParam().entryResult}}, args, std::string("app name"));
    EXPECT_EQ(run.exitStatus, GetParam().status) << joinLines(run.log);

    const std::vector<std::string> logged = run.jvmArgs();
    ASSERT_FALSE(logged.empty()) << joinLines(run.log);
    std::vector<std::string> options;
    std::vector<std::string> strings;
    std::string create;
    for (const std::string& r : fake.records()) {
        if (r.rfind("option ", 0) == 0) {
            options.push_back(r);
        } else if (r.rfind("string ", 0) == 0) {
            strings.push_back(r);
        } else if (r.rfind("create ", 0) == 0) {
            create = r;
        }
    }
    EXPECT_EQ(create, "create version=0xa0000 nOptions=" + std::to_string(logged.size()) + " ignoreUnrecognized=0");
    ASSERT_EQ(options.size(), logged.size());
    for (std::size_t i = 0; i < logged.size(); ++i) {
        const bool hook = logged[i] == "vfprintf" || logged[i] == "exit" || logged[i] == "abort";
        std::string text;
        for (unsigned char ch : logged[i]) {
            static const char hex[] = "0123456789ABCDEF";
            text += ch > 0x20 && ch < 0x7f && ch != '\\' ? std::string(1, static_cast<char>(ch))
                                                          : std::string("\\x") + hex[ch >> 4] + hex[ch & 15];
        }
        EXPECT_EQ(options[i], "option " + std::to_string(i) + (hook ? " hook " : " plain ") + text);
    }
    EXPECT_EQ(std::vector<std::string>(logged.begin(), logged.begin() + 5),
              (std::vector<std::string>{"-Xmx160m", "-Dfirst=1", "", "-Dcrlf=2\r", "-Dcorvane.jars.path=" +
                                                                                       fake.tree.libDir()}));
    // Modified UTF-8: the emoji as a surrogate pair, the invalid byte as U+FFFD.
    EXPECT_EQ(strings, (std::vector<std::string>{
                           "string 0 app\\x20name", "string 1 --jvm-args=" + argsFile,
                           "string 2 party\\x20\\xED\\xA0\\xBC\\xED\\xBE\\x89", "string 3 bad\\xEF\\xBF\\xBD",
                           "string 4 caf\\xC3\\xA9", "string 5 "}));
    EXPECT_TRUE(fake.recorded("entry-called 6"));
    EXPECT_TRUE(fake.recorded("detach"));
    EXPECT_FALSE(fake.recorded("violation")) << readFile(fake.recordPath);
}

INSTANTIATE_TEST_SUITE_P(Results, FakeVmStart,
                         testing::Values(StartCase{"ExitAfterStartup", "1", 0}, StartCase{"Negative", "-1", 255}),
                         RowName());

}  // namespace
