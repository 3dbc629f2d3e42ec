#include "support/InstallTree.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace corvane::test {

std::string testAppJar() {
    return std::string(CORVANE_TEST_BINARY_DIR) + "/testapp/corvane-testapp.jar";
}

std::string noMethodJar() {
    return std::string(CORVANE_TEST_BINARY_DIR) + "/testapp/corvane-testapp-nomethod.jar";
}

std::string fakeJvmLibrary() {
    return std::string(CORVANE_TEST_BINARY_DIR) + "/fakejvm/libcorvane_fakejvm.so";
}

std::string fakeJvmWithoutCreateLibrary() {
    return std::string(CORVANE_TEST_BINARY_DIR) + "/fakejvm/libcorvane_fakejvm_nocreate.so";
}

bool TreeRun::matches(const std::string& message, const std::string& prefix) {
    if (prefix.compare(0, 2, "* ") != 0) {
        return message.compare(0, prefix.size(), prefix) == 0;
    }
    const std::size_t blank = message.find(' ');
    return blank != std::string::npos && message.compare(blank + 1, prefix.size() - 2, prefix, 2) == 0;
}

int TreeRun::find(const std::string& prefix) const {
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (matches(log[i], prefix)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<std::string> TreeRun::jvmArgs() const {
    const std::string head = "startJVM JVM Args: \n\t";
    const int at = find(head);
    if (at < 0) {
        return {};
    }
    std::string text = log[static_cast<std::size_t>(at)].substr(head.size());
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\n\t", start)) != std::string::npos; start = end + 2) {
        entries.push_back(text.substr(start, end - start));
    }
    return entries;
}

InstallTree::InstallTree(TreeRuntime runtime, bool withTestApp, const std::string& appName)
    : scratch_("tree"), root_(scratch_ / appName), logDir_(scratch_ / "logs") {
    fs::create_directories(root_ + "/lib");
    fs::copy_file(launcherPath(), launcher());
    switch (runtime) {
        case TreeRuntime::Jdk:
            fs::create_directory_symlink(jdkHome(), root_ + "/jre");
            break;
        case TreeRuntime::FakeJvm:
        case TreeRuntime::FakeJvmWithoutCreate:
            fs::create_directories(root_ + "/jre/lib/server");
            fs::create_symlink(runtime == TreeRuntime::FakeJvm ? fakeJvmLibrary() : fakeJvmWithoutCreateLibrary(),
                               root_ + "/jre/lib/server/libjvm.so");
            break;
        case TreeRuntime::None:
            break;
    }
    if (withTestApp) {
        addToLib(testAppJar(), "corvane-testapp.jar");
        writeManifest("corvane-testapp.jar\n");
    }
}

void InstallTree::addToLib(const std::string& source, const std::string& name) const {
    fs::copy_file(source, libDir() + name, fs::copy_options::overwrite_existing);
}

void InstallTree::writeManifest(const std::string& content) const {
    writeFile(libDir() + "manifest-bootstrap.txt", content);
}

std::string InstallTree::writeScratchFile(const std::string& name, const std::string& content) const {
    const std::string path = scratch_ / name;
    writeFile(path, content);
    return path;
}

std::string InstallTree::makeScratchDir(const std::string& name) const {
    const std::string path = scratch_ / name;
    fs::create_directories(path);
    return path;
}

RunOptions InstallTree::withDefaults(RunOptions options) const {
    if (options.set.count("CORVANE_NATIVE_LOG_DIR_OVERRIDE") == 0) {
        options.set["CORVANE_NATIVE_LOG_DIR_OVERRIDE"] = logDir_;
    }
    if (!jdkSupportsDefaultOptions() && options.set.count("CORVANE_AGGRESSIVE_OPTIMIZATIONS") == 0) {
        options.set["CORVANE_AGGRESSIVE_OPTIMIZATIONS"] = "0";
    }
    if (options.timeoutSeconds == RunOptions().timeoutSeconds) {
        options.timeoutSeconds = 30;
    }
    return options;
}

TreeRun InstallTree::withLog(const RunResult& run) const {
    TreeRun result;
    static_cast<RunResult&>(result) = run;
    const std::string text = readFile(logFile());
    result.log = messagesAfterLastBanner(text);
    // The run's first line carries the launcher's pid.
    const std::size_t lastBanner = text.rfind(LOG_BANNER);
    if (lastBanner != std::string::npos) {
        const std::size_t lineStart = lastBanner + LOG_BANNER.size();
        const auto first = parseLogLine(text.substr(lineStart, text.find('\n', lineStart) - lineStart));
        result.pid = first ? static_cast<int>(first->pid) : 0;
    }
    return result;
}

TreeRun InstallTree::run(const std::vector<std::string>& arguments, RunOptions options,
                         const std::optional<std::string>& argv0) const {
    return withLog(runProgram(launcher(), arguments, withDefaults(std::move(options)), argv0));
}

pid_t InstallTree::start(const std::vector<std::string>& arguments, RunOptions options) const {
    return startProgram(launcher(), arguments, withDefaults(std::move(options)));
}

TreeRun InstallTree::runThrough(const std::vector<std::string>& wrapper, const std::vector<std::string>& arguments,
                                RunOptions options) const {
    std::vector<std::string> wrapperArgs(wrapper.begin() + 1, wrapper.end());
    wrapperArgs.push_back(launcher());
    wrapperArgs.insert(wrapperArgs.end(), arguments.begin(), arguments.end());
    return withLog(runProgram(wrapper.at(0), wrapperArgs, withDefaults(std::move(options))));
}

TreeRun FakeRuntimeTree::run(std::map<std::string, std::string> knobs, const std::vector<std::string>& args,
                             const std::optional<std::string>& argv0) const {
    RunOptions options;
    options.set = std::move(knobs);
    options.set["FAKEJVM_RECORD"] = recordPath;
    options.timeoutSeconds = 20;
    return tree.run(args, options, argv0);
}

bool FakeRuntimeTree::recorded(const std::string& prefix) const {
    for (const std::string& r : records()) {
        if (r.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace corvane::test
