// Exec -> window mapped, for applications that do not end by themselves: the
// process starts in a process group of its own, the time is the MapNotify of
// its first window of the wanted name, and the whole group is killed and
// reaped afterwards so that no process outlives its round.
#pragma once

#include <cmath>
#include <csignal>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "MapWatcher.h"

namespace bench {

// Sets NAME=value in `env`, replacing an earlier NAME (getenv takes the first).
inline void setEnv(std::vector<std::string>& env, const std::string& assignment) {
    const std::string prefix = assignment.substr(0, assignment.find('=') + 1);
    for (std::string& entry : env) {
        if (entry.compare(0, prefix.size(), prefix) == 0) {
            entry = assignment;
            return;
        }
    }
    env.push_back(assignment);
}

// Kills the process group led by `pid` and reaps its leader.
inline void killGroup(pid_t pid) {
    if (pid > 0) {
        ::kill(-pid, SIGKILL);
        reap(pid);
    }
}

// Milliseconds from exec to the first mapped window whose name starts with
// `namePrefix` (any name when empty); NaN when none came within `limitMs`.
// The process group is killed before it returns.
inline double msToWindow(const std::vector<std::string>& command, const std::vector<std::string>& env,
                         MapWatcher& maps, const std::string& namePrefix, int limitMs) {
    maps.drain();
    const long long startedAt = monoNs();
    const pid_t pid = spawn(command, env, -1, -1, true);
    const long long giveUp = startedAt + static_cast<long long>(limitMs) * 1000000LL;
    long long mappedAt = 0;
    std::string window;
    while (pid > 0 && mappedAt == 0 && monoNs() < giveUp) {
        const long long at = maps.waitMapped(window, giveUp - monoNs());
        if (at != 0 && (namePrefix.empty() || windowName(window, env).rfind(namePrefix, 0) == 0)) {
            mappedAt = at;
        }
    }
    killGroup(pid);
    if (mappedAt == 0) {
        std::fprintf(stderr, "%s: no window '%s' within %d ms\n", command[0].c_str(), namePrefix.c_str(), limitMs);
        return std::nan("");
    }
    return static_cast<double>(mappedAt - startedAt) / 1e6;
}

// The values that are numbers.
inline std::vector<double> validOf(const std::vector<double>& values) {
    std::vector<double> kept;
    for (double value : values) {
        if (!std::isnan(value)) {
            kept.push_back(value);
        }
    }
    return kept;
}

// a[i] / b[i] wherever both are numbers.
inline std::vector<double> pairedRatios(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (!std::isnan(a[i]) && !std::isnan(b[i]) && b[i] > 0) {
            ratios.push_back(a[i] / b[i]);
        }
    }
    return ratios;
}

}  // namespace bench
