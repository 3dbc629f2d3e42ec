#pragma once

// A scratch directory for one fuzzer process, made under $TMPDIR (or /tmp) on
// first use and removed when the process ends normally.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace corvane::fuzz {

inline std::string& scratchPathStorage() {
    static std::string path;
    return path;
}

inline void removeScratchAtExit() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchPathStorage(), ignored);
}

// The scratch root, without a trailing "/"; aborts when it cannot be made.
inline const std::string& scratchRoot(const char* tag) {
    std::string& path = scratchPathStorage();
    if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/" + tag + "-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) {
            std::abort();
        }
        path = buffer.data();
        std::atexit(removeScratchAtExit);
    }
    return path;
}

}  // namespace corvane::fuzz
