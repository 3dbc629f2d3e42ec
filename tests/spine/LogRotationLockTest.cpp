// The log is renamed only under the log directory's lock: a starter that cannot
// get the lock leaves the log alone, one that gets it renames the log before it
// lets the lock go. Every rename of this process is watched (see rename below).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log/LogFile.h"
#include "support/TestSupport.h"

namespace {

std::atomic<int> renames{0};
std::atomic<int> renamesUnderLock{0};  // the target's directory was locked by someone else

// True when the directory is locked: a descriptor of our own cannot lock it.
// flock locks belong to open file descriptions, so this conflicts with a lock
// taken in this process as well.
bool directoryLocked(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also drops the lock if we got it
    return locked;
}

}  // namespace

// Replaces the C library's rename for the whole test program (LogFile.cpp calls
// ::rename): notes whether the new name's directory is locked, then renames as
// the library would, errno and result unchanged.
extern "C" int rename(const char* from, const char* to) noexcept {
    using Rename = int (*)(const char*, const char*);
    static const auto next = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    const int savedErrno = errno;
    const std::string target(to);
    const std::size_t slash = target.rfind('/');
    ++renames;
    if (directoryLocked(slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash))) {
        ++renamesUnderLock;
    }
    errno = savedErrno;
    return next(from, to);
}

namespace {

TEST(SpineLogRotation, RenamedOnlyWhileTheDirectoryIsLocked) {
    corvane::test::ScratchDir scratch("rotation-lock");
    const std::string dir = scratch.path();
    const std::string log = scratch / "corvane-native.log";
    const off_t size = corvane::log::LOG_ROTATE_BYTES + 1;
    ASSERT_TRUE(corvane::test::writeFile(log, "old log\n"));
    ASSERT_EQ(::truncate(log.c_str(), size), 0);
    struct stat original {};
    ASSERT_EQ(::stat(log.c_str(), &original), 0);

    // Another starter holds the lock throughout: this one gives up waiting for
    // it and appends to the log where it is.
    const int held = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    renames = 0;
    EXPECT_TRUE(corvane::log::openLogFile(dir.c_str(), log.c_str(), "first\n"));
    ::close(held);
    EXPECT_EQ(renames.load(), 0) << "renamed without the lock";
    EXPECT_FALSE(corvane::test::fileExists(log + ".1"));
    struct stat kept {};
    ASSERT_EQ(::stat(log.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_ino, original.st_ino);
    EXPECT_EQ(kept.st_size, size + 6);

    // The lock is free: the log is renamed once, with the lock still held.
    renames = 0;
    renamesUnderLock = 0;
    EXPECT_TRUE(corvane::log::openLogFile(dir.c_str(), log.c_str(), "second\n"));
    EXPECT_EQ(renames.load(), 1);
    EXPECT_EQ(renamesUnderLock.load(), 1) << "the lock was released before the rename";
    const std::string previous = corvane::test::readFile(log + ".1");
    ASSERT_EQ(previous.size(), static_cast<std::size_t>(size + 6));
    EXPECT_EQ(previous.substr(0, 8), "old log\n");
    EXPECT_EQ(previous.substr(previous.size() - 6), "first\n");
    EXPECT_EQ(corvane::test::readFile(log), "second\n");
}

}  // namespace
