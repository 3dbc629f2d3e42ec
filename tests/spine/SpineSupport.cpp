#include "SpineSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace spine {

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

std::string at(const std::string& text, const std::string& scratch) {
    return corvane::test::replaceAll(text, "@", scratch);
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
