#include "os/DesktopNotice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace OS {

namespace {

// notify-send returns once the service has the message; a bus that does not answer costs no more than this.
constexpr int NOTIFY_WAIT_MS = 3000;
constexpr long POLL_NS = 20L * 1000 * 1000;

// Starts `argv` found on PATH with its standard streams on /dev/null, in a
// session of its own when `detached` (a dialog outlives the launcher). 0 when it could not be started.
pid_t spawn(const std::vector<std::string>& argv, bool detached) {
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string& argument : argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return 0;
    }
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return 0;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    if (detached) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    pid_t pid = 0;
    const int result = posix_spawnp(&pid, pointers[0], &actions, &attributes, pointers.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : 0;
}

// Waits up to `ms` for `pid`; true when it ended with status 0. A program still running is killed.
bool endedWell(pid_t pid, int ms) {
    const timespec pause{0, POLL_NS};
    for (long waited = 0; waited <= ms * 1000000L; waited += POLL_NS) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (ended < 0 && errno != EINTR) {
            return false;
        }
        ::nanosleep(&pause, nullptr);
    }
    ::kill(pid, SIGKILL);
    (void)::waitpid(pid, nullptr, 0);
    return false;
}

// `text` as a GVariant string literal, so that gdbus never reads it as a number or a list.
std::string textLiteral(const std::string& text) {
    std::string literal = "'";
    for (const char c : text) {
        if (c == '\\' || c == '\'') {
            literal.push_back('\\');
        }
        literal.push_back(c);
    }
    return literal + "'";
}

}  // namespace

bool hasDesktopSession() {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the launcher never changes its environment
    const char* x11 = std::getenv("DISPLAY");
    // NOLINTNEXTLINE(concurrency-mt-unsafe): as above
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

bool showDesktopNotice(const std::string& appName, const std::string& summary, const std::string& body) {
    // The notification service through either of the two programs desktops carry for it.
    const std::vector<std::vector<std::string>> notifiers = {
        {"notify-send", "--app-name=" + appName, "--urgency=critical", "--", summary, body},
        {"gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
         "/org/freedesktop/Notifications", "--method", "org.freedesktop.Notifications.Notify", textLiteral(appName),
         "0", "''", textLiteral(summary), textLiteral(body), "[]", "{'urgency': <byte 2>}", "0"},
    };
    for (const std::vector<std::string>& notifier : notifiers) {
        const pid_t pid = spawn(notifier, false);
        if (pid != 0 && endedWell(pid, NOTIFY_WAIT_MS)) {
            return true;
        }
    }
    const std::vector<std::vector<std::string>> dialogs = {
        {"zenity", "--error", "--no-wrap", "--no-markup", "--title=" + appName, "--text=" + summary + "\n\n" + body},
        {"kdialog", "--title", appName, "--error", summary + "\n\n" + body},
        {"xmessage", "-center", "-title", appName, summary + "\n\n" + body},
    };
    return std::any_of(dialogs.begin(), dialogs.end(),
                       [](const std::vector<std::string>& dialog) { return spawn(dialog, true) != 0; });
}

}  // namespace OS
