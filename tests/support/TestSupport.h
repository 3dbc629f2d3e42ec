#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvane::test {

// Result of running a program to its end (or until it was killed on timeout).
struct RunResult {
    int exitStatus = -1;   // exit status, or -1 when it ended by a signal
    int signal = 0;        // the signal that ended it, or 0
    bool timedOut = false; // killed because it outlived the timeout
    std::string out;       // standard output
    std::string err;       // standard error
    double seconds = 0;    // wall time
};

struct RunOptions {
    // The environment starts from a minimal one (PATH, LANG=C.UTF-8,
    // and ASAN_OPTIONS, UBSAN_OPTIONS, TSAN_OPTIONS, LSAN_OPTIONS when the test has
    // them) unless inheritEnvironment is set; `set` adds or replaces, `unset` removes.
    bool inheritEnvironment = false;
    std::map<std::string, std::string> set;
    std::vector<std::string> unset;
    double timeoutSeconds = 60;
    std::string workingDirectory;  // empty: the current one
    std::string standardInput;     // fed on stdin, then closed
};

// Runs `program` with `arguments` (argv[0] is `program` unless argv0 is given).
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {}, const std::optional<std::string>& argv0 = std::nullopt);

// A fresh directory under the build tree (or TMPDIR), removed at destruction.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag = "t");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& child) const { return path_ + "/" + child; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& content, int mode = 0644);
bool fileExists(const std::string& path);
std::vector<std::string> splitLines(const std::string& text);  // on '\n', no trailing empty entry

// The launcher executable under test.
std::string launcherPath();

// The JDK the tests run against, and whether it takes the launcher's default options.
std::string jdkHome();
int jdkMajor();
bool jdkSupportsDefaultOptions();

// Lines of the native log that come after the last banner, with the prefix,
// timestamp and level tag cut off: each starts with the function name.
std::vector<std::string> logMessagesOfLastRun(const std::string& logFile);

}  // namespace corvane::test
