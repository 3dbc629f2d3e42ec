// A job that outlives the start that asks for it: a detached process at idle
// priority that runs one program and publishes the file it wrote by a rename,
// so that readers see the whole file or none. Uses nothing of the launcher's own.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace OS {

struct PublishJob {
    std::vector<std::string> argv;  // argv[0] is the program's absolute path
    std::string lockPath;           // held for the job's life; a job that finds it held does nothing
    std::string outputPath;         // the file the program writes
    std::string finalPath;          // what outputPath is renamed to when the program succeeds
    std::string failedPath;         // created when it does not, so that later starts do not retry
    off_t maxSize = 0;              // a larger output counts as a failure
    int maxSeconds = 0;             // a program still running then is killed and counts as a failure
    pid_t quietPid = 0;             // when not 0: the program waits until this process has ended or is quiet
    int quietWaitSeconds = 0;       // but no longer than this
};

// Starts `job` in a process of its own session that no longer belongs to
// this one: standard streams on /dev/null, no other inherited descriptor,
// scheduled only when a CPU is idle. The job does nothing when finalPath
// exists by the time it holds the lock. With a quietPid it first waits
// (holding the lock) until that process has ended or used less than a
// twentieth of a CPU for a second, so that it does not slow that process's
// start. Returns false when it could not be
// started; how the job ends is seen only in the files it leaves.
bool startPublishJob(const PublishJob& job);

}  // namespace OS
