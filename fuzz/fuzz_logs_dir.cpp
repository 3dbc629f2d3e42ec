// Fuzzes the log directory rules with any values of the four variables and the
// record's name (the input's six fields, see FuzzFields.h: CORVANE_NATIVE_LOG_DIR_OVERRIDE,
// TEST_TMPDIR, XDG_DATA_HOME, HOME, XDG_STATE_HOME, the application's name), and
// the directory check and creation with the resulting path moved below a
// scratch root: ".." components are renamed and relative paths are tried with
// the scratch root as working directory, so nothing outside it is touched.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FuzzFields.h"
#include "FuzzScratch.h"
#include "log/DumbLogger.h"

namespace {

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('/', start);
        parts.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// `path` with every ".." component renamed, so that it cannot climb out.
std::string confined(const std::string& path) {
    std::string result;
    const std::vector<std::string> parts = split(path);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            result.push_back('/');
        }
        result += parts[i] == ".." ? std::string("dotdot") : parts[i];
    }
    return result;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void checkResolution(const corvane::log::LogDirEnvironment& env, const std::string& resolved, bool hasBase) {
    std::string expected;
    bool expectedBase = true;
    if (env.nativeLogDirOverride != nullptr) {
        expected = env.nativeLogDirOverride;
    } else if (env.testTmpDir != nullptr) {
        expected = std::string(env.testTmpDir) + "/nativeLogs";
    } else if (env.applicationName != nullptr && env.applicationName[0] != '\0') {
        // The application's state folder: XDG_STATE_HOME only when absolute.
        if (env.xdgStateHome != nullptr && env.xdgStateHome[0] == '/') {
            expected = std::string(env.xdgStateHome) + "/" + env.applicationName;
        } else if (env.home != nullptr) {
            expected = std::string(env.home) + "/.local/state/" + env.applicationName;
        } else {
            expectedBase = false;
        }
    } else if (env.xdgDataHome != nullptr) {
        expected = std::string(env.xdgDataHome) + "/Vellumbry/Corvane/logs";
    } else if (env.home != nullptr) {
        expected = std::string(env.home) + "/.local/share/Vellumbry/Corvane/logs";
    } else {
        expectedBase = false;
    }
    if (resolved != expected || hasBase != expectedBase) {
        std::abort();
    }
}

void checkCreation(const std::string& resolved) {
    const std::string work = corvane::fuzz::scratchRoot("corvane-fuzz-logsdir") + "/w";
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    // libFuzzer keeps relative corpus paths: come back to this directory after.
    static const int startDirectory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (startDirectory < 0 || ::mkdir(work.c_str(), 0700) != 0 || ::chdir(work.c_str()) != 0) {
        std::abort();
    }
    // A plain file where a directory might be wanted.
    std::ofstream(work + "/file") << "not a directory";

    const std::string inside = confined(resolved);
    if (inside.empty() || inside[0] != '/') {
        // Relative (or empty): refused, and nothing made in the working directory.
        if (corvane::log::validateAndCreateLogsDir(inside)) {
            std::abort();
        }
    } else {
        const std::string path = work + inside;
        const bool ok = corvane::log::validateAndCreateLogsDir(path);
        if (ok && !isDirectory(path)) {
            std::abort();
        }
        // Which answer is due: below the plain file, never; otherwise yes,
        // unless the path is longer than the system takes.
        std::vector<std::string> parts;
        bool tooLong = path.size() >= 4096;
        for (const std::string& part : split(inside)) {
            tooLong = tooLong || part.size() > 255;
            if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
        }
        const bool belowFile = !parts.empty() && parts[0] == "file";
        if (belowFile && ok) {
            std::abort();
        }
        if (!belowFile && !tooLong && !ok) {
            std::abort();
        }
    }
    if (::fchdir(startDirectory) != 0) {
        std::abort();
    }
    std::filesystem::remove_all(work, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvane::fuzz::FieldReader fields(data, size);
    corvane::log::LogDirEnvironment env{};
    env.nativeLogDirOverride = fields.next();
    env.testTmpDir = fields.next();
    env.xdgDataHome = fields.next();
    env.home = fields.next();
    env.xdgStateHome = fields.next();
    env.applicationName = fields.next();

    bool hasBase = false;
    const std::string resolved = corvane::log::resolveLogsHome(env, hasBase);
    checkResolution(env, resolved, hasBase);
    checkCreation(resolved);
    return 0;
}
