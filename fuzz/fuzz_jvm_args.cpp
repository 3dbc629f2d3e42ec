// Fuzzes the JVM arguments file reader and the option list built from its
// lines. The input holds five fields (see FuzzFields.h) for the variables
// CORVANE_AGGRESSIVE_OPTIMIZATIONS, CORVANE_GC_FORCE_SERIAL_GC,
// CORVANE_GC_FORCE_PARALLEL_GC, CORVANE_GC_AGGRESSIVE_RECLAIM and
// CORVANE_GC_MAX_PAUSE_MILLIS, then the file's text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzFields.h"
#include "jvm/JvmOptions.h"

namespace {

int hookTarget = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvane::fuzz::FieldReader fields(data, size);
    corvane::jvm::OptionInputs inputs;
    inputs.aggressiveOptimizations = fields.next();
    inputs.forceSerialGc = fields.next();
    inputs.forceParallelGc = fields.next();
    inputs.aggressiveReclaim = fields.next();
    inputs.maxPauseMillis = fields.next();
    const std::string text = fields.rest();

    std::istringstream in(text);
    const std::vector<std::string> lines = corvane::jvm::readJvmArgsLines(in);

    // The lines are the text cut at each line feed, verbatim, with no entry
    // after a final line feed.
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            joined.push_back('\n');
        }
        if (lines[i].find('\n') != std::string::npos) {
            std::abort();
        }
        joined += lines[i];
    }
    if (!text.empty() && text.back() == '\n') {
        joined.push_back('\n');
    }
    if (joined != text) {
        std::abort();
    }

    inputs.jvmArgsFileLines = lines;
    inputs.installDir = "/opt/corvane";
    inputs.classPath = "/opt/corvane/lib/a.jar";
    inputs.logsDir = "/tmp/logs";
    inputs.pid = 4242;
    inputs.stackSizeOption = corvane::jvm::stackSizeOptForPageSize(4096);
    inputs.version = "1.0.0.0";
    inputs.vprintfHook = &hookTarget;
    inputs.exitHook = &hookTarget;
    inputs.abortHook = &hookTarget;
    const std::vector<corvane::jvm::OptionEntry> entries = corvane::jvm::buildJvmOptionEntries(inputs);

    // "-Xmx160m" first, then the file's lines in order, verbatim.
    if (entries.size() < lines.size() + 1 || entries[0].text != "-Xmx160m") {
        std::abort();
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (entries[i + 1].text != lines[i] || entries[i + 1].extraInfo != nullptr) {
            std::abort();
        }
    }
    // Exactly the three hooks carry extra information, in their order.
    std::vector<std::string> hooks;
    for (const corvane::jvm::OptionEntry& entry : entries) {
        if (entry.extraInfo != nullptr) {
            hooks.push_back(entry.text);
        }
    }
    if (hooks != std::vector<std::string>{"vfprintf", "exit", "abort"}) {
        std::abort();
    }
    // The log form holds every option, each followed by "\n\t".
    std::size_t expectedLength = 2;
    for (const corvane::jvm::OptionEntry& entry : entries) {
        expectedLength += entry.text.size() + 2;
    }
    if (corvane::jvm::formatOptionsForLog(entries).size() != expectedLength) {
        std::abort();
    }
    return 0;
}
