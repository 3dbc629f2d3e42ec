// Hands a start over to the user's running instance of the tree, or takes the
// instance lock and lets the start go on. Never loads the runtime and never
// stops a start it cannot hand over: every failure is a log line.
#include "launcher/SingleInstance.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <unistd.h>

#include "log/DumpLoggerBuilder.h"
#include "os/InstanceSocket.h"
#include "os/OSHelper.h"

namespace corvane::launcher {

namespace {

constexpr int ANSWER_TIMEOUT_MS = 2000;
// How long a start waits for another start that holds the lock to listen:
// a VM and the application's first steps, with room for a slow machine.
constexpr int LOCK_WAIT_MS = 10000;
constexpr long LOCK_POLL_NS = 50L * 1000 * 1000;
constexpr std::size_t ANSWER_LIMIT = 16;
const char ANSWER[] = "ok\n";
// The instance's application registered no listener: this start goes on at once.
const char NO_LISTENER[] = "none\n";
const char NOT_LOOKING[] = "; starting without looking for a running instance";

struct InstancePaths {
    std::string socket;
    std::string lock;
};

// The socket and lock of the tree's instance; false, with the reason logged
// unless the tree does not ask for one instance, when there are none.
bool findInstancePaths(const jvm::TreeRecord& record, InstancePaths& paths) {
    if (!record.singleInstance) {
        return false;
    }
    const std::string& name = record.name;
    if (!record.hasApplicationName()) {
        CORVANE_LOG(INFO) << "One instance: the tree's record has no valid name line (name=" + name + ")" + NOT_LOOKING;
        return false;
    }
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    std::string problem = OS::privateRuntimeDirProblem(runtimeDir);
    if (!problem.empty()) {
        const std::string shown = runtimeDir == nullptr ? "(unset)" : "'" + std::string(runtimeDir) + "'";
        CORVANE_LOG(INFO) << "One instance: XDG_RUNTIME_DIR " + shown + " " + problem + NOT_LOOKING;
        return false;
    }
    const std::string folder = std::string(runtimeDir) + "/corvane";
    problem = OS::makePrivateFolder(folder);
    if (!problem.empty()) {
        CORVANE_LOG(WARNING) << "One instance: " + folder + " " + problem + NOT_LOOKING;
        return false;
    }
    paths.socket = folder + "/" + name + ".socket";
    paths.lock = folder + "/" + name + ".lock";
    if (!OS::fitsSocketAddress(paths.socket)) {
        CORVANE_LOG(INFO) << "One instance: " + paths.socket + " is too long for a socket address" + NOT_LOOKING;
        return false;
    }
    return true;
}

enum class Attempt { HANDED_OVER, NO_INSTANCE, REFUSED };

// One try at handing the start over; `quiet` leaves out the lines for a
// missing or stale socket, which a waiting start sees many times.
Attempt handOver(const InstancePaths& paths, const std::string& request, bool quiet) {
    const OS::SocketExchange exchange =
        OS::exchangeOverSocket(paths.socket, request, ANSWER_LIMIT, ANSWER_TIMEOUT_MS);
    switch (exchange.outcome) {
        case OS::SocketExchange::ANSWERED:
            if (exchange.answer == ANSWER) {
                CORVANE_LOG(INFO) << "Handed this start over to the running instance at " + paths.socket;
                return Attempt::HANDED_OVER;
            }
            if (exchange.answer == NO_LISTENER) {
                CORVANE_LOG(INFO) << "The running instance at " + paths.socket +
                                         " has no listener for this start; starting normally";
                return Attempt::REFUSED;
            }
            CORVANE_LOG(WARNING) << "The instance at " + paths.socket + " answered '" + exchange.answer +
                                        "', not ok; starting normally";
            return Attempt::REFUSED;
        case OS::SocketExchange::ABSENT:
            if (!quiet) {
                CORVANE_LOG(INFO) << "No running instance: " + paths.socket + " does not exist";
            }
            return Attempt::NO_INSTANCE;
        case OS::SocketExchange::STALE:
            if (!quiet) {
                CORVANE_LOG(INFO) << "No running instance: " + paths.socket + " is stale (" + exchange.problem + ")";
            }
            return Attempt::NO_INSTANCE;
        case OS::SocketExchange::UNSAFE:
            CORVANE_LOG(WARNING) << "Refusing " + paths.socket + ": " + exchange.problem + "; starting normally";
            return Attempt::REFUSED;
        case OS::SocketExchange::FAILED:
            break;
    }
    CORVANE_LOG(WARNING) << "The instance at " + paths.socket + " did not take this start: " + exchange.problem +
                                "; starting normally";
    return Attempt::REFUSED;
}

// Tries the instance lock once. A lock taken stays held for the process's
// life: its descriptor is never closed, so the kernel releases it when the
// process ends, crash included.
OS::FileLock::Outcome takeLock(const InstancePaths& paths) {
    const OS::FileLock lock = OS::tryLockFile(paths.lock);
    if (lock.outcome == OS::FileLock::TAKEN) {
        CORVANE_LOG(INFO) << "This start is the instance: it holds " + paths.lock;
    } else if (lock.outcome == OS::FileLock::FAILED) {
        CORVANE_LOG(WARNING) << "Cannot lock " + paths.lock + ": " + lock.problem + "; starting normally";
    }
    return lock.outcome;
}

// Another start holds the lock and is on its way: waits for its socket,
// until the lock is free (that start ended without listening) or time is up.
InstanceOutcome waitForStartingInstance(const InstancePaths& paths, const std::string& request) {
    CORVANE_LOG(INFO) << "Another start holds " + paths.lock + "; waiting up to " + std::to_string(LOCK_WAIT_MS / 1000) +
                             " s for it to listen";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LOCK_WAIT_MS);
    while (std::chrono::steady_clock::now() < deadline) {
        const timespec pause{0, LOCK_POLL_NS};
        ::nanosleep(&pause, nullptr);
        const Attempt attempt = handOver(paths, request, true);
        if (attempt == Attempt::HANDED_OVER) {
            return InstanceOutcome::HANDED_OVER;
        }
        if (attempt == Attempt::REFUSED || takeLock(paths) != OS::FileLock::HELD) {
            return InstanceOutcome::START;
        }
    }
    CORVANE_LOG(INFO) << "No instance listened at " + paths.socket + " in time; starting normally";
    return InstanceOutcome::START;
}

std::string currentDirectory() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

}  // namespace

std::string instanceRequest(const std::string& workingDirectory, const std::vector<std::string_view>& arguments) {
    std::string request = "corvane-instance 1\n" + std::to_string(arguments.size() + 1) + "\n";
    request.append(workingDirectory).push_back('\0');
    for (const std::string_view argument : arguments) {
        request.append(argument).push_back('\0');
    }
    return request;
}

InstanceOutcome settleInstance(const jvm::TreeRecord& treeRecord,
                               const std::vector<std::string_view>& arguments, bool replacing) {
    InstancePaths paths;
    if (treeRecord.path.empty() || !findInstancePaths(treeRecord, paths)) {
        return InstanceOutcome::START;
    }
    if (replacing) {
        CORVANE_LOG(INFO) << "One instance: a --wait-for-pid start is never handed over";
        (void)takeLock(paths);
        return InstanceOutcome::START;
    }
    const std::string workingDirectory = currentDirectory();
    if (workingDirectory.empty()) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): before the JVM thread, no other thread exists
        CORVANE_LOG(WARNING) << std::string("One instance: the working directory is unknown (") + std::strerror(errno) +
                                    "); starting normally";
        (void)takeLock(paths);
        return InstanceOutcome::START;
    }
    const std::string request = instanceRequest(workingDirectory, arguments);
    const Attempt attempt = handOver(paths, request, false);
    if (attempt == Attempt::HANDED_OVER) {
        return InstanceOutcome::HANDED_OVER;
    }
    if (takeLock(paths) != OS::FileLock::HELD || attempt == Attempt::REFUSED) {
        return InstanceOutcome::START;
    }
    return waitForStartingInstance(paths, request);
}

}  // namespace corvane::launcher
