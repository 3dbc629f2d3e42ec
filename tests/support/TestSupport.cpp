#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
    if (options.inheritEnvironment) {
        for (char** e = environ; *e != nullptr; ++e) {
            const char* eq = std::strchr(*e, '=');
            if (eq != nullptr) {
                env[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
            }
        }
    } else {
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
    }
    for (const auto& [key, value] : options.set) {
        env[key] = value;
    }
    for (const std::string& key : options.unset) {
        env.erase(key);
    }
    std::vector<std::string> result;
    for (const auto& [key, value] : env) {
        result.push_back(key + "=" + value);
    }
    return result;
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
    std::vector<char*> envp;
    for (std::string& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings;
    argStrings.push_back(argv0 ? *argv0 : program);
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : argStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
            _exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(inPipe[0]);
    if (!options.standardInput.empty()) {
        const ssize_t ignored = ::write(inPipe[1], options.standardInput.data(), options.standardInput.size());
        (void)ignored;
    }
    ::close(inPipe[1]);

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
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            result.timedOut = true;
            ::waitpid(child, &status, 0);
            break;
        }
        ::usleep(2000);
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
    return jdkMajor() >= 24;
}

std::vector<std::string> logMessagesOfLastRun(const std::string& logFile) {
    const std::string text = readFile(logFile);
    const std::string banner = "==========================================\nLogger initialized\n";
    const std::size_t at = text.rfind(banner);
    const std::string tail = at == std::string::npos ? text : text.substr(at + banner.size());
    const std::string tag = " INFO   ---- (native)                  ";
    std::vector<std::string> messages;
    for (const std::string& line : splitLines(tail)) {
        const std::size_t t = line.find(tag);
        if (t != std::string::npos) {
            messages.push_back(line.substr(t + tag.size()));
        } else if (!messages.empty()) {
            // A message that held line feeds goes on over several lines.
            messages.back() += "\n" + line;
        }
    }
    return messages;
}

}  // namespace corvane::test
