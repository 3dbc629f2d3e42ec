#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Contract.h"
#include "ExpectedOptions.h"
#include "jvm/AppClassArchive.h"
#include "jvm/JvmOptions.h"
#include "jvm/ShippedArchive.h"
#include "jvm/TreeRecord.h"
#include "os/BackgroundJob.h"
#include "support/TestSupport.h"

namespace {

using corvane::jvm::OptionEntry;
using corvane::jvm::OptionInputs;
using namespace corvane::test;

int hookA, hookB, hookC;  // distinct addresses standing for the three hooks

OptionPaths samplePaths() {
    return {"/opt/app", "/opt/app/lib/a.jar:/opt/app/lib/b.jar", "/var/logs", 4242, "1.2.3.4", "-Xss384k"};
}

OptionInputs sampleInputs() {
    const OptionPaths p = samplePaths();
    OptionInputs in;
    in.installDir = p.installDir;
    in.classPath = p.classPath;
    in.logsDir = p.logDir;
    in.pid = p.pid;
    in.version = p.version;
    in.stackSizeOption = p.stackSize;
    in.vprintfHook = &hookA;
    in.exitHook = &hookB;
    in.abortHook = &hookC;
    return in;
}

std::vector<std::string> texts(const std::vector<OptionEntry>& entries) {
    std::vector<std::string> out;
    for (const OptionEntry& e : entries) {
        out.push_back(e.text);
    }
    return out;
}

class OptionSwitchTest : public testing::TestWithParam<SwitchCase> {};

TEST_P(OptionSwitchTest, GivesTheExpectedList) {
    ScratchDir scratch("opts");
    const std::string dir = scratch / "tmp";
    const std::string file = scratch / "tmpfile";
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(writeFile(file, "x"));

    const SwitchCase& c = GetParam();
    const std::map<std::string, std::string> env = switchEnvironment(c, dir, file);
    OptionInputs in = sampleInputs();
    auto get = [&env](const char* key) -> const char* {
        auto it = env.find(key);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    in.aggressiveOptimizations = get("CORVANE_AGGRESSIVE_OPTIMIZATIONS");
    in.forceSerialGc = get("CORVANE_GC_FORCE_SERIAL_GC");
    in.forceParallelGc = get("CORVANE_GC_FORCE_PARALLEL_GC");
    in.aggressiveReclaim = get("CORVANE_GC_AGGRESSIVE_RECLAIM");
    in.maxPauseMillis = get("CORVANE_GC_MAX_PAUSE_MILLIS");
    in.tmpDir = get("TMPDIR");
    in.tmpDirIsDirectory = in.tmpDir != nullptr && std::filesystem::is_directory(in.tmpDir);
    in.runtimeFeature = corvane::jvm::parseTreeRecord(c.record != nullptr ? c.record : "").runtimeFeature();

    OptionList expected = defaultOptionList(samplePaths());
    c.change(expected, dir);
    EXPECT_EQ(texts(corvane::jvm::buildJvmOptionEntries(in)), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, OptionSwitchTest, testing::ValuesIn(switchCases()), RowName());

TEST(JvmOptions, DefaultListHas47EntriesAndOnlyHooksCarryExtraInfo) {
    const std::vector<OptionEntry> entries = corvane::jvm::buildJvmOptionEntries(sampleInputs());
    ASSERT_EQ(entries.size(), 47u);
    for (const OptionEntry& e : entries) {
        const void* want = e.text == "vfprintf" ? &hookA : e.text == "exit" ? &hookB : e.text == "abort" ? &hookC : nullptr;
        EXPECT_EQ(e.extraInfo, want) << e.text;
    }
}

TEST(JvmOptions, ArgsFileLinesFollowTheHeapLimitVerbatim) {
    OptionInputs in = sampleInputs();
    in.jvmArgsFileLines = {"-Xmx512m", "", "-Dx=y\r", " -Dspaced = 1 "};
    const std::vector<std::string> list = texts(corvane::jvm::buildJvmOptionEntries(in));
    const std::vector<std::string> head(list.begin(), list.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"-Xmx160m", "-Xmx512m", "", "-Dx=y\r", " -Dspaced = 1 ",
                                              "-Dcorvane.jars.path=/opt/app/lib/"}));
    EXPECT_EQ(list.size(), 51u);
}

// A tree that asks for java's heap gets neither the launcher's fixed limit nor
// the soft limit below it; any other record keeps both.
TEST(JvmOptions, HeapLimitFollowsTheTreeRecord) {
    const struct {
        const char* record;
        bool fixedLimit;
    } cases[] = {
        {"", true},
        {"name=app\n", true},
        {"heap=java\n", false},
        {"heap=java\nheap=launcher\n", true},
        {"heap=Java\n", true},
        {"# heap=java\n", true},
        {"name=app\nheap=java\nsplash=lib/splash/a.png\n", false},
    };
    for (const auto& c : cases) {
        OptionInputs in = sampleInputs();
        in.javaDefaultHeap = corvane::jvm::parseTreeRecord(c.record).javaHeap;
        const std::vector<std::string> list = texts(corvane::jvm::buildJvmOptionEntries(in));
        const auto has = [&list](const char* option) {
            return std::find(list.begin(), list.end(), option) != list.end();
        };
        EXPECT_EQ(has("-Xmx160m"), c.fixedLimit) << c.record;
        EXPECT_EQ(has("-XX:SoftMaxHeapSize=128m"), c.fixedLimit) << c.record;
        EXPECT_EQ(list.size(), c.fixedLimit ? 47u : 45u) << c.record;
    }
}

// The record's keys as the launcher takes them: the last line of a key wins,
// a comment or a line without '=' is passed over, values are verbatim.
TEST(TreeRecord, KeysTakeTheirLastValue) {
    const struct {
        const char* text;
        const char* name;
        const char* splash;
        bool singleInstance;
        bool appArchive;
        bool validName;
    } cases[] = {
        {"", "", "", false, false, false},
        {"name=my-app\nsingle-instance=yes\napp-archive=per-user\n", "my-app", "", true, true, true},
        {"#name=other\nname=my-app\nname=..\n", "..", "", false, false, false},
        {"single-instance=yes\nsingle-instance=no\n", "", "", false, false, false},
        {"single-instance=Yes\napp-archive=per-user \n", "", "", false, false, false},
        {"splash=lib/splash/a b.png\nname\n=x\n", "", "lib/splash/a b.png", false, false, false},
        {"name=my-app\r\n", "my-app\r", "", false, false, false},
    };
    for (const auto& c : cases) {
        const corvane::jvm::TreeRecord record = corvane::jvm::parseTreeRecord(c.text);
        EXPECT_EQ(record.name, c.name) << c.text;
        EXPECT_EQ(record.splash, c.splash) << c.text;
        EXPECT_EQ(record.singleInstance, c.singleInstance) << c.text;
        EXPECT_EQ(record.appArchivePerUser, c.appArchive) << c.text;
        EXPECT_EQ(record.hasApplicationName(), c.validName) << c.text;
    }
}

// The launcher's key table is the contract's list of the keys it reads.
TEST(TreeRecord, ReadsTheContractsKeys) {
    std::vector<std::string> contract;
    std::istringstream in(CONTRACT_RECORD_KEYS);
    for (std::string key; in >> key;) {
        contract.push_back(key);
    }
    EXPECT_EQ(corvane::jvm::treeRecordKeys(), contract);
}

TEST(JvmOptions, EmptyInstallDirectory) {
    OptionInputs in = sampleInputs();
    in.installDir = "";
    const std::vector<std::string> list = texts(corvane::jvm::buildJvmOptionEntries(in));
    ASSERT_EQ(list.size(), 47u);
    EXPECT_EQ(list[1], "-Dcorvane.jars.path=/lib/");
    EXPECT_EQ(list[6], "-Djna.library.path=");
    EXPECT_EQ(list[7], "-Djna.boot.library.path=");
    EXPECT_EQ(list[8], "-Dvindo.library.path=");
}

TEST(JvmOptions, ArgsFileLines) {
    const struct {
        std::string content;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"-Xmx512m\n-Da=b", {"-Xmx512m", "-Da=b"}},
        {"-Xmx512m\n-Da=b\n", {"-Xmx512m", "-Da=b"}},
        {"-Da\n\n-Db\n", {"-Da", "", "-Db"}},
        {"-Da\r\n-Db\r\n", {"-Da\r", "-Db\r"}},
        {"\n", {""}},
        {"  -Da=1 # not a comment\t\n", {"  -Da=1 # not a comment\t"}},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.content);
        EXPECT_EQ(corvane::jvm::readJvmArgsLines(in), c.lines) << "content: " << c.content;
    }
}

TEST(JvmOptions, StackSizeFromPageSize) {
    const struct {
        long pageSize;
        const char* option;
    } cases[] = {{4096, "-Xss384k"}, {16384, "-Xss384k"}, {65536, "-Xss512k"}, {1 << 20, "-Xss8192k"},
                 {0, "-Xss384k"},    {-1, "-Xss384k"},    {1000, "-Xss384k"}};
    for (const auto& c : cases) {
        EXPECT_EQ(corvane::jvm::stackSizeOptForPageSize(c.pageSize), c.option) << c.pageSize;
    }
}

// An option that manages class-data sharing keeps the per-user archive out;
// a hook entry never counts, nor does logging about class data.
TEST(JvmOptions, ClassDataOptionKeepsTheAppArchiveOut) {
    const struct {
        std::vector<OptionEntry> entries;
        std::string managing;
    } cases[] = {
        {{{"-Xmx1g"}, {"-Xlog:cds"}, {"-Xlog:class+load"}}, ""},
        {{{"-Xmx1g"}, {"-Xshare:off"}}, "-Xshare:off"},
        {{{"-Xshare:auto"}}, "-Xshare:auto"},
        {{{"-XX:SharedArchiveFile=/a.jsa"}}, "-XX:SharedArchiveFile=/a.jsa"},
        {{{"-XX:ArchiveClassesAtExit=/b.jsa"}}, "-XX:ArchiveClassesAtExit=/b.jsa"},
        {{{"-XX:DumpLoadedClassList=/c.lst"}}, "-XX:DumpLoadedClassList=/c.lst"},
        {{{"-XX:AOTCache=/d.aot"}}, "-XX:AOTCache=/d.aot"},
        {{{"-XX:-UseSharedSpaces"}}, "-XX:-UseSharedSpaces"},
        {{{"-Xshare:off", &hookA}}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(corvane::jvm::classDataOptionOf(c.entries), c.managing) << c.managing;
    }
}

// The archive's key leaves out the paths that differ from start to start
// (the pid in them, the user's temporary folder), so that one archive serves
// every start, and keeps every option that decides what the VM takes.
TEST(JvmOptions, AppArchiveKeyOptions) {
    const std::vector<OptionEntry> entries = {{"-Xmx160m"},
                                              {"-Djava.class.path=/t/lib/a.jar"},
                                              {"vfprintf", &hookA},
                                              {"-XX:HeapDumpPath=/logs/corvane-oom-41.hprof"},
                                              {"-XX:ErrorFile=/logs/corvane-error-41.log"},
                                              {"-Djava.io.tmpdir=/tmp/u"},
                                              {"-XX:+UseCompactObjectHeaders"}};
    EXPECT_EQ(corvane::jvm::keyOptionsText(entries),
              "option -Xmx160m\noption -Djava.class.path=/t/lib/a.jar\noption -XX:+UseCompactObjectHeaders\n");
    EXPECT_NE(corvane::jvm::appArchiveKey("a"), corvane::jvm::appArchiveKey("b"));
    EXPECT_EQ(corvane::jvm::appArchiveKey("").size(), 16u);
}

// The archive made at packaging serves only the start it was made for, line
// for line: a changed jar, a jar more or less, an option more or less each
// keep it out, and the message names the first line that differs.
TEST(JvmOptions, ShippedArchiveRecordMustBeThisStarts) {
    const std::string made = "tree /t\n/t/lib/a.jar 10 5.000000000\noption -Xmx160m\n";
    const struct {
        const char* name;
        std::string now;
        std::string difference;
    } cases[] = {
        {"the same start", made, ""},
        {"a jar touched", "tree /t\n/t/lib/a.jar 10 7.000000000\noption -Xmx160m\n",
         "'/t/lib/a.jar 10 5.000000000' at packaging, '/t/lib/a.jar 10 7.000000000' now"},
        {"an option more", made + "option -Dx=1\n", "nothing at packaging, 'option -Dx=1' now"},
        {"an option less", "tree /t\n/t/lib/a.jar 10 5.000000000\n", "'option -Xmx160m' at packaging, nothing now"},
        {"another place", "tree /u\n/t/lib/a.jar 10 5.000000000\noption -Xmx160m\n",
         "'tree /t' at packaging, 'tree /u' now"},
        {"an empty line more", made + "\n", "nothing at packaging, '' now"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(corvane::jvm::recordDifference(made, c.now), c.difference) << c.name;
    }
}

// A dump that hangs is killed at its bound and counts as failed: later starts
// then run without an archive instead of waiting on one forever.
TEST(JvmOptions, AppArchiveDumpPastItsBoundIsKilledAndFailed) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "archive-job-bound";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    OS::PublishJob job;
    job.argv = {"/bin/sleep", "120"};
    job.lockPath = dir / "dump.lock";
    job.outputPath = dir / "a.jsa.tmp";
    job.finalPath = dir / "a.jsa";
    job.failedPath = dir / "a.failed";
    job.maxSize = 1;
    job.maxSeconds = 1;
    ASSERT_TRUE(OS::startPublishJob(job));
    for (int i = 0; i < 600 && !std::filesystem::exists(job.failedPath); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(std::filesystem::exists(job.failedPath)) << "the job still runs after 30 s";
    EXPECT_FALSE(std::filesystem::exists(job.finalPath));
    std::filesystem::remove_all(dir);
}

}  // namespace
