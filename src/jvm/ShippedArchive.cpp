#include "jvm/ShippedArchive.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "BuildVersion.h"
#include "Contract.h"
#include "jvm/AppClassArchive.h"
#include "jvm/BootstrapManifest.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "os/OSHelper.h"

namespace corvane::jvm {

namespace {

// A file as the VM's archive checks see it (size, modification time) and,
// with `identity`, its device and inode too, so that a replaced file never
// passes for the old one.
std::string fileStamp(const std::string& path, bool identity) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return path + " missing\n";
    }
    char numbers[160];
    numbers[0] = '\0';
    if (identity) {
        (void)std::snprintf(numbers, sizeof numbers, " %ju %ju", static_cast<uintmax_t>(info.st_dev),
                            static_cast<uintmax_t>(info.st_ino));
    }
    const size_t used = std::strlen(numbers);
    (void)std::snprintf(numbers + used, sizeof numbers - used, " %jd %jd.%09ld\n", static_cast<intmax_t>(info.st_size),
                        static_cast<intmax_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec);
    return path + numbers;
}

// The line of `text` that starts at `at`, and where the next one starts.
std::string lineAt(const std::string& text, size_t& at) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    at = end + 1;
    return line;
}

}  // namespace

std::string archiveKeyText(const std::vector<OptionEntry>& entries, const std::string& installDir,
                           const std::string& classPath, const std::string& classList, bool identities) {
    std::string text = std::string("launcher ") + CORVANE_BUILD_VERSION + "\ntree " + installDir + "\n";
    for (const char* file : {"/jre/lib/server/libjvm.so", "/jre/lib/modules"}) {
        text += fileStamp(installDir + file, identities);
    }
    text += fileStamp(classList, identities);
    size_t start = 0;
    while (start <= classPath.size() && !classPath.empty()) {
        const size_t end = std::min(classPath.find(CLASSPATH_SEPARATOR, start), classPath.size());
        text += fileStamp(classPath.substr(start, end - start), identities);
        start = end + 1;
    }
    for (const char* variable : {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"}) {
        const char* value = std::getenv(variable);
        text += std::string(variable) + "=" + (value != nullptr ? value : "") + "\n";
    }
    return text + keyOptionsText(entries);
}

std::string recordDifference(const std::string& made, const std::string& now) {
    size_t inMade = 0;
    size_t inNow = 0;
    while (inMade < made.size() || inNow < now.size()) {
        const bool madeHasLine = inMade < made.size();
        const bool nowHasLine = inNow < now.size();
        const std::string madeLine = madeHasLine ? lineAt(made, inMade) : std::string();
        const std::string nowLine = nowHasLine ? lineAt(now, inNow) : std::string();
        if (madeHasLine != nowHasLine || madeLine != nowLine) {
            return (madeHasLine ? "'" + madeLine + "'" : std::string("nothing")) + " at packaging, " +
                   (nowHasLine ? "'" + nowLine + "'" : std::string("nothing")) + " now";
        }
    }
    return std::string();
}

bool useShippedArchive(std::vector<OptionEntry>& entries, const std::string& installDir,
                       const std::string& classPath, const std::string& classList) {
    const std::string recordPath = installDir + "/" + CONTRACT_ARCHIVE_SHIPPED_RECORD;
    const OS::FileText record = OS::readRegularFile(recordPath);
    if (record.outcome == OS::FileText::ABSENT) {
        return false;  // no package made this tree: nothing to say
    }
    const std::string archive = installDir + "/" + CONTRACT_ARCHIVE_SHIPPED;
    std::string why = record.outcome == OS::FileText::REFUSED
                          ? "cannot read " + recordPath + ": " + record.problem
                          : recordDifference(record.text, archiveKeyText(entries, installDir, classPath, classList, false));
    struct stat info {};
    if (why.empty() && (::stat(archive.c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
        why = archive + " is missing";
    }
    if (!why.empty()) {
        CORVANE_LOG(INFO) << "Not using the application class archive made at packaging, this start is not the one "
                             "it was made for (" + why + "): the per-user archive instead";
        return false;
    }
    entries.push_back(OptionEntry{"-XX:SharedArchiveFile=" + archive, nullptr});
    CORVANE_LOG(INFO) << "Using the application class archive made at packaging " + archive +
                             ": the tree, its files and the options are those it was made for";
    return true;
}

}  // namespace corvane::jvm
