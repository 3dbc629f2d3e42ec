// Top-level windows being mapped on a display, as `xev -root -event
// substructure` reports them: the benchmarks time a window's appearance by the
// X server's MapNotify, read from a pipe in a poll loop (no X library linked).
#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <poll.h>

#include "BenchSupport.h"

namespace bench {

class MapWatcher {
public:
    // `withOverride`: windows that bypass the window manager (a splash
    // screen's) count too.
    explicit MapWatcher(bool withOverride = false) : withOverride_(withOverride) {}
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;

    // Starts xev and gives it time to select its events.
    bool start(const std::vector<std::string>& env) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return false;
        }
        pid_ = spawn({"/usr/bin/xev", "-root", "-event", "substructure"}, env, out[1]);
        ::close(out[1]);
        fd_ = out[0];
        ::usleep(300000);
        return pid_ > 0;
    }
    ~MapWatcher() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            reap(pid_);
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int fd() const { return fd_; }

    // Reads what is there; true when a window was mapped, its id in `window`.
    // xev writes "MapNotify event, ..." and on the next line
    // "... window 0x..., override NO".
    bool readMapped(std::string& window) {
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        bool mapped = false;
        for (std::size_t eol = pending_.find('\n'); eol != std::string::npos; eol = pending_.find('\n')) {
            const std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            if (line.rfind("MapNotify", 0) == 0) {
                inMap_ = true;
            } else if (inMap_) {
                inMap_ = false;
                const std::size_t at = line.find(" window 0x");
                if (at != std::string::npos && (withOverride_ || line.find("override NO") != std::string::npos)) {
                    window = line.substr(at + 8, line.find(',', at) - at - 8);
                    mapped = true;
                }
            }
        }
        return mapped;
    }

    // Waits up to `limitNs` for the next mapped window; its time (monoNs) or 0.
    long long waitMapped(std::string& window, long long limitNs = 60000000000LL) {
        const long long giveUp = monoNs() + limitNs;
        while (monoNs() < giveUp) {
            struct pollfd entry = {fd_, POLLIN, 0};
            if (::poll(&entry, 1, 100) > 0 && readMapped(window)) {
                return monoNs();
            }
        }
        return 0;
    }

    // Drops what xev has reported so far (windows of an earlier round).
    void drain() {
        std::string ignored;
        struct pollfd entry = {fd_, POLLIN, 0};
        for (int reads = 0; reads < 1000 && ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0; ++reads) {
            readMapped(ignored);
        }
    }

private:
    bool withOverride_;
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string pending_;
    bool inMap_ = false;
};

// The output of a short tool run (xdotool, xprop), or empty.
inline std::string toolOutput(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return std::string();
    }
    const pid_t pid = spawn(args, env, out[1]);
    ::close(out[1]);
    const std::string text = pid > 0 ? readAll(out[0]) : std::string();
    ::close(out[0]);
    if (pid > 0) {
        reap(pid);
    }
    return text;
}

// The window's name (WM_NAME) as xdotool reads it, without the line end.
inline std::string windowName(const std::string& window, const std::vector<std::string>& env) {
    std::string name = toolOutput({"/usr/bin/xdotool", "getwindowname", window}, env);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
        name.pop_back();
    }
    return name;
}

}  // namespace bench
