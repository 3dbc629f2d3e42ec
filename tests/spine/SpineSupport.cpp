#include "SpineSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace spine {

const std::string BANNER = "\n\n" + std::string(42, '=') + "\nLogger initialized\n";
const std::string TAG = " INFO   ---- (native)" + std::string(17, ' ');

std::optional<LogLine> parseLogLine(const std::string& line) {
    // Version, pid and timestamp come before the tag; the message follows it after one blank.
    static const std::regex head(std::regex_replace(CORVANE_TEST_VERSION, std::regex("\\."), "\\.") +
                                 " ([1-9][0-9]{0,9}) ([0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01]) "
                                 "([01][0-9]|2[0-3]):[0-5][0-9]:[0-6][0-9]\\.[0-9]{3})");
    const std::size_t tag = line.find(TAG);
    std::smatch match;
    const std::string before = line.substr(0, tag);
    if (tag == std::string::npos || !std::regex_match(before, match, head) || line.size() < tag + TAG.size() + 2 ||
        line[tag + TAG.size()] != ' ' || line[tag + TAG.size() + 1] == ' ') {
        return std::nullopt;
    }
    return LogLine{std::stol(match[1]), match[2], line.substr(tag + TAG.size() + 1)};
}

std::vector<std::string> messagesAfterLastBanner(const std::string& text) {
    const std::size_t at = text.rfind(BANNER);
    const std::string tail = at == std::string::npos ? text : text.substr(at + BANNER.size());
    std::vector<std::string> messages;
    for (const std::string& line : corvane::test::splitLines(tail)) {
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

corvane::test::RunResult runLauncher(const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& env,
                                     const std::string& workingDirectory) {
    corvane::test::RunOptions options;
    options.set = env;
    options.workingDirectory = workingDirectory;
    options.timeoutSeconds = 60;
    return corvane::test::runProgram(corvane::test::launcherPath(), arguments, options);
}

pid_t startChild(const std::function<int()>& body) {
    std::fflush(stdout);  // the child must not print the parent's buffered output again
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child == 0) {
        int result = 98;
        try {
            result = body();
        } catch (...) {
            result = 99;
        }
        ::_exit(result);
    }
    return child;
}

int finishChild(pid_t child, double timeoutSeconds) {
    if (child < 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        ::usleep(5000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string at(std::string text, const std::string& scratch) {
    for (std::size_t p = text.find('@'); p != std::string::npos; p = text.find('@', p + scratch.size())) {
        text.replace(p, 1, scratch);
    }
    return text;
}

std::map<std::string, std::string> at(const std::map<std::string, std::string>& env, const std::string& scratch) {
    std::map<std::string, std::string> result;
    for (const auto& [key, value] : env) {
        result[key] = at(value, scratch);
    }
    return result;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

std::vector<std::string> entriesOf(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace spine
