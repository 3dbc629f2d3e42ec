#include "log/CrashReports.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log/DumpLoggerBuilder.h"
#include "log/FatalDialog.h"

namespace corvane::log {

namespace {

// Reports of each kind kept: enough to compare a few crashes, few enough that
// heap dumps (as large as the heap) do not fill the disk.
constexpr std::size_t REPORTS_KEPT = 3;
// Its time stamp is that of the newest report the person was told of.
constexpr char TOLD_MARKER[] = "corvane-crash-told";

struct Report {
    std::string path;
    timespec modified{};
};

bool newer(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

bool named(const std::string& name, const char* prefix, const char* suffix) {
    const std::size_t prefixSize = std::strlen(prefix);
    const std::size_t suffixSize = std::strlen(suffix);
    return name.size() > prefixSize + suffixSize && name.compare(0, prefixSize, prefix) == 0 &&
           name.compare(name.size() - suffixSize, suffixSize, suffix) == 0;
}

// The regular files of one kind in the folder, newest first.
std::vector<Report> reports(const std::string& logsDir, const char* prefix, const char* suffix) {
    std::vector<Report> found;
    DIR* dir = ::opendir(logsDir.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = ::readdir(dir)) {  // NOLINT(concurrency-mt-unsafe): one stream, one thread
        const std::string name = entry->d_name;
        struct stat info {};
        std::string path = logsDir;
        path.append("/").append(name);
        if (named(name, prefix, suffix) && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            found.push_back({path, info.st_mtim});
        }
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Report& a, const Report& b) { return newer(a.modified, b.modified); });
    return found;
}

void keepNewest(const std::vector<Report>& newestFirst) {
    for (std::size_t i = REPORTS_KEPT; i < newestFirst.size(); ++i) {
        if (::unlink(newestFirst[i].path.c_str()) == 0) {
            CORVANE_LOG(INFO) << "Removed the older report " + newestFirst[i].path;
        }
    }
}

std::string localTime(const timespec& when) {
    tm parts{};
    char text[64];
    if (::localtime_r(&when.tv_sec, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts) == 0) {
        return "an earlier start";
    }
    return text;
}

// Marks `report` as told; false when the mark cannot be made (then the person is
// not told either, rather than told at every start).
bool markTold(const std::string& logsDir, const Report& report) {
    const std::string marker = logsDir + "/" + TOLD_MARKER;
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    const timespec times[2] = {report.modified, report.modified};
    const bool marked = ::futimens(fd, times) == 0;
    ::close(fd);
    return marked;
}

}  // namespace

void tellOfEarlierCrash(const std::string& logsDir, const std::string& appName) {
    const std::vector<Report> errorFiles = reports(logsDir, ERROR_FILE_PREFIX, ERROR_FILE_SUFFIX);
    const std::vector<Report> heapDumps = reports(logsDir, HEAP_DUMP_PREFIX, HEAP_DUMP_SUFFIX);
    if (errorFiles.empty()) {
        keepNewest(heapDumps);
        return;
    }
    const Report& newest = errorFiles.front();
    struct stat told {};
    const bool toldBefore = ::stat((logsDir + "/" + TOLD_MARKER).c_str(), &told) == 0;
    if ((!toldBefore || newer(newest.modified, told.st_mtim)) && markTold(logsDir, newest)) {
        CORVANE_LOG(WARNING) << "The application ended unexpectedly at an earlier start: " + newest.path;
        // Both files of one run carry its pid: a heap dump beside the error file means it ran out of memory.
        const std::string pid = newest.path.substr(logsDir.size() + 1 + std::strlen(ERROR_FILE_PREFIX),
                                                   newest.path.size() - logsDir.size() - 1 -
                                                       std::strlen(ERROR_FILE_PREFIX) - std::strlen(ERROR_FILE_SUFFIX));
        const std::string heapDump = logsDir + "/" + HEAP_DUMP_PREFIX + pid + HEAP_DUMP_SUFFIX;
        struct stat dump {};
        const bool outOfMemory = ::stat(heapDump.c_str(), &dump) == 0;
        tellThePerson(appName + " ended unexpectedly",
                      "It stopped on " + localTime(newest.modified) + (outOfMemory ? ", out of memory" : "") +
                          ". The report is " + newest.path + (outOfMemory ? ", the heap dump " + heapDump : "") + ".");
    }
    keepNewest(errorFiles);
    keepNewest(heapDumps);
}

}  // namespace corvane::log
