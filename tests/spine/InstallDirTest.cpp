// Install-directory discovery, seen in the path of the runtime library that a start tries to load.
#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "SpineSupport.h"

using corvane::test::readFile;
using corvane::test::ScratchDir;

namespace {

const std::string LIBRARY = "/jre/lib/server/libjvm.so";

// The path in "resolveJNICreateFunction Cannot load  <path> :  <reason>" of the run logged in `dir`.
std::string attemptedLibrary(const std::string& logDir) {
    const auto messages = corvane::test::logMessagesOfLastRun(logDir + "/corvane-native.log");
    const std::string head = "resolveJNICreateFunction Cannot load  ";
    for (const std::string& m : messages) {
        const std::size_t reason = m.find(" :  ");
        if (m.rfind(head, 0) == 0 && reason != std::string::npos && reason + 4 < m.size()) {
            return m.substr(head.size(), reason - head.size());
        }
    }
    return "<no Cannot load line>";
}

TEST(SpineInstallDir, OverrideOrExecutableDirectory) {
    const std::string realDir = std::filesystem::canonical(corvane::test::launcherPath()).parent_path();
    struct Case {
        const char* name;
        std::optional<std::string> override;  // "@" stands for the scratch directory
        std::string library;
    };
    const std::vector<Case> cases = {
        {"unset", std::nullopt, realDir + LIBRARY},
        {"empty", std::string(), realDir + LIBRARY},
        {"absolute", std::string("@/tree"), "@/tree" + LIBRARY},
        {"trailing slash kept", std::string("@/tree/"), "@/tree/" + LIBRARY},
        {"missing, verbatim", std::string("@/no/such/tree"), "@/no/such/tree" + LIBRARY},
        // Would load from the working directory: nothing is loaded.
        {"relative, refused", std::string("rel/tree"), "<no Cannot load line>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch("install");
        std::filesystem::create_directories(scratch / "tree/jre/lib/server");
        std::map<std::string, std::string> env = {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()}};
        if (c.override) {
            env["CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE"] = spine::at(*c.override, scratch.path());
        }
        const auto result = corvane::test::runLauncher({}, env, scratch.path());
        EXPECT_EQ(result.exitStatus, 53);
        EXPECT_EQ(attemptedLibrary(scratch.path()), spine::at(c.library, scratch.path()));
    }
}

// Started through a symbolic link in another directory, the launcher finds its install
// directory next to the file that runs, not next to the link.
TEST(SpineInstallDir, SymlinkResolvesToTheRealExecutable) {
    ScratchDir scratch("symlink");
    std::filesystem::create_directories(scratch / "app");
    std::filesystem::create_directories(scratch / "bin");
    std::filesystem::copy_file(corvane::test::launcherPath(), scratch / "app/corvane");
    std::filesystem::create_symlink(scratch / "app/corvane", scratch / "bin/launch");
    const std::string realScratch = std::filesystem::canonical(scratch.path());

    corvane::test::RunOptions options;
    options.set = {{"CORVANE_NATIVE_LOG_DIR_OVERRIDE", scratch.path()}};
    const auto result = corvane::test::runProgram(scratch / "bin/launch", {}, options);
    EXPECT_EQ(result.exitStatus, 53);
    EXPECT_EQ(attemptedLibrary(scratch.path()), realScratch + "/app" + LIBRARY);
}

}  // namespace
