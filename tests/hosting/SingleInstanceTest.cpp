// One instance per user through the real executable and the real VM: the test
// application listens through the API (SingleInstance.listen) and writes what
// the second starts hand over to a file.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/InstallTree.h"

namespace {

using namespace corvane::test;

const std::string NAME = "ci-app";

enum class Before {
    Nothing,
    StaleSocket,  // a socket file nobody listens on, as a killed instance leaves it
    PlainFile,    // a regular file where the socket belongs
    ListenerOfAnotherUser,  // a live socket of this user's whose listener runs as another (needs root)
};

struct InstanceCase {
    const char* name;
    const char* record;  // lib/corvane-tree.txt
    Before before;
    mode_t runtimeMode;  // XDG_RUNTIME_DIR's mode
    bool together;       // both starts at the same moment (else the second after the first listens)
    std::vector<std::string> arguments;  // the second start's; {P} is the pid of an ended process
    bool listens;        // the first instance answers second starts
    bool handedOver;     // the second start ends by handing over (else it runs a VM of its own)
    std::vector<std::string> firstLog;   // message prefixes in order; {S} the socket, {K} the lock, {R} the runtime dir
    std::vector<std::string> secondLog;
    std::vector<std::string> absent;     // in neither log
};

void PrintTo(const InstanceCase& c, std::ostream* os) {
    *os << c.name;
}

// A short private folder for XDG_RUNTIME_DIR (socket paths are short), removed at the end.
struct RuntimeDir {
    std::string path;
    explicit RuntimeDir(mode_t mode) {
        char pattern[] = "/tmp/corvane-run-XXXXXX";
        path = ::mkdtemp(pattern) != nullptr ? pattern : "";
        ::chmod(path.c_str(), mode);
    }
    ~RuntimeDir() {
        if (!path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;
};

// Binds a socket at `path` and closes it without removing the file.
bool makeStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// A process that binds the socket as this user, then listens as uid 65534 (the
// peer's credentials are those of the listen), and takes every start it is
// handed: it keeps what it was sent in `record` and answers "ok". Killed at the end.
struct ForeignListener {
    pid_t pid = -1;
    std::string record;

    bool start(const std::string& path, const std::string& recordPath) {
        record = recordPath;
        int ready[2];
        if (::pipe(ready) != 0) {
            return false;
        }
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            path.copy(address.sun_path, sizeof address.sun_path - 1);
            const int out = ::open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd < 0 || out < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
                ::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0 || ::listen(fd, 8) != 0 || ::write(ready[1], "x", 1) != 1) {
                ::_exit(1);
            }
            for (;;) {
                const int start = ::accept(fd, nullptr, nullptr);
                if (start < 0) {
                    continue;
                }
                char buffer[4096];
                const ssize_t count = ::recv(start, buffer, sizeof buffer, 0);
                if (count > 0) {
                    (void)!::write(out, buffer, static_cast<std::size_t>(count));
                }
                (void)::send(start, "ok\n", 3, MSG_NOSIGNAL);
                ::close(start);
            }
        }
        ::close(ready[1]);
        char byte = 0;
        const bool listening = pid > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        return listening;
    }

    ~ForeignListener() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// The value of the first "key=" line of the file, or nullopt.
std::optional<std::string> valueIn(const std::string& path, const std::string& key) {
    for (const std::string& line : splitLines(readFile(path))) {
        if (line.compare(0, key.size() + 1, key + "=") == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return std::nullopt;
}

bool hasLine(const std::string& path, const std::string& wanted) {
    for (const std::string& line : splitLines(readFile(path))) {
        if (line == wanted) {
            return true;
        }
    }
    return false;
}

// Waits (bounded, against a hang) until `line` stands in the file.
bool waitForLine(const std::string& path, const std::string& line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& l : splitLines(readFile(path))) {
            if (l.compare(0, line.size(), line) == 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void expectInOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected,
                   const std::string& whose) {
    std::size_t next = 0;
    for (const std::string& prefix : expected) {
        while (next < log.size() && !TreeRun::matches(log[next], prefix)) {
            ++next;
        }
        EXPECT_LT(next, log.size()) << whose << ": missing, or out of order: " << prefix << "\n" << joinLines(log);
        next = next < log.size() ? next + 1 : 0;
    }
}

bool hasPrefix(const std::vector<std::string>& log, const std::string& prefix) {
    for (const std::string& line : log) {
        if (TreeRun::matches(line, prefix)) {
            return true;
        }
    }
    return false;
}

bool isSocket(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The pid of a process that has ended (and been reaped).
pid_t endedPid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

class RealVmSingleInstance : public testing::TestWithParam<InstanceCase> {};

TEST_P(RealVmSingleInstance, SecondStartHandsOverOrStartsItsOwnVm) {
    const InstanceCase& c = GetParam();
    if (c.before == Before::ListenerOfAnotherUser && ::geteuid() != 0) {
        GTEST_SKIP() << "a listener of another user needs root to take that user's uid";
    }
    InstallTree tree;
    const RuntimeDir runtime(c.runtimeMode);
    ASSERT_FALSE(runtime.path.empty());
    const std::string folder = runtime.path + "/corvane";
    const std::string socket = folder + "/" + NAME + ".socket";
    const std::string pid = std::to_string(endedPid());
    auto expand = [&](std::string text) {
        for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
                 {"{S}", socket}, {"{K}", folder + "/" + NAME + ".lock"}, {"{R}", runtime.path}, {"{P}", pid}}) {
            text = replaceAll(text, from, to);
        }
        return text;
    };
    ASSERT_TRUE(writeFile(tree.libDir() + "corvane-tree.txt", replaceAll(c.record, "{N}", NAME)));
    ForeignListener foreign;
    if (c.before != Before::Nothing) {
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    }
    if (c.before == Before::StaleSocket || c.before == Before::PlainFile) {
        ASSERT_TRUE(c.before == Before::StaleSocket ? makeStaleSocket(socket) : writeFile(socket, "x"));
    }
    if (c.before == Before::ListenerOfAnotherUser) {
        ASSERT_TRUE(foreign.start(socket, tree.scratchDir() + "/foreign.txt"));
    }
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments) {
        arguments.push_back(expand(argument));
    }
    // Each start: its own log and its own file of what it received.
    auto options = [&](const std::string& tag, const std::string& mode) {
        RunOptions o;
        o.set = {{"XDG_RUNTIME_DIR", runtime.path},
                 {"CORVANE_TESTAPP_MODE", mode},
                 {"CORVANE_TESTAPP_RECEIVED", tree.scratchDir() + "/received-" + tag + ".txt"},
                 {"CORVANE_NATIVE_LOG_DIR_OVERRIDE", tree.makeScratchDir("logs-" + tag)}};
        o.workingDirectory = tree.makeScratchDir("work-" + tag);
        return o;
    };
    auto received = [&](const std::string& tag) { return tree.scratchDir() + "/received-" + tag + ".txt"; };
    auto logOf = [&](const std::string& tag) {
        return logMessagesOfLastRun(tree.scratchDir() + "/logs-" + tag + "/corvane-native.log");
    };

    // Together, both starts are alike: either may become the instance.
    const pid_t first = tree.start(c.together ? arguments : std::vector<std::string>{"first"}, options("1", "listen"));
    ASSERT_GT(first, 0);
    std::string listener = "1";
    std::string second = "2";
    if (c.together) {
        // Both look for an instance at once; whichever takes the lock runs the VM.
        const pid_t other = tree.start(arguments, options("2", "listen"));
        ASSERT_GT(other, 0);
        const bool firstGotIt = [&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < deadline) {
                if (hasLine(received("1"), "open.0.end")) {
                    return true;
                }
                if (hasLine(received("2"), "open.0.end")) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ADD_FAILURE() << "no start was handed over";
            return true;
        }();
        listener = firstGotIt ? "1" : "2";
        second = firstGotIt ? "2" : "1";
        EXPECT_EQ(finishChild(firstGotIt ? other : first, 30), 0);
        EXPECT_FALSE(fileExists(received(second))) << "the handed-over start ran the application";
        ::kill(firstGotIt ? first : other, SIGTERM);
        EXPECT_EQ(finishChild(firstGotIt ? first : other, 30), 143);
    } else {
        ASSERT_TRUE(waitForLine(received("1"), "listening=")) << joinLines(logOf("1"));
        EXPECT_EQ(valueIn(received("1"), "listening"), c.listens ? "true" : "false");
        EXPECT_EQ(isSocket(socket), c.listens);
        RunOptions o = options("2", "return:1");
        const pid_t secondPid = tree.start(arguments, o);
        EXPECT_EQ(finishChild(secondPid, 60), 0) << joinLines(logOf("2"));
        if (c.handedOver) {
            EXPECT_TRUE(waitForLine(received("1"), "open.0.end"));
        }
        ::kill(first, SIGTERM);
        EXPECT_EQ(finishChild(first, 30), 143);
    }
    // The instance's socket goes with it.
    EXPECT_FALSE(c.listens && isSocket(socket));

    const std::vector<std::string> firstLog = logOf(listener);
    const std::vector<std::string> secondLog = logOf(second);
    std::vector<std::string> wanted;
    for (const std::string& prefix : c.firstLog) {
        wanted.push_back(expand(prefix));
    }
    expectInOrder(firstLog, wanted, "the first start");
    wanted.clear();
    for (const std::string& prefix : c.secondLog) {
        wanted.push_back(expand(prefix));
    }
    expectInOrder(secondLog, wanted, "the second start");
    for (const std::string& prefix : c.absent) {
        EXPECT_FALSE(hasPrefix(firstLog, expand(prefix)) || hasPrefix(secondLog, expand(prefix))) << prefix;
    }
    EXPECT_EQ(hasPrefix(secondLog, "startJVM Starting JVM"), !c.handedOver) << joinLines(secondLog);

    if (c.handedOver) {
        EXPECT_EQ(valueIn(received(listener), "open.0.cwd"), tree.scratchDir() + "/work-" + second);
        EXPECT_EQ(valueIn(received(listener), "open.0.argc"), "1");
        EXPECT_EQ(valueIn(received(listener), "open.0.arg.0"), c.arguments.back());
        EXPECT_FALSE(hasLine(received(listener), "open.1.end")) << "one start, one call";
    } else {
        EXPECT_FALSE(hasLine(received(listener), "open.0.end")) << readFile(received(listener));
    }
    if (foreign.pid > 0) {
        EXPECT_EQ(readFile(foreign.record), "") << "a listener of another user was handed a start";
    }
    if (std::string(c.record).find("single-instance=yes") == std::string::npos) {
        EXPECT_FALSE(fileExists(folder)) << "a tree that does not ask made " << folder;
    }
}

const char ASKS[] = "format=1\nname={N}\nsingle-instance=yes\n";
const char NOT_LOOKING[] = "; starting without looking for a running instance";

INSTANTIATE_TEST_SUITE_P(
    Table, RealVmSingleInstance,
    testing::Values(
        InstanceCase{"SecondStartHandsOverItsDirectoryAndArguments", ASKS, Before::Nothing, 0700, false,
                     {"--log-native-to-stdout", "docs/a file.txt"}, true, true,
                     {"* No running instance: {S} does not exist",
                      "* This start is the instance: it holds {K}", "startJVM Starting JVM"},
                     {"run Program arguments: ", "* Handed this start over to the running instance at {S}"},
                     {}},
        InstanceCase{"WaitForPidStartIsNotHandedOver", ASKS, Before::Nothing, 0700, false,
                     {"--wait-for-pid", "{P}", "x.txt"}, true, false, {},
                     {"* One instance: a --wait-for-pid start is never handed over",
                      "startJVM Java Virtual Machine is created!"},
                     {"* Handed"}},
        InstanceCase{"StaleSocketMeansANormalStartThatReplacesIt", ASKS, Before::StaleSocket, 0700, false,
                     {"b.txt"}, true, true,
                     {"* No running instance: {S} is stale (Connection refused)",
                      "* This start is the instance: it holds {K}", "startJVM Starting JVM"},
                     {"* Handed this start over to the running instance at {S}"}, {}},
        InstanceCase{"TreeWithoutTheKeyMakesNoSocket", "format=1\nname={N}\nsingle-instance=no\n", Before::Nothing,
                     0700, false, {"c.txt"}, false, false, {}, {"startJVM Java Virtual Machine is created!"},
                     {"* One instance", "* No running instance", "* This start is the instance", "* Handed", "* Another start"}},
        InstanceCase{"RuntimeDirNotPrivateMeansNormalStarts", ASKS, Before::Nothing, 0755, false, {"d.txt"}, false,
                     false, {std::string("* One instance: XDG_RUNTIME_DIR '{R}' does not have mode 0700") +
                             NOT_LOOKING},
                     {"* One instance: XDG_RUNTIME_DIR", "startJVM Java Virtual Machine is created!"},
                     {"* No running instance", "* This start is the instance", "* Handed"}},
        InstanceCase{"PlainFileAtTheSocketIsRefused", ASKS, Before::PlainFile, 0700, false, {"e.txt"}, false, false,
                     {"* Refusing {S}: it is not a socket; starting normally",
                      "* This start is the instance: it holds {K}"},
                     {"* Refusing {S}: it is not a socket; starting normally",
                      "startJVM Java Virtual Machine is created!"},
                     {}},
        // The instance that the start then becomes replaces the other user's socket.
        InstanceCase{"ListenerOfAnotherUserIsRefused", ASKS, Before::ListenerOfAnotherUser, 0700, false, {"g.txt"},
                     true, true,
                     {"* Refusing {S}: the peer runs as uid 65534, not as this user; starting normally",
                      "* This start is the instance: it holds {K}", "startJVM Starting JVM"},
                     {"* Handed this start over to the running instance at {S}"}, {}},
        InstanceCase{"TwoStartsAtOnceMakeOneInstance", ASKS, Before::Nothing, 0700, true, {"f.txt"}, true, true,
                     {"* This start is the instance: it holds {K}", "startJVM Starting JVM"},
                     {"* Handed this start over to the running instance at {S}"}, {}}),
    RowName());

}  // namespace
