// The system calls behind one instance per user: the private runtime folder,
// the lock file and one exchange over a Unix socket. Never a network address,
// never the abstract namespace; every failure is a value with its reason.
#pragma once

#include <string>

namespace OS {

// Why `path` cannot hold the user's sockets: not absolute, not a directory
// (a link is refused), not owned by the user, or its mode is not 0700. Empty
// when it can.
std::string privateRuntimeDirProblem(const char* path);

// Makes the folder `path` with mode 0700 when it is missing; why it cannot be
// used (not a directory, not the user's), or empty.
std::string makePrivateFolder(const std::string& path);

// An exclusive flock on a lock file, tried without waiting.
struct FileLock {
    enum Outcome { TAKEN, HELD, FAILED };
    Outcome outcome = FAILED;
    int descriptor = -1;  // TAKEN: open, close-on-exec; the lock lasts while it is open
    std::string problem;  // FAILED: why
};
FileLock tryLockFile(const std::string& path);

// One request and its answer over the stream socket at `path`.
struct SocketExchange {
    enum Outcome {
        ANSWERED,  // the peer answered (perhaps not as hoped: see answer)
        ABSENT,    // no socket file
        STALE,     // a socket file nobody listens on (connection refused)
        UNSAFE,    // not a socket, or a socket or peer of another user
        FAILED,    // the peer did not answer within the time, or a call failed
    };
    Outcome outcome = FAILED;
    std::string answer;   // ANSWERED: the bytes up to the peer's close, at most a few
    std::string problem;  // every other outcome: why
};

// Connects to `path`, checks that the file and the peer belong to the user,
// sends `request` and reads the answer until the peer closes or `answerSize`
// bytes came; all within `timeoutMs`.
SocketExchange exchangeOverSocket(const std::string& path, const std::string& request, std::size_t answerSize,
                                  int timeoutMs);

// Whether `path` fits a Unix socket address (sun_path, with its terminator).
bool fitsSocketAddress(const std::string& path);

}  // namespace OS
