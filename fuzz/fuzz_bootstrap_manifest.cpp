// Fuzzes the bootstrap manifest reader: any bytes as manifest text, entries
// resolved against a scratch lib directory that holds a few jars (one with
// the class path separator in its name).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "FuzzScratch.h"
#include "jvm/BootstrapManifest.h"

namespace {

const std::string& libDir() {
    static const std::string dir = [] {
        const std::string root = corvane::fuzz::scratchRoot("corvane-fuzz-manifest") + "/lib/";
        ::mkdir(root.c_str(), 0700);
        ::mkdir((root + "sub").c_str(), 0700);
        for (const char* name : {"a.jar", "b.jar", "app core.jar", "sub/c.jar", "a:b.jar"}) {
            std::ofstream(root + name) << "jar";
        }
        return root;
    }();
    return dir;
}

void trimTrailing(std::string& line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string& dir = libDir();
    std::istringstream in(text);
    const corvane::jvm::ManifestResult result = corvane::jvm::readManifestEntries(in, dir);

    if (result.status != 0 && result.status != 52) {
        std::abort();  // the reader itself only fails with 52
    }
    if (result.message.find('\0') != std::string::npos) {
        std::abort();  // the message becomes a log line
    }
    if (result.status == 52) {
        if (result.message.find(dir) == std::string::npos) {
            std::abort();  // the message names the full entry path
        }
        return 0;
    }
    if (!result.message.empty()) {
        std::abort();
    }
    // The class path becomes a C string option for the VM: a NUL inside it
    // would silently cut off every entry after it.
    if (result.classPath.find('\0') != std::string::npos) {
        std::abort();
    }
    // Success: the class path is every non-blank line, trailing white space
    // cut, behind the lib directory, joined by ':' in manifest order.
    std::string expected;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        trimTrailing(line);
        if (line.find(':') != std::string::npos) {
            std::abort();  // an entry with the class path separator is refused
        }
        if (!line.empty()) {
            if (!expected.empty()) {
                expected.push_back(':');
            }
            expected += dir + line;
        }
        start = end + 1;
    }
    if (result.classPath != expected) {
        std::abort();
    }
    // Every piece the VM will see is a full path below the lib directory:
    // none is relative to the working directory.
    for (std::size_t piece = 0; !result.classPath.empty() && piece != std::string::npos;) {
        if (result.classPath.compare(piece, dir.size(), dir) != 0) {
            std::abort();
        }
        piece = result.classPath.find(':', piece);
        piece = piece == std::string::npos ? piece : piece + 1;
    }
    return 0;
}
