#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include <gtest/gtest.h>

// Processes that the wait-for-pid tests wait for, and places to run a wait
// where a signal sent to the wrong pid can do no harm.
namespace corvane::waitpidtest {

long long monotonicNs();

// A process made for one test. A child of the test stays a zombie after its
// end until settle() reaps it; a grandchild is reaped by whoever adopts it.
struct Target {
    pid_t pid = 0;
    bool isChild = false;
    int endFd = -1;  // the process writes its CLOCK_MONOTONIC end time here just before it exits
};

Target startLiving();                    // a child that runs until it is killed
Target startEndingChild(int afterMs);    // a child that exits with 0 after afterMs
Target startEndingGrandchild(int afterMs);
pid_t pidOfNoProcess();                  // the pid of a child that has been reaped already

// When the process ended by itself (it wrote its end time), or nothing when it
// was killed first or still runs.
std::optional<long long> endTimeNs(Target& target);

enum class Fate { Running, Exited, Killed, Gone, Other };
const char* fateName(Fate fate);

// What became of the target; kills and reaps it when it still runs. Gives a
// kill that is on its way up to graceMs to arrive.
Fate settle(Target& target, int graceMs = 0);

// The waitForPid lines (and the line that ignores a pid text) among the
// messages of the last run in the given log directory.
std::vector<std::string> waitLines(const std::string& logDir);

// The lines that waitForPid logs; "{pid}" is the awaited pid.
using Lines = std::vector<std::string>;
// Inline, so that they are made before the tables of a test file that use them.
inline const Lines WAITING = {"waitForPid Waiting for pid {pid} to exit"};
inline const Lines GONE = {"waitForPid Process {pid} has gone or not accessible"};
inline const Lines TIMEOUT = {"waitForPid Timeout waiting for process {pid} to finish"};
inline const Lines STILL_ALIVE = {"waitForPid Timeout. {pid}  is still alive"};
inline const Lines KILLING = {"waitForPid Killing process pid {pid}"};
Lines concat(std::initializer_list<Lines> parts);

// Fills in "{pid}" and "{other}".
std::string expand(const std::string& pattern, pid_t pid, pid_t other);

// Each expected line must equal the actual one, or, when it ends in "...",
// begin the actual one.
::testing::AssertionResult linesMatch(const std::vector<std::string>& expected,
                                      const std::vector<std::string>& actual);

// "waitForPid Process {pid} is still running. Waiting <ms> ms" for each probe,
// from the given remaining time down by 1000 while it stays above 0, or for
// the first `probes` of them.
std::vector<std::string> progressLines(int fromMs, int probes = -1);

// Runs `body` in a process that is pid 1 of a new pid namespace, next to a
// sibling process of that namespace; `body` gets the sibling's pid and returns
// a status byte. A signal to any pid, -1 included, reaches only the namespace.
struct SandboxResult {
    bool available = false;  // false: no new pid namespace could be made here
    int bodyStatus = -1;
    bool siblingAlive = false;
};
template <typename Body>
SandboxResult runInPidNamespace(Body body);
SandboxResult runInPidNamespaceImpl(int (*body)(void*, pid_t), void* context);

template <typename Body>
SandboxResult runInPidNamespace(Body body) {
    return runInPidNamespaceImpl([](void* context, pid_t sibling) { return (*static_cast<Body*>(context))(sibling); },
                                 &body);
}

}  // namespace corvane::waitpidtest
