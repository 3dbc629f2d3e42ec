#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

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
    // The environment is a minimal one (PATH, LANG=C.UTF-8, and ASAN_OPTIONS,
    // UBSAN_OPTIONS, TSAN_OPTIONS, LSAN_OPTIONS when the test has them) with `set`
    // added or replaced.
    std::map<std::string, std::string> set;
    double timeoutSeconds = 60;
    std::string workingDirectory;  // empty: the current one
    // Runs in the child, after its descriptors are set up and before the exec
    // (closing a descriptor, setting a limit); false ends the child with 125.
    std::function<bool()> inChild;
};

// Runs `program` with `arguments` (argv[0] is `program` unless argv0 is given).
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = {}, const std::optional<std::string>& argv0 = std::nullopt);

// The launcher under test, started with `arguments` in the minimal environment plus `env`.
RunResult runLauncher(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env = {},
                      const std::string& workingDirectory = "",
                      const std::optional<std::string>& argv0 = std::nullopt);

// Starts `program` in the environment and working directory runProgram would
// give it, with standard input, output and error on /dev/null, and returns at
// once: its pid, or -1.
pid_t startProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const RunOptions& options = {});

// Waits for a child: its exit status, or -1 when it died by a signal or
// outlived the timeout (then it is killed).
int finishChild(pid_t child, double timeoutSeconds = 240);

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
std::string joinLines(const std::vector<std::string>& lines);    // each followed by '\n'
// Every `from` in `text` replaced with `to` (the replacement is not searched again).
std::string replaceAll(std::string text, const std::string& from, const std::string& to);

// Names each test of a parameterised suite after its row's `name` member.
struct RowName {
    template <typename ParamInfo>
    std::string operator()(const ParamInfo& info) const {
        return info.param.name;
    }
};

// The launcher executable under test.
std::string launcherPath();

// The JDK the tests run against, and whether it takes the launcher's default options.
std::string jdkHome();
int jdkMajor();
bool jdkSupportsDefaultOptions();

extern const std::string LOG_BANNER;  // what initialize_logging appends before a run's lines

// One native log line, split into its fields.
struct LogLine {
    long pid = 0;
    std::string timestamp;  // "YYYY-MM-DD HH:MM:SS.mmm"
    std::string message;    // after the tag and its following blank: starts with the function name
};

// Parses one line (without its line feed); nullopt unless every field is exactly as the log writes it.
std::optional<LogLine> parseLogLine(const std::string& line);

// The messages written after the last banner of `text`. A line that does not parse continues the
// message before it (a piece with line feeds); a stray line before any message is reported as "<stray>".
std::vector<std::string> messagesAfterLastBanner(const std::string& text);

// messagesAfterLastBanner() of a log file: each message starts with the function name.
std::vector<std::string> logMessagesOfLastRun(const std::string& logFile);

}  // namespace corvane::test
