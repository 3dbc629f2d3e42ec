#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/TestSupport.h"

namespace spine {

extern const std::string BANNER;  // what initialize_logging appends before a run's lines
extern const std::string TAG;     // the 38-character level tag

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

// The launcher, started with `arguments` and an environment of PATH, LANG and `env`.
corvane::test::RunResult runLauncher(const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& env,
                                     const std::string& workingDirectory = "");

// Runs `body` in a forked child (which ends with its result); returns the child's pid.
pid_t startChild(const std::function<int()>& body);
// Waits for a child from startChild: its exit status, or -1 when it died by a signal or hung.
int finishChild(pid_t child, double timeoutSeconds = 240);

// Every "@" in the text (or in the values of the environment) replaced with `scratch`.
std::string at(std::string text, const std::string& scratch);
std::map<std::string, std::string> at(const std::map<std::string, std::string>& env, const std::string& scratch);

mode_t currentUmask();
mode_t modeOf(const std::string& path);  // permission bits, 0 when missing
std::vector<std::string> entriesOf(const std::string& directory);  // sorted names

}  // namespace spine
