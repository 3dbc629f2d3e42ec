#include "jvm/WorkingDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <unistd.h>

#include "jvm/JvmOptions.h"
#include "log/DumpLoggerBuilder.h"

namespace corvane::jvm {

namespace {

const char HOME_TOKEN[] = "${HOME}";

bool startsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

}  // namespace

std::string workingDirFor(const std::string& value, const std::string& installDir, const char* home) {
    std::string dir = value;
    if (startsWith(value, INSTALL_DIR_TOKEN)) {
        dir = installDir + value.substr(std::strlen(INSTALL_DIR_TOKEN));
    } else if (startsWith(value, HOME_TOKEN)) {
        if (home == nullptr || home[0] != '/') {
            return std::string();
        }
        dir = home + value.substr(std::strlen(HOME_TOKEN));
    }
    return dir.empty() || dir[0] != '/' ? std::string() : dir;
}

void enterWorkingDir(const std::string& installDir, const TreeRecord& treeRecord) {
    const std::string& value = treeRecord.workingDir;
    if (value.empty()) {
        return;
    }
    const std::string dir = workingDirFor(value, installDir, std::getenv("HOME"));
    if (dir.empty()) {
        CORVANE_LOG(WARNING) << "Staying in the folder the application was started in: the tree's working folder " +
                                    value + " is not an absolute path here";
        return;
    }
    if (::chdir(dir.c_str()) != 0) {
        CORVANE_LOG(WARNING) << "Staying in the folder the application was started in: cannot enter the tree's "
                                "working folder " +
                                    dir + ": " + std::generic_category().message(errno);
        return;
    }
    CORVANE_LOG(INFO) << "The application starts in the tree's working folder " + dir;
}

}  // namespace corvane::jvm
