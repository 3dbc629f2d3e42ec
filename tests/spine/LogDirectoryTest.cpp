// Where the native log lives: the directory rules through the real executable, and the two
// functions behind them.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include "SpineSupport.h"
#include "log/DumbLogger.h"

using corvane::test::fileExists;
using corvane::test::readFile;
using corvane::test::ScratchDir;
using corvane::test::writeFile;

namespace {

const std::string LOG_NAME = "corvane-native.log";
const std::string BAD_DIR = "Invalid or inaccessible log directory: ";
const std::string BAD_FILE = "Failed to open log file for writing: ";
const mode_t CREATED_MODE = 0700 & ~spine::currentUmask();

// Whether a line of `text` ends with `end`.
bool endsALine(const std::string& text, const std::string& end) {
    for (const std::string& l : corvane::test::splitLines(text)) {
        if (l.size() >= end.size() && l.compare(l.size() - end.size(), end.size(), end) == 0) {
            return true;
        }
    }
    return false;
}

// A successful start: the log file holds this run's lines, each listed directory was created with
// mode 0700 (less the umask), and nothing else was created.
TEST(SpineLogDir, ResolvedFromTheEnvironment) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> env;  // "@" stands for the scratch directory
        std::string logDir;
        std::vector<std::string> created;
        const char* record = nullptr;  // the record of a tree at @/tree, the launcher's install directory
    };
    const std::string named = "name=demo-app\n";
    const std::vector<Case> cases = {
        {"override, existing", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/keep"}, {"TEST_TMPDIR", "@/t"}}, "@/keep", {}},
        {"override, missing", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/o/p"}, {"HOME", "@/h"}}, "@/o/p", {"@/o", "@/o/p"}},
        {"override, trailing slash", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/l/"}}, "@/l", {"@/l"}},
        {"TEST_TMPDIR", {{"TEST_TMPDIR", "@/keep/a/b"}, {"XDG_DATA_HOME", "@/x"}},
         "@/keep/a/b/nativeLogs", {"@/keep/a", "@/keep/a/b", "@/keep/a/b/nativeLogs"}},
        {"XDG_DATA_HOME", {{"XDG_DATA_HOME", "@/x"}, {"HOME", "@/h"}}, "@/x/Vellumbry/Corvane/logs",
         {"@/x", "@/x/Vellumbry", "@/x/Vellumbry/Corvane", "@/x/Vellumbry/Corvane/logs"}},
        {"HOME", {{"HOME", "@/h"}}, "@/h/.local/share/Vellumbry/Corvane/logs",
         {"@/h", "@/h/.local", "@/h/.local/share", "@/h/.local/share/Vellumbry/Corvane/logs"}},
        {"named: XDG_STATE_HOME", {{"XDG_STATE_HOME", "@/s"}, {"XDG_DATA_HOME", "@/x"}, {"HOME", "@/h"}},
         "@/s/demo-app", {"@/s", "@/s/demo-app"}, named.c_str()},
        {"named: relative XDG_STATE_HOME, HOME's", {{"XDG_STATE_HOME", "s"}, {"HOME", "@/h"}},
         "@/h/.local/state/demo-app", {"@/h", "@/h/.local", "@/h/.local/state", "@/h/.local/state/demo-app"},
         named.c_str()},
        {"named: the override wins", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/keep"}, {"XDG_STATE_HOME", "@/s"}},
         "@/keep", {}, named.c_str()},
        {"no valid name: the data folder", {{"XDG_STATE_HOME", "@/s"}, {"XDG_DATA_HOME", "@/x"}}, "@/x/Vellumbry/Corvane/logs",
         {"@/x", "@/x/Vellumbry", "@/x/Vellumbry/Corvane", "@/x/Vellumbry/Corvane/logs"}, "name=Demo\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch("logdir");
        const auto at = [&](const std::string& s) { return spine::at(s, scratch.path()); };
        ASSERT_EQ(::mkdir((scratch / "keep").c_str(), 0751), 0);
        ASSERT_EQ(::chmod((scratch / "keep").c_str(), 0751), 0);
        std::map<std::string, std::string> env = c.env;
        std::set<std::string> top = {"keep", c.logDir.substr(2, c.logDir.find('/', 2) - 2)};
        if (c.record != nullptr) {
            std::filesystem::create_directories(scratch / "tree/lib");
            ASSERT_TRUE(writeFile(scratch / "tree/lib/corvane-tree.txt", c.record));
            env["CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE"] = "@/tree";
            top.insert("tree");
        }
        const auto result = corvane::test::runLauncher({}, spine::at(env, scratch.path()));
        EXPECT_EQ(result.exitStatus, 53) << result.err;
        EXPECT_EQ(result.err, "");
        const std::string dir = at(c.logDir);
        EXPECT_EQ(spine::entriesOf(dir), std::vector<std::string>{LOG_NAME});
        const auto messages = corvane::test::logMessagesOfLastRun(dir + "/" + LOG_NAME);
        // A tree kept in its state folder says so first.
        const bool stateFolder = c.logDir.find("demo-app") != std::string::npos;
        EXPECT_EQ(messages.size(), stateFolder ? 5u : 4u);
        if (stateFolder && !messages.empty()) {
            EXPECT_EQ(messages.front(), "initialize_logging The tree's record names the application demo-app: its "
                                        "native log, the VM's error files and heap dumps are kept in its state folder " +
                                            dir);
        }
        for (const std::string& created : c.created) {
            EXPECT_EQ(spine::modeOf(at(created)), CREATED_MODE) << created;
        }
        EXPECT_EQ(spine::modeOf(scratch / "keep"), 0751u) << "an existing directory keeps its mode";
        EXPECT_EQ(spine::entriesOf(scratch.path()), std::vector<std::string>(top.begin(), top.end()))
            << "only the chosen directory is created";
    }
}

// Each refusal ends with status 1 and names the reason on standard error, exactly once, with or
// without the console copy.
TEST(SpineLogDir, RefusedWithStatus1) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> env;  // "@" stands for the scratch directory
        std::string message;                     // the end of the line on standard error
        const char* record = nullptr;            // the record of a tree at @/tree, the launcher's install directory
    };
    std::vector<Case> cases = {
        {"empty override", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", ""}, {"HOME", "@/h"}}, BAD_DIR},
        {"relative override", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "rel/logs"}}, BAD_DIR + "rel/logs"},
        {"relative TEST_TMPDIR", {{"TEST_TMPDIR", "tmp"}}, BAD_DIR + "tmp/nativeLogs"},
        {"override names a file", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/file"}}, BAD_DIR + "@/file"},
        {"path runs through a file", {{"TEST_TMPDIR", "@/file"}}, BAD_DIR + "@/file/nativeLogs"},
        {"log file is a directory", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/busy"}}, BAD_FILE + "@/busy/" + LOG_NAME},
        {"trailing slash, log file is a directory", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/busy/"}},
         BAD_FILE + "@/busy//" + LOG_NAME},
        {"no base directory at all", {}, "HOME is set"},
        {"named, neither an absolute XDG_STATE_HOME nor HOME", {{"XDG_STATE_HOME", "state"}, {"XDG_DATA_HOME", "@/x"}},
         "TEST_TMPDIR, an absolute XDG_STATE_HOME or HOME is set", "name=demo-app\n"},
    };
    if (::geteuid() != 0) {  // permissions do not hold root back
        cases.push_back({"unwritable directory", {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", "@/ro"}}, BAD_FILE + "@/ro/" + LOG_NAME});
    }
    for (const Case& c : cases) {
        for (const bool console : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (console ? " with console copy" : ""));
            ScratchDir scratch("refused");
            ASSERT_TRUE(writeFile(scratch / "file", "keep me\n"));
            std::filesystem::create_directories(scratch / ("busy/" + LOG_NAME));
            ::mkdir((scratch / "ro").c_str(), 0500);
            std::map<std::string, std::string> env = c.env;
            if (c.record != nullptr) {
                std::filesystem::create_directories(scratch / "tree/lib");
                ASSERT_TRUE(writeFile(scratch / "tree/lib/corvane-tree.txt", c.record));
                env["CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE"] = "@/tree";
            }
            const auto before = spine::entriesOf(scratch.path());
            const auto result = corvane::test::runLauncher(console ? std::vector<std::string>{"--log-native-to-stdout"}
                                                           : std::vector<std::string>{},
                                                   spine::at(env, scratch.path()), scratch.path());
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(endsALine(result.err, spine::at(c.message, scratch.path()))) << result.err;
            EXPECT_EQ(result.err.find('\n') + 1, result.err.size()) << "one message, once: " << result.err;
            EXPECT_EQ(spine::entriesOf(scratch.path()), before) << "nothing created";
            EXPECT_EQ(readFile(scratch / "file"), "keep me\n");
            EXPECT_TRUE(spine::entriesOf(scratch / ("busy/" + LOG_NAME)).empty());
        }
    }
}

// Paths that do not fit the logger's 2047-byte buffers are refused, never cut; the longest
// file path that fits is used whole.
TEST(SpineLogDir, LengthLimitOf2047Bytes) {
    ScratchDir scratch("long");
    const auto dirOfLength = [&](std::size_t length) {
        std::string dir = scratch.path();
        while (dir.size() + 211 < length) {
            dir += "/" + std::string(200, 'n');
        }
        return dir + "/" + std::string(length - dir.size() - 1, 'z');
    };
    const std::size_t fileSuffix = ("/" + LOG_NAME).size();
    struct Case {
        std::size_t dirLength;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {2047 - fileSuffix, 53, ""},
        {2048 - fileSuffix, 1, BAD_FILE},
        {2047, 1, BAD_FILE},
        {2048, 1, BAD_DIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dirLength);
        const std::string dir = dirOfLength(c.dirLength);
        ASSERT_EQ(dir.size(), c.dirLength);
        const auto result = corvane::test::runLauncher({}, {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", dir}});
        EXPECT_EQ(result.exitStatus, c.status);
        if (c.status == 53) {
            EXPECT_EQ(corvane::test::logMessagesOfLastRun(dir + "/" + LOG_NAME).size(), 4u);
        } else {
            const std::string path = c.message == BAD_DIR ? dir : dir + "/" + LOG_NAME;
            EXPECT_TRUE(endsALine(result.err, c.message + path)) << result.err.substr(0, 200);
            // A cut path would have been created: the log file cut short, or the directory itself.
            if (c.message == BAD_DIR) {
                EXPECT_FALSE(fileExists(dir));
            } else {
                EXPECT_TRUE(spine::entriesOf(dir).empty());
            }
        }
    }
}

// A log that opens but cannot be written (a full disk) loses its lines and says so once; it
// does not stop the application from starting.
TEST(SpineLogDir, FullDiskDoesNotStopTheStart) {
    ScratchDir scratch("full");
    ASSERT_EQ(::symlink("/dev/full", (scratch / LOG_NAME).c_str()), 0);
    const auto result = corvane::test::runLauncher({"--log-native-to-stdout"}, {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()}});
    EXPECT_EQ(result.exitStatus, 53) << result.err;
    EXPECT_TRUE(endsALine(result.err, "reportFatalAndExit Failed to start JVM")) << result.err;
    const std::string said = "corvane: cannot write the native log " + (scratch / LOG_NAME) + ": No space left on device\n";
    const std::size_t at = result.err.find(said);
    EXPECT_NE(at, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(said, at + 1), std::string::npos) << "said once: " << result.err;
}

TEST(SpineLogDir, ResolveLogsHomeRules) {
    struct Case {
        corvane::log::LogDirEnvironment env;  // override, TEST_TMPDIR, XDG_DATA_HOME, HOME (, XDG_STATE_HOME, name)
        std::string expected;
        bool hasBase;
    };
    const std::vector<Case> cases = {
        {{"/o", "/t", "/x", "/h"}, "/o", true},
        {{"", "/t", "/x", "/h"}, "", true},
        {{"rel/", nullptr, nullptr, nullptr}, "rel/", true},
        {{nullptr, "/t", "/x", "/h"}, "/t/nativeLogs", true},
        {{nullptr, "/t/", nullptr, nullptr}, "/t//nativeLogs", true},
        {{nullptr, "", nullptr, nullptr}, "/nativeLogs", true},
        {{nullptr, nullptr, "/x", "/h"}, "/x/Vellumbry/Corvane/logs", true},
        {{nullptr, nullptr, "", "/h"}, "/Vellumbry/Corvane/logs", true},
        {{nullptr, nullptr, nullptr, "/home/u"}, "/home/u/.local/share/Vellumbry/Corvane/logs", true},
        {{nullptr, nullptr, nullptr, "~"}, "~/.local/share/Vellumbry/Corvane/logs", true},
        {{nullptr, nullptr, nullptr, ""}, "/.local/share/Vellumbry/Corvane/logs", true},
        {{nullptr, nullptr, nullptr, nullptr}, "", false},
        // override, TEST_TMPDIR, XDG_DATA_HOME, HOME, XDG_STATE_HOME, the record's name
        {{nullptr, nullptr, "/x", "/h", "/s", "app"}, "/s/app", true},
        {{nullptr, nullptr, "/x", "/h", "s", "app"}, "/h/.local/state/app", true},
        {{nullptr, nullptr, "/x", "/h", "", "app"}, "/h/.local/state/app", true},
        {{nullptr, nullptr, "/x", "", nullptr, "app"}, "/.local/state/app", true},
        {{nullptr, nullptr, "/x", nullptr, "s", "app"}, "", false},
        {{"/o", "/t", "/x", "/h", "/s", "app"}, "/o", true},
        {{nullptr, "/t", "/x", "/h", "/s", "app"}, "/t/nativeLogs", true},
        {{nullptr, nullptr, "/x", "/h", "/s", ""}, "/x/Vellumbry/Corvane/logs", true},
        {{nullptr, nullptr, nullptr, "/h", "/s", nullptr}, "/h/.local/share/Vellumbry/Corvane/logs", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        bool hasBase = !c.hasBase;
        EXPECT_EQ(corvane::log::resolveLogsHome(c.env, hasBase), c.expected);
        EXPECT_EQ(hasBase, c.hasBase);
    }
}

TEST(SpineLogDir, ValidateAndCreateLogsDir) {
    ScratchDir scratch("validate");
    ASSERT_TRUE(writeFile(scratch / "file", "x"));
    ASSERT_EQ(::mkdir((scratch / "open").c_str(), 0755), 0);
    ASSERT_EQ(::chmod((scratch / "open").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((scratch / "open").c_str(), (scratch / "link").c_str()), 0);
    ASSERT_EQ(::symlink((scratch / "gone").c_str(), (scratch / "dangling").c_str()), 0);
    struct Case {
        std::string path;
        bool usable;
        std::vector<std::string> created;  // relative to the scratch directory, mode 0700 less the umask
    };
    const std::vector<Case> cases = {
        {"", false, {}},
        {"relative/dir", false, {}},
        {"./dot", false, {}},
        {scratch / "file", false, {}},
        {scratch / "file/sub", false, {}},
        {scratch / "dangling", false, {}},
        {scratch / "open", true, {}},
        {scratch / "link", true, {}},
        {scratch / "open/a/b/c", true, {"open/a", "open/a/b", "open/a/b/c"}},
        {scratch / "slash/", true, {"slash"}},
        {scratch / "twice//x", true, {"twice", "twice/x"}},
    };
    // Relative paths would land in the scratch directory, whose entries are checked at the end.
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(corvane::log::validateAndCreateLogsDir(c.path), c.usable);
        for (const std::string& created : c.created) {
            EXPECT_EQ(spine::modeOf(scratch / created), CREATED_MODE) << created;
        }
    }
    std::filesystem::current_path(cwd);
    EXPECT_EQ(spine::modeOf(scratch / "open"), 0755u);
    EXPECT_EQ(readFile(scratch / "file"), "x");
    EXPECT_EQ(spine::entriesOf(scratch.path()),
              (std::vector<std::string>{"dangling", "file", "link", "open", "slash", "twice"}));
}

}  // namespace
