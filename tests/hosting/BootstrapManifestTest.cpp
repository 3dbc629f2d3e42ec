#include <cstring>
#include <filesystem>
#include <sstream>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "jvm/BootstrapManifest.h"
#include "support/TestSupport.h"

namespace {

using corvane::jvm::ManifestResult;
using corvane::test::ScratchDir;

struct ManifestCase {
    const char* name;
    std::string content;
    int status;
    std::string classPathOrMessage;  // "{L}" stands for the lib directory
};

void PrintTo(const ManifestCase& c, std::ostream* os) {
    *os << c.name;
}

std::string expand(const std::string& text, const std::string& lib) {
    return corvane::test::replaceAll(text, "{L}", lib);
}

class ManifestTest : public testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestTest, ReadsEntries) {
    ScratchDir scratch("manifest");
    const std::string lib = scratch.path() + "/lib/";
    for (const char* jar : {"a.jar", "b.jar", "c.jar"}) {
        ASSERT_TRUE(corvane::test::writeFile(lib + jar, "jar"));
    }
    std::filesystem::create_directories(lib + "classes");
    std::filesystem::create_symlink(lib + "gone.jar", lib + "dangling.jar");
    std::filesystem::create_symlink("loop", lib + "loop");

    const ManifestCase& c = GetParam();
    std::istringstream in(c.content);
    const ManifestResult result = corvane::jvm::readManifestEntries(in, lib);
    EXPECT_EQ(result.status, c.status);
    if (c.status == 0) {
        EXPECT_EQ(result.classPath, expand(c.classPathOrMessage, lib));
    } else {
        EXPECT_EQ(result.message, expand(c.classPathOrMessage, lib));
    }
}

const std::string ELOOP_TEXT = std::strerror(ELOOP);

INSTANTIATE_TEST_SUITE_P(
    Table, ManifestTest,
    testing::Values(
        ManifestCase{"ThreeEntriesNoFinalNewline", "a.jar\nb.jar\nc.jar", 0, "{L}a.jar:{L}b.jar:{L}c.jar"},
        ManifestCase{"Empty", "", 0, ""},
        ManifestCase{"OnlyBlankLines", "\n \t\n\r\n", 0, ""},
        ManifestCase{"CrlfLines", "a.jar\r\nb.jar\r\n", 0, "{L}a.jar:{L}b.jar"},
        ManifestCase{"TrailingBlanksAndTabs", "a.jar \t \r\nb.jar\t\n", 0, "{L}a.jar:{L}b.jar"},
        ManifestCase{"BlankOnlyLineSkipped", "a.jar\n   \t \nb.jar\n", 0, "{L}a.jar:{L}b.jar"},
        ManifestCase{"DuplicateKept", "a.jar\na.jar\n", 0, "{L}a.jar:{L}a.jar"},
        ManifestCase{"DirectoryEntry", "classes\n", 0, "{L}classes"},
        ManifestCase{"LeadingSlashJoinedVerbatim", "/a.jar\n", 0, "{L}/a.jar"},
        ManifestCase{"ParentComponentLeftToFileSystem", "../lib/b.jar\n", 0, "{L}../lib/b.jar"},
        ManifestCase{"LeadingBlankKept", "a.jar\n b.jar\n", 52, "Bootstrap manifest entry does not exist: {L} b.jar"},
        ManifestCase{"VerticalTabNotTrimmed", "a.jar\v\n", 52, "Bootstrap manifest entry does not exist: {L}a.jar\v"},
        ManifestCase{"ByteOrderMarkBelongsToEntry", "\xEF\xBB\xBF" "a.jar\n", 52,
                     "Bootstrap manifest entry does not exist: {L}\xEF\xBB\xBF" "a.jar"},
        ManifestCase{"SecondOfThreeMissing", "a.jar\nmissing.jar\nc.jar\n", 52,
                     "Bootstrap manifest entry does not exist: {L}missing.jar"},
        ManifestCase{"DanglingLink", "dangling.jar\n", 52, "Bootstrap manifest entry does not exist: {L}dangling.jar"},
        ManifestCase{"MissingDirectoryComponent", "nodir/a.jar\n", 52,
                     "Bootstrap manifest entry does not exist: {L}nodir/a.jar"},
        ManifestCase{"LinkLoopCannotBeChecked", "a.jar\nloop/x.jar\n", 52,
                     "Bootstrap manifest entry cannot be checked: {L}loop/x.jar: " + ELOOP_TEXT}),
    corvane::test::RowName());

TEST(BootstrapManifest, MissingManifestIs51WithThePath) {
    ScratchDir scratch("manifest");
    const std::string path = scratch.path() + "/lib/manifest-bootstrap.txt";
    const ManifestResult result = corvane::jvm::readBootstrapManifest(path, scratch.path() + "/lib/");
    EXPECT_EQ(result.status, 51);
    EXPECT_EQ(result.message, "Bootstrap manifest is missing or not accessible: " + path);
}

struct TrimCase {
    std::string in;
    std::string out;
};

TEST(BootstrapManifest, TrimTrailingWhitespace) {
    const TrimCase cases[] = {
        {"", ""}, {"a.jar", "a.jar"}, {"a.jar\r", "a.jar"}, {"a.jar \t\r\n", "a.jar"}, {" \t\r\n", ""},
        {"  a.jar", "  a.jar"}, {"a b.jar ", "a b.jar"}, {"a.jar\v", "a.jar\v"}, {"a.jar\f", "a.jar\f"},
        {"a.jar\v ", "a.jar\v"},
    };
    for (const TrimCase& c : cases) {
        std::string line = c.in;
        corvane::jvm::trimTrailingWhitespace(line);
        EXPECT_EQ(line, c.out) << "input: '" << c.in << "'";
    }
}

struct ReplaceCase {
    std::string subject, from, to, out;
};

TEST(BootstrapManifest, StringReplace) {
    const ReplaceCase cases[] = {
        {"/a.jar:/b.jar:/c.jar", ":", "\n", "/a.jar\n/b.jar\n/c.jar"},
        {"no separator", ":", "\n", "no separator"},
        {"", ":", "\n", ""},
        {"a:b", "", "x", "a:b"},
        {"::", ":", "\n", "\n\n"},
        {"a:b", ":", "::", "a::b"},  // replacement text is not searched again
        {"aaaa", "aa", "b", "bb"},   // left to right, no overlap
        {"aaa", "aa", "b", "ba"},
        {"x:y", ":", "", "xy"},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(corvane::jvm::string_replace(c.subject, c.from, c.to), c.out)
            << "'" << c.subject << "' '" << c.from << "' -> '" << c.to << "'";
    }
}

}  // namespace
