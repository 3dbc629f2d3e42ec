// The per-user application class archives of trained trees, as the benchmarks
// see them: a cache home of their own (XDG_CACHE_HOME), fresh for a "first
// start" or primed for warm starts, and the wait for the background dump that
// a start without an archive begins (the dump must not run while others are timed).
#pragma once

#include <ftw.h>
#include <sys/file.h>

#include <string>
#include <vector>

#include "BenchSupport.h"

namespace bench {

inline int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
}

// Removes a folder and everything in it.
inline void removeTree(const std::string& dir) {
    ::nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

inline std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const struct dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    return names;
}

inline bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// True when the lock file is held by a running dump.
inline bool lockHeld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// One application's cache folder is settled when it holds an archive or a
// failure mark, no unfinished output and no running dump.
inline bool cacheSettled(const std::string& dir) {
    bool done = false;
    for (const std::string& name : namesIn(dir)) {
        if (endsWith(name, ".tmp")) {
            return false;
        }
        done = done || endsWith(name, ".jsa") || endsWith(name, ".failed");
    }
    return done && !lockHeld(dir + "/dump.lock");
}

// Waits until every application folder under <cacheHome>/corvane is settled;
// false after `limitMs`. With no folder there (no start asked for an
// archive) there is nothing to wait for.
inline bool waitForAppArchives(const std::string& cacheHome, int limitMs = 120000) {
    const long long giveUp = monoNs() + static_cast<long long>(limitMs) * 1000000LL;
    const std::string root = cacheHome + "/corvane";
    while (monoNs() < giveUp) {
        const std::vector<std::string> apps = namesIn(root);
        bool settled = true;
        for (const std::string& app : apps) {
            settled = settled && cacheSettled(root + "/" + app);
        }
        if (settled) {
            return true;
        }
        ::usleep(50000);
    }
    std::fprintf(stderr, "no application class archive settled under %s within %d ms\n", root.c_str(), limitMs);
    return false;
}

// The number of archives made so far under <cacheHome>/corvane.
inline int appArchiveCount(const std::string& cacheHome) {
    int count = 0;
    for (const std::string& app : namesIn(cacheHome + "/corvane")) {
        for (const std::string& name : namesIn(cacheHome + "/corvane/" + app)) {
            count += endsWith(name, ".jsa") ? 1 : 0;
        }
    }
    return count;
}

}  // namespace bench
