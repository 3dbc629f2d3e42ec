// Runtime folder checks, the lock file and one Unix socket exchange, straight
// from the system calls; nothing here waits longer than its caller allows.
#include "os/InstanceSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "os/OSHelper.h"

namespace OS {

namespace {

constexpr mode_t PRIVATE_MODE = 0700;

std::string errorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

// Why the entry at `path` (not followed) is not a folder of the user's.
std::string userFolderProblem(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return "cannot be examined: " + errorText(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        return "is not a directory";
    }
    if (info.st_uid != ::geteuid()) {
        return "is owned by uid " + std::to_string(info.st_uid) + ", not by this user";
    }
    return std::string();
}

using Clock = std::chrono::steady_clock;

SocketExchange notExchanged(SocketExchange::Outcome outcome, const std::string& problem) {
    SocketExchange exchange;
    exchange.outcome = outcome;
    exchange.problem = problem;
    return exchange;
}

// Why the socket file at `path` must not be used; empty when it may.
SocketExchange::Outcome checkSocketFile(const std::string& path, std::string& problem) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        const int error = errno;
        problem = errorText(error);
        return error == ENOENT ? SocketExchange::ABSENT : SocketExchange::FAILED;
    }
    if (!S_ISSOCK(info.st_mode)) {
        problem = "it is not a socket";
        return SocketExchange::UNSAFE;
    }
    if (info.st_uid != ::geteuid()) {
        problem = "it is owned by uid " + std::to_string(info.st_uid) + ", not by this user";
        return SocketExchange::UNSAFE;
    }
    return SocketExchange::ANSWERED;
}

// Connects `fd` to `path`; the outcome for a failure, or ANSWERED when connected.
SocketExchange::Outcome connectTo(int fd, const std::string& path, std::string& problem) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return SocketExchange::ANSWERED;
    }
    const int error = errno;
    problem = errorText(error);
    if (error == ECONNREFUSED) {
        return SocketExchange::STALE;
    }
    return error == ENOENT ? SocketExchange::ABSENT : SocketExchange::FAILED;
}

std::string peerProblem(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return "cannot tell the peer: " + errorText(errno);
    }
    if (peer.uid != ::geteuid()) {
        return "the peer runs as uid " + std::to_string(peer.uid) + ", not as this user";
    }
    return std::string();
}

bool sendAll(int fd, const std::string& data, Clock::time_point deadline, std::string& problem) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t count = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (errno == EAGAIN && waitForDescriptor(fd, POLLOUT, deadline)) {
            continue;
        } else if (errno != EINTR) {
            const int error = errno;
            problem = error == EAGAIN ? "it took no request in time" : errorText(error);
            return false;
        }
    }
    return true;
}

bool receiveAnswer(int fd, std::size_t size, Clock::time_point deadline, std::string& answer, std::string& problem) {
    char buffer[64];
    while (answer.size() < size) {
        const ssize_t count = ::recv(fd, buffer, std::min(sizeof buffer, size - answer.size()), 0);
        if (count > 0) {
            answer.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno == EAGAIN && waitForDescriptor(fd, POLLIN, deadline)) {
            continue;
        } else if (errno != EINTR) {
            const int error = errno;
            problem = error == EAGAIN ? "no answer in time" : errorText(error);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string privateRuntimeDirProblem(const char* path) {
    if (path == nullptr || path[0] != '/') {
        return "is not an absolute path";
    }
    std::string problem = userFolderProblem(path);
    if (!problem.empty()) {
        return problem;
    }
    struct stat info {};
    if (::lstat(path, &info) != 0 || (info.st_mode & 07777) != PRIVATE_MODE) {
        return "does not have mode 0700";
    }
    return std::string();
}

std::string makePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), PRIVATE_MODE) != 0 && errno != EEXIST) {
        return "cannot be made: " + errorText(errno);
    }
    return userFolderProblem(path);
}

FileLock tryLockFile(const std::string& path) {
    FileLock lock;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        lock.problem = errorText(errno);
        return lock;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            lock.outcome = FileLock::HELD;
        } else {
            lock.problem = errorText(error);
        }
        return lock;
    }
    lock.outcome = FileLock::TAKEN;
    lock.descriptor = fd;
    return lock;
}

SocketExchange exchangeOverSocket(const std::string& path, const std::string& request, std::size_t answerSize,
                                  int timeoutMs) {
    if (!fitsSocketAddress(path)) {
        return notExchanged(SocketExchange::FAILED, "the path is too long for a socket address");
    }
    std::string problem;
    SocketExchange::Outcome outcome = checkSocketFile(path, problem);
    if (outcome != SocketExchange::ANSWERED) {
        return notExchanged(outcome, problem);
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return notExchanged(SocketExchange::FAILED, errorText(errno));
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    SocketExchange exchange;
    outcome = connectTo(fd, path, problem);
    if (outcome == SocketExchange::ANSWERED) {
        problem = peerProblem(fd);
        outcome = problem.empty() ? outcome : SocketExchange::UNSAFE;
    }
    if (outcome == SocketExchange::ANSWERED &&
        (!sendAll(fd, request, deadline, problem) || !receiveAnswer(fd, answerSize, deadline, exchange.answer, problem))) {
        outcome = SocketExchange::FAILED;
    }
    ::close(fd);
    exchange.outcome = outcome;
    exchange.problem = problem;
    return exchange;
}

bool fitsSocketAddress(const std::string& path) {
    return path.size() < sizeof(sockaddr_un{}.sun_path);
}

}  // namespace OS
