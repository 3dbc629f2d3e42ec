#include "jvm/AppClassArchive.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jvm/ShippedArchive.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "os/BackgroundJob.h"

namespace corvane::jvm {


namespace {

// Archives of other keys kept beside the current one: a few trees of one
// application (a moved copy, an older version still running) keep theirs.
constexpr size_t OTHER_ARCHIVES_KEPT = 2;
// A dump larger than this is dropped: the cache must stay bounded.
constexpr off_t MAX_ARCHIVE_BYTES = off_t{1} << 30;
// A dump takes seconds; one still running after this (hung, or starved at
// idle priority) is killed and counts as failed.
constexpr int MAX_DUMP_SECONDS = 10 * 60;
// The dump waits for the start that asked for it to end or go quiet, at most this long.
constexpr int MAX_START_SECONDS = 30;
// Output of a dump that was cut short, left longer than this, is removed.
constexpr time_t STALE_OUTPUT_SECONDS = time_t{24} * 60 * 60;
constexpr int AOT_LINKING_SINCE = 24;

// errno's text; strerror's buffer is not the thread's own.
std::string errnoText() {
    return std::generic_category().message(errno);
}

bool startsWith(const std::string& text, const char* head) {
    return text.compare(0, std::strlen(head), head) == 0;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool isPerProcessPath(const std::string& option) {
    return startsWith(option, "-XX:HeapDumpPath=") || startsWith(option, "-XX:ErrorFile=") ||
           startsWith(option, "-Djava.io.tmpdir=");
}

// The folder, made when missing; empty when it is usable, else why not: it
// must be the user's own and writable by nobody else.
std::string prepareDir(const std::string& dir) {
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        ::mkdir(dir.substr(0, slash).c_str(), 0700);
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string("cannot make it: ") + errnoText();
    }
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0) {
        return std::string("cannot read it: ") + errnoText();
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "not a folder of this user's that only this user may write";
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        return std::string("cannot write into it: ") + errnoText();
    }
    return std::string();
}

bool isOwnRegularFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
           info.st_size > 0;
}

struct CacheEntry {
    std::string name;
    time_t modified;
};

// Keeps the cache bounded: the current key's files, the newest few of the
// other keys, and no output of a cut-short dump older than a day.
void pruneCache(const std::string& dir, const std::string& currentPrefix) {
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) {
        return;
    }
    std::vector<CacheEntry> others;
    const time_t now = ::time(nullptr);
    const std::string folderPrefix = dir + "/";
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        const std::string path = folderPrefix + name;
        struct stat info {};
        if (!startsWith(name, "app-") || startsWith(name, currentPrefix.c_str()) ||
            ::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        if (endsWith(name, ".tmp")) {
            if (now - info.st_mtime > STALE_OUTPUT_SECONDS) {
                ::unlink(path.c_str());
            }
            continue;
        }
        others.push_back({name, info.st_mtime});
    }
    ::closedir(folder);
    std::sort(others.begin(), others.end(),
              [](const CacheEntry& a, const CacheEntry& b) { return a.modified > b.modified; });
    for (size_t i = OTHER_ARCHIVES_KEPT; i < others.size(); ++i) {
        const std::string path = folderPrefix + others[i].name;
        if (::unlink(path.c_str()) == 0) {
            CORVANE_LOG(INFO) << "Removed the older application class archive " << path;
        }
    }
}

bool runtimeLinksAheadOfTime(const TreeRecord& record) {
    return record.runtimeFeature() >= AOT_LINKING_SINCE;
}

void skip(const std::string& why) {
    CORVANE_LOG(INFO) << "Not using an application class archive: " << why;
}

}  // namespace

std::string appArchiveDir(const std::string& name, const char* xdgCacheHome, const char* home) {
    if (xdgCacheHome != nullptr && xdgCacheHome[0] == '/') {
        return std::string(xdgCacheHome) + "/corvane/" + name;
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.cache/corvane/" + name;
    }
    return std::string();
}

std::string classDataOptionOf(const std::vector<OptionEntry>& entries) {
    static const char* const MANAGING[] = {"-Xshare",
                                           "-XX:SharedArchiveFile",
                                           "-XX:SharedClassListFile",
                                           "-XX:ArchiveClassesAtExit",
                                           "-XX:DumpLoadedClassList",
                                           "-XX:+AutoCreateSharedArchive",
                                           "-XX:-UseSharedSpaces",
                                           "-XX:AOT"};
    for (const OptionEntry& entry : entries) {
        for (const char* head : MANAGING) {
            if (entry.extraInfo == nullptr && startsWith(entry.text, head)) {
                return entry.text;
            }
        }
    }
    return std::string();
}

std::string appArchiveKey(const std::string& keyText) {
    uint64_t hash = 14695981039346656037ULL;
    for (const unsigned char c : keyText) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    (void)std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

std::string keyOptionsText(const std::vector<OptionEntry>& entries) {
    std::string text;
    for (const OptionEntry& entry : entries) {
        if (entry.extraInfo == nullptr && !isPerProcessPath(entry.text)) {
            text += "option " + entry.text + "\n";
        }
    }
    return text;
}

std::vector<std::string> appArchiveDumpArgs(const std::string& java, const std::vector<OptionEntry>& entries,
                                            const std::string& classList, const std::string& output,
                                            bool aotLinking) {
    std::vector<std::string> args = {java};
    for (const OptionEntry& entry : entries) {
        if (entry.extraInfo == nullptr) {
            args.push_back(entry.text);
        }
    }
    args.insert(args.end(), {"-Xshare:dump", "-XX:SharedClassListFile=" + classList, "-XX:SharedArchiveFile=" + output});
    if (aotLinking) {
        args.push_back("-XX:+AOTClassLinking");
    }
    return args;
}

void useAppClassArchive(std::vector<OptionEntry>& entries, const std::string& installDir,
                        const std::string& classPath, const TreeRecord& record) {
    if (!record.appArchivePerUser) {
        return;
    }
    const std::string& name = record.name;
    const std::string& trainingList = record.trainingList;
    const std::string classList = installDir + "/" + trainingList;
    struct stat info {};
    if (!record.hasApplicationName() || trainingList.empty() || ::stat(classList.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        skip("the tree's record names no application or no training class list that exists");
        return;
    }
    const std::string managing = classDataOptionOf(entries);
    if (!managing.empty()) {
        skip("the options manage class-data sharing themselves (" + managing + ")");
        return;
    }
    if (useShippedArchive(entries, installDir, classPath, classList)) {
        return;
    }
    const std::string dir = appArchiveDir(name, std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
    const std::string problem = dir.empty() ? "neither XDG_CACHE_HOME nor HOME is an absolute path" : prepareDir(dir);
    if (!problem.empty()) {
        skip("the cache folder " + dir + ": " + problem);
        return;
    }
    const std::string prefix = "app-" + appArchiveKey(archiveKeyText(entries, installDir, classPath, classList, true));
    const std::string archive = dir + "/" + prefix + ".jsa";
    pruneCache(dir, prefix);
    if (isOwnRegularFile(archive)) {
        entries.push_back(OptionEntry{"-XX:SharedArchiveFile=" + archive, nullptr});
        CORVANE_LOG(INFO) << "Using the application class archive " << archive;
        return;
    }
    const std::string failed = dir + "/" + prefix + ".failed";
    if (::access(failed.c_str(), F_OK) == 0) {
        skip("making it for this tree and these options failed before (" + failed + ")");
        return;
    }
    const std::string java = installDir + "/jre/bin/java";
    OS::PublishJob job;
    job.argv = appArchiveDumpArgs(java, entries, classList, archive + ".tmp", runtimeLinksAheadOfTime(record));
    job.lockPath = dir + "/dump.lock";
    job.outputPath = archive + ".tmp";
    job.finalPath = archive;
    job.failedPath = failed;
    job.maxSize = MAX_ARCHIVE_BYTES;
    job.maxSeconds = MAX_DUMP_SECONDS;
    // A dump beside the application's own start would slow it down, even at idle priority.
    job.quietPid = ::getpid();
    job.quietWaitSeconds = MAX_START_SECONDS;
    if (::access(java.c_str(), X_OK) != 0 || !OS::startPublishJob(job)) {
        skip("cannot start " + java + " to make " + archive);
        return;
    }
    CORVANE_LOG(INFO) << "No application class archive for this tree yet: making " << archive << " in the background";
}

}  // namespace corvane::jvm
