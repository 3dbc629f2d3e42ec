// Faults found by the fuzz targets, pinned down as unit tests.

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "jvm/BootstrapManifest.h"
#include "support/TestSupport.h"

namespace {

using corvane::jvm::ManifestResult;
using corvane::jvm::readManifestEntries;

// A lib directory with a.jar and b.jar in it.
class ManifestNulTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(corvane::test::writeFile(scratch / "lib/a.jar", "jar"));
        ASSERT_TRUE(corvane::test::writeFile(scratch / "lib/b.jar", "jar"));
        libDir = scratch / "lib/";
    }

    ManifestResult read(const std::string& text) const {
        std::istringstream in(text);
        return readManifestEntries(in, libDir);
    }

    corvane::test::ScratchDir scratch{"fuzz-regression"};
    std::string libDir;
};

// fuzz/corpus/fuzz_bootstrap_manifest/binary-nul-lead: a line that begins with
// a NUL byte was checked as the lib directory itself, which exists, and then
// went into the class path with its NUL and the bytes after it.
TEST_F(ManifestNulTest, EntryBeginningWithNulIsRefused) {
    const char text[] = "\0\x01\x02\xff\n";
    const ManifestResult result = read(std::string(text, sizeof text - 1));
    EXPECT_EQ(result.status, 52);
    EXPECT_EQ(result.classPath, "");
    EXPECT_EQ(result.message, "Bootstrap manifest entry cannot be checked: " + libDir + ": it holds a NUL byte");
}

// fuzz/corpus/fuzz_bootstrap_manifest/nul-inside-entry: an existing jar's name
// followed by a NUL and more bytes passed the existence check by its prefix;
// the VM would have seen a class path cut at the NUL, losing later entries.
TEST_F(ManifestNulTest, EntryWithNulAfterAnExistingNameIsRefused) {
    const char text[] = "a.jar\nb.jar\0../../x\na.jar\n";
    const ManifestResult result = read(std::string(text, sizeof text - 1));
    EXPECT_EQ(result.status, 52);
    EXPECT_EQ(result.message, "Bootstrap manifest entry cannot be checked: " + libDir + "b.jar: it holds a NUL byte");
    EXPECT_EQ(result.message.find('\0'), std::string::npos);
}

// The same names without NUL bytes still make a class path.
TEST_F(ManifestNulTest, SameEntriesWithoutNulAreAccepted) {
    const ManifestResult result = read("a.jar\nb.jar\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.classPath, libDir + "a.jar:" + libDir + "b.jar");
}

}  // namespace
