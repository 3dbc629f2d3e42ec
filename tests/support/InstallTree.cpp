#include "support/InstallTree.h"

#include <algorithm>
#include <cstdlib>
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

int TreeRun::find(const std::string& prefix) const {
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].compare(0, prefix.size(), prefix) == 0) {
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

InstallTree::InstallTree(TreeRuntime runtime, bool withTestApp)
    : scratch_("tree"), root_(scratch_ / "app"), logDir_(scratch_ / "logs") {
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

TreeRun InstallTree::run(const std::vector<std::string>& arguments, RunOptions options,
                         const std::optional<std::string>& argv0) const {
    options.set["CORVANE_NATIVE_LOG_DIR_OVERRIDE"] = logDir_;
    const std::string aggressive = "CORVANE_AGGRESSIVE_OPTIMIZATIONS";
    const bool chosen = options.set.count(aggressive) != 0 ||
                        std::find(options.unset.begin(), options.unset.end(), aggressive) != options.unset.end();
    if (!jdkSupportsDefaultOptions() && !chosen) {
        options.set[aggressive] = "0";
    }
    if (options.timeoutSeconds == RunOptions().timeoutSeconds) {
        options.timeoutSeconds = 30;
    }
    TreeRun result;
    static_cast<RunResult&>(result) = runProgram(launcher(), arguments, options, argv0);
    result.log = logMessagesOfLastRun(logFile());
    // Every line starts with "<version> <pid> ".
    const std::string text = readFile(logFile());
    const std::size_t lastBanner = text.rfind("Logger initialized\n");
    if (lastBanner != std::string::npos) {
        const std::size_t lineStart = lastBanner + std::string("Logger initialized\n").size();
        const std::size_t blank = text.find(' ', lineStart);
        if (blank != std::string::npos) {
            result.pid = std::atoi(text.c_str() + blank + 1);
        }
    }
    return result;
}

}  // namespace corvane::test
