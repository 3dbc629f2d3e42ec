#include "jvm/BootstrapManifest.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "log/FatalDialog.h"
#include "os/OSHelper.h"

namespace corvane::jvm {

const char* const CLASSPATH_SEPARATOR = ":";
const char* const CLASSPATH_SEPARATOR_FOR_LOGS = "\n";

std::string separatorInPathReason() {
    return std::string("it holds '") + CLASSPATH_SEPARATOR + "', which separates class path entries";
}

void trimTrailingWhitespace(std::string& line) {
    while (!line.empty()) {
        const char last = line.back();
        if (last != '\r' && last != '\n' && last != ' ' && last != '\t') {
            break;
        }
        line.pop_back();
    }
}

std::string string_replace(std::string subject, const std::string& from, const std::string& to) {
    if (from.empty() || subject.empty()) {
        return subject;
    }
    std::size_t position = 0;
    while ((position = subject.find(from, position)) != std::string::npos) {
        subject.replace(position, from.size(), to);
        position += to.size();
    }
    return subject;
}

ManifestResult readManifestEntries(std::istream& in, const std::string& libDir) {
    ManifestResult result;
    std::string line;
    while (std::getline(in, line)) {
        trimTrailingWhitespace(line);
        if (line.empty()) {
            continue;
        }
        const std::size_t nul = line.find('\0');
        if (nul != std::string::npos) {
            // The file system sees a path only up to its first NUL byte: the
            // entry would be checked as one path and handed to the VM as another.
            result.status = 52;
            result.message = "Bootstrap manifest entry cannot be checked: " + libDir + line.substr(0, nul) +
                             ": it holds a NUL byte";
            return result;
        }
        const std::string entryPath = libDir + line;
        if (line.find(CLASSPATH_SEPARATOR) != std::string::npos) {
            // The VM would read the entry as two paths, the second one relative
            // to the working directory.
            result.status = 52;
            result.message = "Bootstrap manifest entry cannot be used: " + entryPath + ": " + separatorInPathReason();
            return result;
        }
        std::error_code error;
        const bool exists = std::filesystem::exists(entryPath, error);
        if (error) {
            // Permission denied on a directory, a link loop and the like: the
            // entry cannot be used, and the user needs to know why.
            result.status = 52;
            result.message = "Bootstrap manifest entry cannot be checked: " + entryPath + ": " + error.message();
            return result;
        }
        if (!exists) {
            result.status = 52;
            result.message = "Bootstrap manifest entry does not exist: " + entryPath;
            return result;
        }
        if (!result.classPath.empty()) {
            result.classPath.append(CLASSPATH_SEPARATOR);
        }
        result.classPath.append(entryPath);
    }
    return result;
}

ManifestResult readBootstrapManifest(const std::string& manifestPath, const std::string& libDir) {
    std::ifstream manifest(manifestPath, std::ios_base::in);
    // A directory opens like a file but reads as nothing: it is no manifest.
    if (!manifest.is_open() || OS::isDirectory(manifestPath.c_str())) {
        ManifestResult result;
        result.status = 51;
        result.message = "Bootstrap manifest is missing or not accessible: " + manifestPath;
        return result;
    }
    return readManifestEntries(manifest, libDir);
}

std::string collectJarsFromManifest(const std::string& manifestPath, const std::string& libDir) {
    ManifestResult result = readBootstrapManifest(manifestPath, libDir);
    if (result.status != 0) {
        reportFatalAndExit(result.message, result.status, true);
    }
    return result.classPath;
}

}  // namespace corvane::jvm
