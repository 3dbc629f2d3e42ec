// The per-user class archive of a tree that asks for one, through the real
// executable and the real VM: which archive a start takes or makes, and which
// cache folders it keeps out of.

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/InstallTree.h"

namespace {

using namespace corvane::test;

const std::string NAME = "archive-test";
// Two blanks stand between a message's pieces.
const std::string MAKING = "* No application class archive for this tree yet: making  ";
const std::string USING = "* Using the application class archive  ";

// A tree whose record asks for the archive, with a second jar last on its class path.
void askForTheArchive(const InstallTree& tree) {
    tree.addToLib(noMethodJar(), "last.jar");
    tree.writeManifest("corvane-testapp.jar\nlast.jar\n");
    ASSERT_TRUE(writeFile(tree.libDir() + "corvane-tree.txt",
                          "format=1\nname=" + NAME + "\napp-archive=per-user\ntraining-list=lib/classes.lst\n"));
    ASSERT_TRUE(writeFile(tree.libDir() + "classes.lst", "com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry\n"));
}

RunOptions withCache(const InstallTree& tree) {
    RunOptions options;
    options.set["XDG_CACHE_HOME"] = tree.scratchDir() + "/cache";
    return options;
}

std::string cacheFolder(const InstallTree& tree) {
    return tree.scratchDir() + "/cache/corvane/" + NAME;
}

// The archive the start began to make in the background ("" when none).
std::string archiveBeingMade(const TreeRun& run) {
    const int at = run.find(MAKING);
    if (at < 0) {
        return std::string();
    }
    const std::string& message = run.log[static_cast<std::size_t>(at)];
    const std::string head = MAKING.substr(2);  // the part after the function name
    const std::size_t start = message.find(head) + head.size();
    return message.substr(start, message.rfind("  in the background") - start);
}

// Waits (bounded, against a hang) until the background dump has made `archive`;
// false when it failed or did not end.
bool dumpEnds(const std::string& archive) {
    const std::string failed = archive.substr(0, archive.size() - 4) + ".failed";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline && !fileExists(failed)) {
        if (fileExists(archive)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Every jar of the class path names the archive, the last one too: a start
// after the last jar was replaced makes an archive of its own instead of
// taking the one made for the jar that is gone.
TEST(RealVmAppArchive, ReplacedLastJarGetsAnArchiveOfItsOwn) {
    InstallTree tree;
    ASSERT_NO_FATAL_FAILURE(askForTheArchive(tree));
    const RunOptions options = withCache(tree);

    const TreeRun first = tree.run({}, options);
    const std::string made = archiveBeingMade(first);
    ASSERT_NE(made, "") << joinLines(first.log) << first.err;
    ASSERT_TRUE(dumpEnds(made)) << made;
    EXPECT_EQ(first.exitStatus, 0);
    EXPECT_EQ(made.rfind(cacheFolder(tree) + "/app-", 0), 0u) << made;
    const TreeRun again = tree.run({}, options);
    EXPECT_TRUE(again.has(USING + made)) << joinLines(again.log);

    tree.addToLib(testAppJar(), "last.jar");
    const TreeRun replaced = tree.run({}, options);
    EXPECT_EQ(replaced.exitStatus, 0) << joinLines(replaced.log) << replaced.err;
    EXPECT_FALSE(replaced.has(USING)) << joinLines(replaced.log);
    const std::string remade = archiveBeingMade(replaced);
    EXPECT_TRUE(remade.empty() || dumpEnds(remade)) << remade;
    EXPECT_NE(remade, "") << joinLines(replaced.log);
    EXPECT_NE(remade, made);
}

// A cache folder that someone else could write into would let them hand the
// VM an archive: a start takes none from it and makes none in it.
struct CacheFolderCase {
    const char* name;
    mode_t mode;
    bool ownedByAnotherUser;
};

void PrintTo(const CacheFolderCase& c, std::ostream* os) {
    *os << c.name;
}

class RealVmUnsafeCacheFolder : public testing::TestWithParam<CacheFolderCase> {};

TEST_P(RealVmUnsafeCacheFolder, GetsNoArchive) {
    const CacheFolderCase& c = GetParam();
    if (c.ownedByAnotherUser && ::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder to another user needs root";
    }
    InstallTree tree;
    ASSERT_NO_FATAL_FAILURE(askForTheArchive(tree));
    const std::string folder = cacheFolder(tree);
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
    ASSERT_TRUE(!c.ownedByAnotherUser || ::chown(folder.c_str(), 65534, 65534) == 0);

    const TreeRun run = tree.run({}, withCache(tree));
    const std::string made = archiveBeingMade(run);
    EXPECT_TRUE(made.empty() || dumpEnds(made));  // no dump outlives the test
    EXPECT_EQ(made, "");
    EXPECT_EQ(run.exitStatus, 0) << joinLines(run.log) << run.err;
    EXPECT_TRUE(run.has("* Not using an application class archive:  the cache folder " + folder +
                        ": not a folder of this user's that only this user may write"))
        << joinLines(run.log);
    for (const std::string& option : run.jvmArgs()) {
        EXPECT_EQ(option.rfind("-XX:SharedArchiveFile=", 0), std::string::npos) << option;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "a start wrote into " << folder;
}

INSTANTIATE_TEST_SUITE_P(Table, RealVmUnsafeCacheFolder,
                         testing::Values(CacheFolderCase{"OthersMayWrite", 0777, false},
                                         CacheFolderCase{"OwnedByAnotherUser", 0700, true}),
                         RowName());

}  // namespace
