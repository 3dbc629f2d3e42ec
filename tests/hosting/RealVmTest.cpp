// End-to-end tests of JVM hosting: the real executable, copied into an install
// tree whose jre is the JDK, runs the test application of testapp/.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ExpectedOptions.h"
#include "jvm/BootstrapManifest.h"
#include "support/InstallTree.h"

namespace {

using namespace corvane::test;

std::map<std::string, std::string> readReport(const std::string& path) {
    std::map<std::string, std::string> report;
    for (const std::string& line : splitLines(readFile(path))) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            report[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return report;
}

std::string stackSizeOption() {
    const long page = ::sysconf(_SC_PAGESIZE);
    return "-Xss" + std::to_string(std::max(384L, page / 1024 * 8)) + "k";
}

OptionPaths treePaths(const InstallTree& tree, const TreeRun& run, const std::string& classPath) {
    return {tree.root(), classPath, tree.logDir(), run.pid, CORVANE_TEST_VERSION, stackSizeOption()};
}

// The options --print-jvm-options wrote, each followed by a NUL.
std::vector<std::string> printedOptions(const std::string& out) {
    std::vector<std::string> options;
    for (std::size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1) {
        options.push_back(out.substr(start, end - start));
    }
    return options;
}

// The value of the first option that begins with `head`, or "(none)".
std::string printedValue(const std::vector<std::string>& options, const std::string& head) {
    for (const std::string& option : options) {
        if (option.rfind(head, 0) == 0) {
            return option.substr(head.size());
        }
    }
    return "(none)";
}

// The messages in `expected` appear in this order (each a prefix of a message).
void expectInOrder(const TreeRun& run, const std::vector<std::string>& expected) {
    int last = -1;
    for (const std::string& prefix : expected) {
        int found = -1;
        for (std::size_t i = static_cast<std::size_t>(last + 1); i < run.log.size(); ++i) {
            if (TreeRun::matches(run.log[i], prefix)) {
                found = static_cast<int>(i);
                break;
            }
        }
        EXPECT_GE(found, 0) << "missing, or out of order: " << prefix;
        if (found >= 0) {
            last = found;
        }
    }
}

bool setsAggressive(const std::map<std::string, std::string>& env) {
    auto it = env.find("CORVANE_AGGRESSIVE_OPTIMIZATIONS");
    return it != env.end() && !it->second.empty() && it->second[0] == '0';
}

// --- the option list through the real VM, one run per switch --------------

class RealVmOptionList : public testing::TestWithParam<SwitchCase> {};

TEST_P(RealVmOptionList, IsLoggedExactlyAndAcceptedByTheVm) {
    const SwitchCase& c = GetParam();
    if (!jdkSupportsDefaultOptions() && !setsAggressive(c.env)) {
        GTEST_SKIP() << "the JDK found is major " << jdkMajor()
                     << "; this list holds -XX:+UseCompactObjectHeaders, which needs " << CORVANE_TEST_JDK_MINIMUM
                     << " or newer";
    }
    InstallTree tree;
    if (c.record != nullptr) {
        ASSERT_TRUE(writeFile(tree.libDir() + "corvane-tree.txt", c.record));
    }
    const std::string tmpDir = tree.makeScratchDir("tmp");
    const std::string tmpFile = tree.writeScratchFile("tmpfile", "x");
    RunOptions options;
    options.set = switchEnvironment(c, tmpDir, tmpFile);
    options.set["CORVANE_TESTAPP_MODE"] = "return:1";
    const TreeRun run = tree.run({}, options);
    ASSERT_EQ(run.exitStatus, 0) << joinLines(run.log) << run.err;

    OptionList expected = defaultOptionList(treePaths(tree, run, tree.libDir() + "corvane-testapp.jar"));
    c.change(expected, tmpDir);
    EXPECT_EQ(run.jvmArgs(), expected);
}

std::vector<SwitchCase> realVmSwitchCases() {
    std::vector<SwitchCase> cases;
    for (const SwitchCase& c : switchCases()) {
        if (c.throughRealVm) {
            cases.push_back(c);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Switches, RealVmOptionList, testing::ValuesIn(realVmSwitchCases()), RowName());

// --- the JVM arguments file ----------------------------------------------

// The tree's options file, then the JVM arguments file, both verbatim after the
// heap limit: the user's file comes last and so wins.
TEST(RealVm, OptionFilesFollowTheHeapLimitVerbatimTheUsersLast) {
    InstallTree tree;
    ASSERT_TRUE(writeFile(tree.libDir() + "jvm-options.txt",
                          "-Dcorvane.test.tree=${INSTALL_DIR}/x\n-Dcorvane.test.first=from tree\n"));
    const std::string argsFile =
        tree.writeScratchFile("jvm.args", "-Dcorvane.test.first=from file\n-Xmx200m\n-Dcorvane.test.crlf=kept\r\n");
    const std::string report = tree.writeScratchFile("report.txt", "");
    RunOptions options;
    options.set["CORVANE_TESTAPP_REPORT"] = report;
    const TreeRun run = tree.run({"--jvm-args=" + argsFile}, options);
    ASSERT_EQ(run.exitStatus, 0) << joinLines(run.log) << run.err;

    const std::vector<std::string> list = run.jvmArgs();
    ASSERT_GE(list.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(list.begin(), list.begin() + 7),
              (std::vector<std::string>{"-Xmx160m", "-Dcorvane.test.tree=" + tree.root() + "/x",
                                        "-Dcorvane.test.first=from tree", "-Dcorvane.test.first=from file",
                                        "-Xmx200m", "-Dcorvane.test.crlf=kept\r",
                                        "-Dcorvane.jars.path=" + tree.libDir()}));
    expectInOrder(run, {"* Using the tree's jvm options file:  " + tree.libDir() + "jvm-options.txt",
                        "startJVM JVM Args:"});
    const auto seen = readReport(report);
    EXPECT_EQ(seen.at("prop.corvane.test.tree"), tree.root() + "/x");
    EXPECT_EQ(seen.at("prop.corvane.test.first"), "from file");
    EXPECT_EQ(seen.at("prop.corvane.test.crlf"), "kept\\{d}");
}

// A tree's options file that cannot be read stops the start at once: nothing
// at its path (a FIFO without a writer) holds it up.
TEST(RealVm, UnreadableTreeOptionsFileIs53) {
    for (const bool fifo : {false, true}) {
        InstallTree tree;
        const std::string path = tree.libDir() + "jvm-options.txt";
        ASSERT_EQ(fifo ? ::mkfifo(path.c_str(), 0600) : ::mkdir(path.c_str(), 0755), 0);
        const TreeRun run = tree.run();
        ASSERT_FALSE(run.timedOut) << fifo;
        EXPECT_EQ(run.exitStatus, 53) << fifo;
        expectInOrder(run, {"* Unable to open the tree's jvm options file:  " + path, "reportFatalAndExit Failed to start JVM"});
        EXPECT_FALSE(run.has("startJVM Starting JVM"));
    }
}

// A --jvm-args= file that is missing, or a FIFO without a writer, stops the
// start at once, before any option is built.
TEST(RealVm, MissingJvmArgsFileIs53) {
    for (const bool fifo : {false, true}) {
        InstallTree tree;
        const std::string path = tree.root() + "/no-such-jvm.args";
        ASSERT_TRUE(!fifo || ::mkfifo(path.c_str(), 0600) == 0);
        const TreeRun run = tree.run({"--jvm-args=" + path});
        ASSERT_FALSE(run.timedOut) << fifo;
        EXPECT_EQ(run.exitStatus, 53) << fifo;
        expectInOrder(run, {"startJVM Unable to open jvm args file:  " + path, "reportFatalAndExit Failed to start JVM"});
        EXPECT_FALSE(run.has("startJVM Using class path:"));
        EXPECT_FALSE(run.has("startJVM Starting JVM"));
        EXPECT_FALSE(run.has("operator() JVM calling main"));
    }
}

// The VM's console output reaches the native log; what it writes to a file of
// its own (-Xlog's file= output) reaches that file, as without the hook.
TEST(RealVm, VmLogFileOutputGoesToItsFile) {
    InstallTree tree;
    const std::string gcLog = tree.scratchDir() + "/gc.log";
    const std::string argsFile = tree.writeScratchFile("jvm.args", "-Xlog:gc:file=" + gcLog + "\n-Xlog:gc+init\n");
    const TreeRun run = tree.run({"--jvm-args=" + argsFile});
    ASSERT_EQ(run.exitStatus, 0) << joinLines(run.log) << run.err;
    EXPECT_NE(readFile(gcLog).find("Using G1"), std::string::npos) << readFile(gcLog);
    EXPECT_FALSE(run.has("jvm_vprintf JVM:  Using G1")) << joinLines(run.log);
    EXPECT_TRUE(run.has("jvm_vprintf JVM:  CardTable entry size")) << joinLines(run.log);
}

// The tools' view of a start: --print-jvm-options writes, NUL after each, the
// list a start hands the VM (its "JVM Args:"), without the hooks and with
// its own pid in the per-process paths, and creates no VM.
TEST(RealVm, PrintedOptionsAreTheStartsList) {
    InstallTree tree;
    ASSERT_TRUE(writeFile(tree.libDir() + "jvm-options.txt", "-Dcorvane.test.tree=${INSTALL_DIR}\n"));
    const std::string argsFile = tree.writeScratchFile("jvm.args", "-Dcorvane.test.first=from file\n");
    const TreeRun printed = tree.run({"--jvm-args=" + argsFile, "--print-jvm-options"});
    ASSERT_EQ(printed.exitStatus, 0) << joinLines(printed.log) << printed.err;
    EXPECT_FALSE(printed.has("startJVM Starting JVM"));
    const TreeRun started = tree.run({"--jvm-args=" + argsFile});
    ASSERT_EQ(started.exitStatus, 0) << joinLines(started.log) << started.err;

    std::vector<std::string> wanted;
    for (const std::string& option : started.jvmArgs()) {
        if (option != "vfprintf" && option != "exit" && option != "abort") {
            wanted.push_back(corvane::jvm::string_replace(option, "-" + std::to_string(started.pid) + ".",
                                            "-" + std::to_string(printed.pid) + "."));
        }
    }
    EXPECT_EQ(printedOptions(printed.out), wanted);
    ASSERT_FALSE(printed.out.empty());
    EXPECT_EQ(printed.out.back(), '\0');

    const TreeRun refused = tree.run({"--jvm-args=" + tree.root() + "/missing.args", "--print-jvm-options"});
    EXPECT_EQ(refused.exitStatus, 53);
    EXPECT_EQ(refused.out, "");
}

TEST(RealVm, OptionTheVmRejectsIs53) {
    InstallTree tree;
    const std::string argsFile = tree.writeScratchFile("jvm.args", "-XX:+CorvaneNoSuchOption\n");
    const TreeRun run = tree.run({"--jvm-args=" + argsFile});
    EXPECT_EQ(run.exitStatus, 53);
    const int at = run.find("startJVM Error creating VM: code= ");
    ASSERT_GE(at, 0) << joinLines(run.log);
    EXPECT_TRUE(std::regex_match(run.log[static_cast<std::size_t>(at)],
                                 std::regex("startJVM Error creating VM: code= -[0-9]+ \\. Exiting\\.\\.\\.\n")))
        << run.log[static_cast<std::size_t>(at)];
    expectInOrder(run, {"startJVM Starting JVM", "startJVM Error creating VM", "reportFatalAndExit Failed to start JVM"});
    EXPECT_FALSE(run.has("operator() JVM calling main"));
}

// --- the application's state folder, and a terminal the VM leaves alone ---

struct QuietStartCase {
    const char* name;
    const char* record;   // lib/corvane-tree.txt ({V}: the JDK's major version); none when null
    const char* logDir;   // where the log, error files and heap dumps go; {S} is the scratch folder
    bool warnedDefaults;  // the list holds the two options the VM warns about on every start
};

void PrintTo(const QuietStartCase& c, std::ostream* os) {
    *os << c.name;
}

class RealVmQuietStart : public testing::TestWithParam<QuietStartCase> {};

// With core dumps off, as they usually are, JDK 25 warns about an explicit
// CreateCoredumpOnCrash and about UseCompressedClassPointers on standard error,
// past the output hook. A start prints none of it: the log holds the warnings,
// or the options are left out for a runtime the record says warns.
TEST_P(RealVmQuietStart, LogsWhereTheRecordSaysAndPrintsNothing) {
    const QuietStartCase& c = GetParam();
    if (jdkMajor() < 25) {
        GTEST_SKIP() << "the JDK found is major " << jdkMajor() << "; the warnings come with 25";
    }
    InstallTree tree;
    if (c.record != nullptr) {
        ASSERT_TRUE(writeFile(tree.libDir() + "corvane-tree.txt",
                              replaceAll(c.record, "{V}", std::to_string(jdkMajor()))));
    }
    const std::string logDir = replaceAll(c.logDir, "{S}", tree.scratchDir());
    RunOptions options;
    options.set = {{"HOME", tree.scratchDir() + "/home"},
                   {"XDG_STATE_HOME", tree.scratchDir() + "/state"},
                   {"CORVANE_TESTAPP_MODE", "return:1"}};
    options.timeoutSeconds = 30;
    options.inChild = [] {
        const struct rlimit none {0, 0};
        return ::setrlimit(RLIMIT_CORE, &none) == 0;
    };

    const RunResult printed = runProgram(tree.launcher(), {"--print-jvm-options"}, options);
    ASSERT_EQ(printed.exitStatus, 0) << printed.err;
    const std::vector<std::string> list = printedOptions(printed.out);
    EXPECT_EQ(printedValue(list, "-XX:ErrorFile=").rfind(logDir + "/corvane-error-", 0), 0u) << joinLines(list);
    EXPECT_EQ(printedValue(list, "-XX:HeapDumpPath=").rfind(logDir + "/corvane-oom-", 0), 0u) << joinLines(list);
    const std::string warned = c.warnedDefaults ? "" : "(none)";
    EXPECT_EQ(printedValue(list, "-XX:+UseCompressedClassPointers"), warned);
    EXPECT_EQ(printedValue(list, "-XX:+CreateCoredumpOnCrash"), warned);

    const RunResult started = runProgram(tree.launcher(), {}, options);
    const std::vector<std::string> log = logMessagesOfLastRun(logDir + "/corvane-native.log");
    ASSERT_EQ(started.exitStatus, 0) << joinLines(log) << started.err;
    EXPECT_EQ(started.err, "");
    EXPECT_EQ(started.out, "");
    const std::vector<std::string> warnings = {
        "vmStandardError JVM:  OpenJDK 64-Bit Server VM warning: Option UseCompressedClassPointers was deprecated "
        "in version 25.0 and will likely be removed in a future release.",
        "vmStandardError JVM:  OpenJDK 64-Bit Server VM warning: CreateCoredumpOnCrash specified, but core dumps "
        "have been disabled. To enable core dumping, try \"ulimit -c unlimited\" before starting Java again"};
    for (const std::string& warning : warnings) {
        EXPECT_EQ(std::count(log.begin(), log.end(), warning), c.warnedDefaults ? 1 : 0) << warning << "\n"
                                                                                        << joinLines(log);
    }
    // No warning's head is logged apart from its text.
    for (const std::string& message : log) {
        EXPECT_EQ(message.rfind("jvm_vprintf JVM:  OpenJDK 64-Bit Server VM warning:", 0), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealVmQuietStart,
    testing::Values(QuietStartCase{"NamedTreeKeepsToItsStateFolder", "name=corvane-state-test\nruntime-version={V}\n",
                                   "{S}/state/corvane-state-test", false},
                    QuietStartCase{"TreeWithoutRecordLogsTheWarnings", nullptr,
                                   "{S}/home/.local/share/Vellumbry/Corvane/logs", true}),
    RowName());

// --- the system's and the user's JVM options files ------------------------

enum class UserFile { None, Text, Directory, Fifo };

struct OwnOptionsCase {
    const char* name;
    const char* record;      // lib/corvane-tree.txt (nullptr: none); {N} is the row's application name
    const char* systemText;  // /etc/{N}/jvm-options.txt (nullptr: none), laid over /etc for the launcher alone
    UserFile user;
    const char* userText;    // the user's file with UserFile::Text
    std::map<std::string, std::string> env;  // {S} is the scratch folder
    std::string configHome;  // where the user's file belongs: {C}/{N}/jvm-options.txt
    int status;
    std::map<std::string, std::string> seen;  // properties as the application sees them ({R}: the tree)
    std::vector<std::string> inOrder;         // message prefixes; {U} the user's file, {E} the system's
    std::vector<std::string> absent;
};

void PrintTo(const OwnOptionsCase& c, std::ostream* os) {
    *os << c.name;
}

// A name no real application has, so that the machine has no /etc/<name>.
std::string uniqueApplicationName() {
    std::random_device random;
    std::ostringstream name;
    name << "corvane-test-" << std::hex << random() << random();
    return name.str();
}

// What the child does to itself so that `lower` lies over /etc for it alone:
// a mount namespace of its own, and without root a user namespace of this one
// uid, which gives the right to mount there; the machine's /etc stays as it is.
std::function<bool()> etcOverlaidWith(const std::string& lower) {
    const uid_t uid = ::geteuid();
    const std::string uidMap = std::to_string(uid) + " " + std::to_string(uid) + " 1";
    const std::string gidMap = std::to_string(::getegid()) + " " + std::to_string(::getegid()) + " 1";
    const std::string layers = "lowerdir=" + lower + ":/etc";
    return [=] {
        auto put = [](const char* path, const std::string& text) {
            const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
            const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            return (fd < 0 || ::close(fd) == 0) && written;
        };
        const bool inNamespace =
            uid == 0 ? ::unshare(CLONE_NEWNS) == 0
                     : ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && put("/proc/self/uid_map", uidMap) &&
                           put("/proc/self/setgroups", "deny") && put("/proc/self/gid_map", gidMap);
        return inNamespace && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("overlay", "/etc", "overlay", MS_RDONLY, layers.c_str()) == 0;
    };
}

// Whether a child can do that here (user namespaces or overlay mounts may be refused).
bool canOverlayEtc(const std::string& lower) {
    const std::function<bool()> overlay = etcOverlaidWith(lower);
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(overlay() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class RealVmOwnOptions : public testing::TestWithParam<OwnOptionsCase> {};

// The tree's options file, then /etc's, then the user's: the later wins.
TEST_P(RealVmOwnOptions, LaterFileWinsUnusableFileIsSkipped) {
    const OwnOptionsCase& c = GetParam();
    InstallTree tree;
    const std::string name = uniqueApplicationName();
    auto expand = [&](std::string text) {
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"{U}", "{C}/{N}/jvm-options.txt"}, {"{C}", c.configHome}, {"{E}", "/etc/{N}/jvm-options.txt"},
                 {"{S}", tree.scratchDir()}, {"{R}", tree.root()}, {"{L}", tree.libDir()}, {"{N}", name}}) {
            text = replaceAll(text, from, to);
        }
        return text;
    };
    ASSERT_TRUE(writeFile(tree.libDir() + "jvm-options.txt", "-Dcorvane.test.first=tree\n-Dcorvane.test.tree=tree\n"));
    if (c.record != nullptr) {
        ASSERT_TRUE(writeFile(tree.libDir() + "corvane-tree.txt", expand(c.record)));
    }
    RunOptions options;
    if (c.systemText != nullptr) {
        const std::string etc = tree.makeScratchDir("etc");
        if (!canOverlayEtc(etc)) {
            GTEST_SKIP() << "no mount namespace with " << etc << " over /etc can be made here (unshare or mount refused)";
        }
        std::filesystem::create_directories(etc + "/" + name);
        ASSERT_TRUE(writeFile(etc + "/" + name + "/jvm-options.txt", c.systemText));
        options.inChild = etcOverlaidWith(etc);
    }
    const std::string userFile = expand("{U}");
    std::filesystem::create_directories(std::filesystem::path(userFile).parent_path());
    switch (c.user) {
        case UserFile::None:
            break;
        case UserFile::Text:
            ASSERT_TRUE(writeFile(userFile, c.userText));
            break;
        case UserFile::Directory:
            std::filesystem::create_directories(userFile);
            break;
        case UserFile::Fifo:
            ASSERT_EQ(::mkfifo(userFile.c_str(), 0600), 0);
            break;
    }
    const std::string report = tree.writeScratchFile("report.txt", "");
    for (const auto& [key, value] : c.env) {
        options.set[key] = expand(value);
    }
    options.set["CORVANE_TESTAPP_REPORT"] = report;
    const TreeRun run = tree.run({}, options);

    ASSERT_FALSE(run.timedOut) << joinLines(run.log);
    EXPECT_EQ(run.exitStatus, c.status) << joinLines(run.log) << run.err;
    std::vector<std::string> inOrder;
    for (const std::string& prefix : c.inOrder) {
        inOrder.push_back(expand(prefix));
    }
    expectInOrder(run, inOrder);
    for (const std::string& prefix : c.absent) {
        EXPECT_FALSE(run.has(expand(prefix))) << prefix << "\n" << joinLines(run.log);
    }
    const auto seen = readReport(report);
    for (const auto& [property, value] : c.seen) {
        const auto it = seen.find("prop." + property);
        ASSERT_NE(it, seen.end()) << property;
        EXPECT_EQ(it->second, expand(value)) << property;
    }
}

const std::string NO_SYSTEM_FILE = "* The system's jvm options file {E} does not exist";

INSTANTIATE_TEST_SUITE_P(
    Table, RealVmOwnOptions,
    testing::Values(
        OwnOptionsCase{"UsersFileBeatsTheTrees", "# the record\nformat=1\nname={N}\nentry=own\n", nullptr,
                       UserFile::Text, "-Dcorvane.test.first=user\n-Djava.io.tmpdir=${INSTALL_DIR}/x\n",
                       {{"XDG_CONFIG_HOME", "{S}/config"}, {"HOME", "{S}/home"}}, "{S}/config", 0,
                       {{"corvane.test.first", "user"}, {"corvane.test.tree", "tree"}, {"java.io.tmpdir", "{R}/x"}},
                       {NO_SYSTEM_FILE, "* Using the user's jvm options file {U}: 2 options",
                        "startJVM Java Virtual Machine is created!"},
                       {"* No application name"}},
        OwnOptionsCase{"SystemsFileBetweenTheTreesAndTheUsers", "name={N}\n",
                       "-Dcorvane.test.first=system\n-Dcorvane.test.tree=system\n", UserFile::Text,
                       "-Dcorvane.test.first=user\n", {{"XDG_CONFIG_HOME", "relative/config"}, {"HOME", "{S}/home"}},
                       "{S}/home/.config", 0, {{"corvane.test.first", "user"}, {"corvane.test.tree", "system"}},
                       {"* Using the system's jvm options file {E}: 2 options",
                        "* Using the user's jvm options file {U}: 1 option"},
                       {}},
        OwnOptionsCase{"UsersFileIsADirectory", "name={N}\n", nullptr, UserFile::Directory, nullptr,
                       {{"XDG_CONFIG_HOME", "{S}/config"}}, "{S}/config", 0, {{"corvane.test.first", "tree"}},
                       {NO_SYSTEM_FILE, "* Skipping the user's jvm options file {U}: Is a directory",
                        "startJVM Java Virtual Machine is created!"},
                       {}},
        OwnOptionsCase{"UsersFileIsAFifoWithoutWriter", "name={N}\n", nullptr, UserFile::Fifo, nullptr,
                       {{"XDG_CONFIG_HOME", "{S}/config"}}, "{S}/config", 0, {{"corvane.test.first", "tree"}},
                       {"* Skipping the user's jvm options file {U}: not a regular file",
                        "startJVM Java Virtual Machine is created!"},
                       {}},
        // Refused by the VM: the start runs again (its log from a new banner) without the user's file.
        OwnOptionsCase{"OptionTheVmRejectsLeavesTheUsersFileOut", "name={N}\n", nullptr, UserFile::Text,
                       "-Dcorvane.test.first=user\n-XX:+CorvaneNoSuchOption\n", {{"XDG_CONFIG_HOME", "{S}/config"}},
                       "{S}/config", 0, {{"corvane.test.first", "tree"}},
                       {"* Leaving out the user's jvm options file {U}: the runtime refused a line of it at this start's "
                        "first attempt",
                        "startJVM Java Virtual Machine is created!"},
                       {}},
        OwnOptionsCase{"NoAbsoluteConfigHomeNoUsersFile", "name={N}\n", nullptr, UserFile::None, nullptr,
                       {{"XDG_CONFIG_HOME", "config"}}, "{S}/unused", 0, {{"corvane.test.first", "tree"}},
                       {NO_SYSTEM_FILE, "* No user jvm options file: neither XDG_CONFIG_HOME "
                                        "nor HOME is an absolute path"},
                       {"* Using the user's", "* Using the system's"}},
        OwnOptionsCase{"TreeWithoutRecordReadsNeither", nullptr, nullptr, UserFile::Text, "-Dcorvane.test.first=user\n",
                       {{"XDG_CONFIG_HOME", "{S}/config"}}, "{S}/config", 0, {{"corvane.test.first", "tree"}},
                       {"* No application name: the tree has no {L}corvane-tree.txt; the system's and "
                        "the user's jvm options files are not read"},
                       {"* Using the user's", "* The system's jvm options file"}},
        OwnOptionsCase{"RecordWithoutAValidNameReadsNeither", "#name={N}\nname=..\n", nullptr, UserFile::Text,
                       "-Dcorvane.test.first=user\n", {{"XDG_CONFIG_HOME", "{S}/config"}}, "{S}/config", 0,
                       {{"corvane.test.first", "tree"}},
                       {"* No application name: {L}corvane-tree.txt has no valid name line (name=..)"},
                       {"* Using the user's", "* The system's jvm options file"}}),
    RowName());

// --- what the Java side sees ---------------------------------------------

TEST(RealVm, JavaSideSeesEveryPropertyAndArgument) {
    InstallTree tree;
    std::filesystem::create_directories(tree.libDir() + "classes");
    tree.writeManifest("corvane-testapp.jar\r\n \t \r\nclasses\r\n");
    const std::string tmpDir = tree.makeScratchDir("tmp");
    const std::string report = tree.writeScratchFile("report.txt", "");
    const std::string argsFile = tree.writeScratchFile("jvm.args", "");
    RunOptions options;
    options.set["CORVANE_TESTAPP_REPORT"] = report;
    options.set["TMPDIR"] = tmpDir;
    const std::vector<std::string> args = {"--jvm-args=" + argsFile, "plain", "two words",
                                           "party \xF0\x9F\x8E\x89.txt", "bad\xFF" "byte", "caf\xC3\xA9 \xE2\x82\xAC", ""};
    const TreeRun run = tree.run(args, options, std::string("./corvane as called"));
    ASSERT_EQ(run.exitStatus, 0) << joinLines(run.log) << run.err;

    const std::string lib = tree.libDir();
    const std::string classPath = lib + "corvane-testapp.jar:" + lib + "classes";
    EXPECT_TRUE(run.has("startJVM Using class path:  " + lib + "corvane-testapp.jar\n" + lib + "classes"))
        << joinLines(run.log);

    const auto seen = readReport(report);
    const std::map<std::string, std::string> properties = {
        {"corvane.jars.path", lib},
        {"CORVANE_VERSION", CORVANE_TEST_VERSION},
        {"java.class.path", classPath},
        {"jna.library.path", tree.root()},
        {"jna.boot.library.path", tree.root()},
        {"vindo.library.path", tree.root()},
        {"jna.nounpack", "true"},
        {"jna.nosys", "true"},
        {"jna.noclasspath", "true"},
        {"vindo.gpu.resourceCacheLimit", "1M"},
        {"vindo.buffering", "2"},
        {"jdk.lang.processReaperUseDefaultStackSize", "true"},
        {"java.io.tmpdir", tmpDir},
    };
    for (const auto& [name, value] : properties) {
        auto it = seen.find("prop." + name);
        ASSERT_NE(it, seen.end()) << name << "\n" << readFile(report);
        EXPECT_EQ(it->second, value) << name;
    }
    EXPECT_EQ(seen.at("pid"), std::to_string(run.pid));

    const std::vector<std::string> expectedArgs = {
        "./corvane as called", "--jvm-args=" + argsFile, "plain", "two words", "party \\{1f389}.txt",
        "bad\\{fffd}byte", "caf\\{e9} \\{20ac}", ""};
    ASSERT_EQ(seen.at("argc"), std::to_string(expectedArgs.size()));
    for (std::size_t i = 0; i < expectedArgs.size(); ++i) {
        EXPECT_EQ(seen.at("arg." + std::to_string(i)), expectedArgs[i]) << i;
    }
}

// --- entry results ---------------------------------------------------------

struct EntryCase {
    const char* name;
    const char* mode;
    int status;
    std::vector<std::string> inOrder;  // message prefixes, in this order
    std::vector<std::string> absent;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<std::string> ROAD = {"run Program arguments: ", "startJVM JVM Args:", "startJVM Starting JVM",
                                       "startJVM Java Virtual Machine is created!", "operator() JVM calling main",
                                       "operator() JVM main ended"};

// The road of a start, with `inCall` logged during the entry call and `tail` after it.
std::vector<std::string> road(std::vector<std::string> tail, std::vector<std::string> inCall = {}) {
    std::vector<std::string> all(ROAD.begin(), ROAD.end() - 1);
    all.insert(all.end(), inCall.begin(), inCall.end());
    all.push_back(ROAD.back());
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

class RealVmEntryResult : public testing::TestWithParam<EntryCase> {};

TEST_P(RealVmEntryResult, EndsTheProcessAsExpected) {
    const EntryCase& c = GetParam();
    InstallTree tree;
    RunOptions options;
    options.set["CORVANE_TESTAPP_MODE"] = c.mode;
    options.timeoutSeconds = 20;
    const TreeRun run = tree.run({"--log-native-to-stdout"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, c.status) << joinLines(run.log) << run.err;
    expectInOrder(run, c.inOrder);
    for (const std::string& prefix : c.absent) {
        EXPECT_FALSE(run.has(prefix)) << prefix;
    }
    EXPECT_EQ(run.out, "");  // nothing on standard output
    if (c.status == 255) {
        ASSERT_FALSE(run.log.empty());
        EXPECT_EQ(run.log.back(), "operator() JVM main ended");  // nothing logged after it
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealVmEntryResult,
    testing::Values(
        EntryCase{"ReturnsOne", "return:1", 0, road({"operator() JVM exit after startup is set, exiting"}),
                  {"run JVM Start completed!", "operator() JVM started successfully", "reportFatalAndExit"}},
        EntryCase{"ReturnsTwo", "return:2", 107,
                  road({"reportFatalAndExit Failed to initialize Corvane JVM application: 107"},
                       {"callMainMethod Failed to invoke method ' startCorvane ' on the  CorvaneProcessEarlyEntry"}),
                  {}},
        EntryCase{"ReturnsThree", "return:3", 3,
                  road({"reportFatalAndExit Failed to initialize Corvane JVM application: 3"}), {"callMainMethod"}},
        EntryCase{"ReturnsMinusOne", "return:-7", 255, ROAD,
                  {"operator() JVM started successfully", "run JVM Start completed!", "reportFatalAndExit"}}),
    RowName());

TEST(RealVm, ApplicationThreadEndsTheParkedProcessWithItsStatus) {
    InstallTree tree;
    RunOptions options;
    options.set["CORVANE_TESTAPP_MODE"] = "exit:42";
    options.timeoutSeconds = 30;
    const TreeRun run = tree.run({}, options);
    ASSERT_FALSE(run.timedOut) << joinLines(run.log);
    EXPECT_EQ(run.exitStatus, 42) << joinLines(run.log) << run.err;
    expectInOrder(run, road({"operator() JVM started successfully", "run JVM Start completed!",
                             "run Entering dummy main loop", "jvm_exit JVM: exit( 42 )"}));
    EXPECT_FALSE(run.has("reportFatalAndExit"));
    // A generous bound: it catches a process that hangs on at exit, not a slow machine.
    EXPECT_LT(run.seconds, 8.0);
}

TEST(RealVm, ExceptionFromTheEntryMethodIs108WithTheStackTraceFirst) {
    InstallTree tree;
    RunOptions options;
    options.set["CORVANE_TESTAPP_MODE"] = "throw";
    const TreeRun run = tree.run({"--log-native-to-stdout"}, options);
    EXPECT_EQ(run.exitStatus, 108);
    expectInOrder(run, road({"reportFatalAndExit Failed to initialize Corvane JVM application: 108"},
                            {"callMainMethod Method ' startCorvane ' failed with exception!"}));
    const std::size_t trace = run.err.find("java.lang.IllegalStateException: testapp was asked to throw");
    const std::size_t frame = run.err.find("at com.vellumbry.corvane.entry.CorvaneProcessEarlyEntry.startCorvane");
    const std::size_t line = run.err.find("callMainMethod Method ' startCorvane ' failed with exception!");
    ASSERT_NE(trace, std::string::npos) << run.err;
    ASSERT_NE(frame, std::string::npos) << run.err;
    ASSERT_NE(line, std::string::npos) << run.err;
    EXPECT_LT(trace, frame);
    EXPECT_LT(frame, line);
}

TEST(RealVm, MissingEntryClassIs104WithTheVmsException) {
    InstallTree tree;
    std::filesystem::create_directories(tree.libDir() + "empty");
    tree.writeManifest("empty\n");
    const TreeRun run = tree.run({"--log-native-to-stdout"});
    EXPECT_EQ(run.exitStatus, 104) << joinLines(run.log) << run.err;
    expectInOrder(run, {"callMainMethod Failed to find  CorvaneProcessEarlyEntry  class",
                        "callMainMethod Finding  CorvaneProcessEarlyEntry  class failed with exception!",
                        "reportFatalAndExit Failed to initialize Corvane JVM application: 104"});
    const std::size_t trace = run.err.find("java.lang.NoClassDefFoundError: com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry");
    ASSERT_NE(trace, std::string::npos) << run.err;
    EXPECT_LT(trace, run.err.find("class failed with exception!"));
}

TEST(RealVm, EntryClassWithoutTheEntryMethodIs106) {
    InstallTree tree(TreeRuntime::Jdk, false);
    tree.addToLib(noMethodJar(), "app.jar");
    tree.writeManifest("app.jar\n");
    const TreeRun run = tree.run();
    EXPECT_EQ(run.exitStatus, 106) << joinLines(run.log);
    expectInOrder(run, {"callMainMethod Failed to find method ' startCorvane ' on  CorvaneProcessEarlyEntry",
                        "reportFatalAndExit Failed to initialize Corvane JVM application: 106"});
}

// --- the bootstrap manifest through the executable ------------------------

struct ManifestRunCase {
    const char* name;
    std::string manifest;  // empty: no manifest file
    int status;
    std::string message;  // after "reportFatalAndExit "; "{L}" is the lib directory
};

void PrintTo(const ManifestRunCase& c, std::ostream* os) {
    *os << c.name;
}

class RealVmManifest : public testing::TestWithParam<ManifestRunCase> {};

TEST_P(RealVmManifest, EndsWithItsStatus) {
    const ManifestRunCase& c = GetParam();
    InstallTree tree;
    std::filesystem::remove(tree.libDir() + "manifest-bootstrap.txt");
    std::filesystem::create_symlink("loop", tree.libDir() + "loop");
    if (!c.manifest.empty()) {
        tree.writeManifest(c.manifest);
    }
    const TreeRun run = tree.run();
    EXPECT_EQ(run.exitStatus, c.status) << joinLines(run.log);
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(run.log.back(), "reportFatalAndExit " + replaceAll(c.message, "{L}", tree.libDir()));
    EXPECT_FALSE(run.has("startJVM Starting JVM"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealVmManifest,
    testing::Values(
        ManifestRunCase{"Missing", "", 51, "Bootstrap manifest is missing or not accessible: {L}manifest-bootstrap.txt"},
        ManifestRunCase{"SecondEntryMissing", "corvane-testapp.jar\nmissing.jar\ncorvane-testapp.jar\n", 52,
                        "Bootstrap manifest entry does not exist: {L}missing.jar"},
        ManifestRunCase{"LeadingBlankKept", " corvane-testapp.jar\n", 52,
                        "Bootstrap manifest entry does not exist: {L} corvane-testapp.jar"},
        ManifestRunCase{"UndecidableEntry", "corvane-testapp.jar\r\nloop/a.jar\r\n", 52,
                        "Bootstrap manifest entry cannot be checked: {L}loop/a.jar: Too many levels of symbolic links"}),
    RowName());

// --- the VM's console output -----------------------------------------------

TEST(RealVm, VmOutputGoesToTheLogThroughTheHookNoneLost) {
    // Unified logging without decorations makes one output-hook call per
    // message. The same selection goes to the console, which the hook sends to
    // the log, and to a file of the VM's own, which stays the VM's: every
    // message must reach the log as often as the file.
    InstallTree tree;
    const std::string selection = "gc*=debug,safepoint=info,os+thread=info";
    const std::string second = tree.root() + "/vm-output.txt";
    const std::string argsFile = tree.writeScratchFile(
        "jvm.args", "-Xlog:" + selection + ":stdout:none\n-Xlog:" + selection + ":file=" + second + ":none\n");
    RunOptions options;
    options.set["CORVANE_TESTAPP_MODE"] = "gc-exit:0";
    const TreeRun run = tree.run({"--jvm-args=" + argsFile}, options);
    ASSERT_EQ(run.exitStatus, 0) << joinLines(run.log) << run.err;
    EXPECT_EQ(run.out, "");  // nothing on the terminal's standard output

    std::map<std::string, int> logged;
    const std::string head = "jvm_vprintf JVM:  ";
    for (const std::string& m : run.log) {
        // Whole unified-logging messages end in a line feed; fragments of the
        // VM's warning() lines do not.
        if (m.compare(0, head.size(), head) == 0 && m.back() == '\n') {
            ++logged[m.substr(head.size())];
        }
    }
    std::map<std::string, int> filed;
    for (const std::string& line : splitLines(readFile(second))) {
        ++filed[line + "\n"];
    }
    std::size_t total = 0;
    std::set<std::string> aliveThreads;
    for (const auto& [message, count] : filed) {
        EXPECT_EQ(logged[message], count) << "lost in the log, or written twice: " << message;
        total += static_cast<std::size_t>(count);
        if (message.rfind("Thread is alive (tid: ", 0) == 0) {
            aliveThreads.insert(message);
        }
        EXPECT_EQ(run.err.find(message), std::string::npos) << "on the terminal: " << message;
    }
    EXPECT_GT(total, 20u);
    // Several VM threads logged: each new thread reports itself.
    EXPECT_GE(aliveThreads.size(), 3u);
}

}  // namespace
