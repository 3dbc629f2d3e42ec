#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {

namespace {

std::vector<std::string> buildEnvironment(const RunOptions& options) {
    std::map<std::string, std::string> env;
    const char* path = std::getenv("PATH");
    env["PATH"] = path != nullptr ? path : "/usr/bin:/bin";
    env["LANG"] = "C.UTF-8";
    // A sanitizer build's settings reach the launcher processes it starts.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char* value = std::getenv(name);
        if (value != nullptr) {
            env[name] = value;
        }
    }
    for (const auto& [key, value] : options.set) {
        env[key] = value;
    }
    std::vector<std::string> result;
    for (const auto& [key, value] : env) {
        result.push_back(key + "=" + value);
    }
    return result;
}

// Pointers into `strings`, ended by a null pointer, as execve takes them.
std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> argumentList(const std::string& argv0, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {argv0};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

using Deadline = std::chrono::time_point<std::chrono::steady_clock, std::chrono::duration<double>>;

// Reaps `child` into `status`; false when it was still running at `deadline`
// (then it is killed and reaped all the same).
bool reapBefore(pid_t child, Deadline deadline, int& status) {
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        ::usleep(2000);
    }
    return true;
}

void drain(int fd, std::string& into, bool& open) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        open = false;
    }
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options, const std::optional<std::string>& argv0) {
    RunResult result;
    int outPipe[2];
    int errPipe[2];
    int inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 || ::pipe2(inPipe, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    std::vector<std::string> envStrings = buildEnvironment(options);
    const std::vector<char*> envp = cStrings(envStrings);
    std::vector<std::string> argStrings = argumentList(argv0 ? *argv0 : program, arguments);
    const std::vector<char*> argv = cStrings(argStrings);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            _exit(126);
        }
        if (options.inChild && !options.inChild()) {
            _exit(125);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    ::close(inPipe[1]);  // the program reads an empty standard input

    bool outOpen = true;
    bool errOpen = true;
    const auto deadline = start + std::chrono::duration<double>(options.timeoutSeconds);
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(child, SIGKILL);
            result.timedOut = true;
            break;
        }
        struct pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            drain(outPipe[0], result.out, outOpen);
        }
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            drain(errPipe[0], result.err, errOpen);
        }
    }
    int status = 0;
    // The pipes may close before the process ends (a child that closes them);
    // bound the wait for its end too.
    if (!reapBefore(child, deadline, status)) {
        result.timedOut = true;
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

RunResult runLauncher(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env,
                      const std::string& workingDirectory, const std::optional<std::string>& argv0) {
    RunOptions options;
    options.set = env;
    options.workingDirectory = workingDirectory;
    return runProgram(launcherPath(), arguments, options, argv0);
}

pid_t startProgram(const std::string& program, const std::vector<std::string>& arguments, const RunOptions& options) {
    std::vector<std::string> envStrings = buildEnvironment(options);
    const std::vector<char*> envp = cStrings(envStrings);
    std::vector<std::string> argStrings = argumentList(program, arguments);
    const std::vector<char*> argv = cStrings(argStrings);
    const pid_t child = ::fork();
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            ::_exit(127);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return child;
}

int finishChild(pid_t child, double timeoutSeconds) {
    if (child < 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    const bool ended = reapBefore(child, deadline, status);
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ScratchDir::ScratchDir(const std::string& tag) {
    std::string base = std::string(CORVANE_TEST_BINARY_DIR) + "/test-scratch";
    std::filesystem::create_directories(base);
    std::string pattern = base + "/" + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = ::mkdtemp(buffer.data());
    path_ = made != nullptr ? made : base;
}

ScratchDir::~ScratchDir() {
    if (std::getenv("CORVANE_KEEP_TEST_SCRATCH") != nullptr) {
        return;
    }
    std::error_code ignored;
    // Make everything writable again so that tests may leave unreadable files.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool writeFile(const std::string& path, const std::string& content, int mode) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return out.good() && ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string launcherPath() {
    return CORVANE_TEST_LAUNCHER;
}

std::string jdkHome() {
    return CORVANE_TEST_JDK_HOME;
}

int jdkMajor() {
    return CORVANE_TEST_JDK_MAJOR;
}

bool jdkSupportsDefaultOptions() {
    return jdkMajor() >= CORVANE_TEST_JDK_MINIMUM;
}

const std::string LOG_BANNER = "\n\n" + std::string(42, '=') + "\nLogger initialized\n";
namespace {
const std::string LOG_TAG = " INFO   ---- (native)" + std::string(17, ' ');  // the 38-character level tag
}  // namespace

std::optional<LogLine> parseLogLine(const std::string& line) {
    // Version, pid and timestamp come before the tag; the message follows it after one blank.
    static const std::regex head(std::regex_replace(CORVANE_TEST_VERSION, std::regex("\\."), "\\.") +
                                 " ([1-9][0-9]{0,9}) ([0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01]) "
                                 "([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9]\\.[0-9]{3})");
    const std::size_t tag = line.find(LOG_TAG);
    std::smatch match;
    const std::string before = line.substr(0, tag);
    if (tag == std::string::npos || !std::regex_match(before, match, head) || line.size() < tag + LOG_TAG.size() + 2 ||
        line[tag + LOG_TAG.size()] != ' ' || line[tag + LOG_TAG.size() + 1] == ' ') {
        return std::nullopt;
    }
    return LogLine{std::stol(match[1]), match[2], line.substr(tag + LOG_TAG.size() + 1)};
}

std::vector<std::string> messagesAfterLastBanner(const std::string& text) {
    const std::size_t at = text.rfind(LOG_BANNER);
    const std::string tail = at == std::string::npos ? text : text.substr(at + LOG_BANNER.size());
    std::vector<std::string> messages;
    for (const std::string& line : splitLines(tail)) {
        if (const auto parsed = parseLogLine(line)) {
            messages.push_back(parsed->message);
        } else if (messages.empty()) {
            messages.push_back("<stray>" + line);
        } else {
            messages.back() += "\n" + line;
        }
    }
    return messages;
}

std::vector<std::string> logMessagesOfLastRun(const std::string& logFile) {
    return messagesAfterLastBanner(readFile(logFile));
}

}  // namespace corvane::test
