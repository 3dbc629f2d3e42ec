#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "jvm/ModifiedUtf8.h"
#include "support/TestSupport.h"

namespace {

struct Utf8Case {
    const char* name;
    std::string input;
    std::string expected;
};

void PrintTo(const Utf8Case& c, std::ostream* os) {
    *os << c.name;
}

const std::string FFFD = "\xEF\xBF\xBD";

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

class ModifiedUtf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(ModifiedUtf8Test, Converts) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(hex(corvane::jvm::toModifiedUtf8(c.input.data(), c.input.size())), hex(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModifiedUtf8Test,
    testing::Values(
        Utf8Case{"Empty", "", ""},
        Utf8Case{"Ascii", "--jvm-args=/tmp/a b.txt~", "--jvm-args=/tmp/a b.txt~"},
        Utf8Case{"TwoByte", "caf\xC3\xA9", "caf\xC3\xA9"},
        Utf8Case{"ThreeByte", "\xE2\x82\xAC 5", "\xE2\x82\xAC 5"},
        Utf8Case{"LastBmpCharacter", "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
        Utf8Case{"EmojiBecomesSurrogatePair", "a\xF0\x9F\x98\x80z", "a\xED\xA0\xBD\xED\xB8\x80z"},
        Utf8Case{"FirstSupplementary", "\xF0\x90\x80\x80", "\xED\xA0\x80\xED\xB0\x80"},
        Utf8Case{"LastCodePoint", "\xF4\x8F\xBF\xBF", "\xED\xAF\xBF\xED\xBF\xBF"},
        Utf8Case{"NulByte", std::string("a\0b", 3), "a\xC0\x80" "b"},
        Utf8Case{"OverlongTwoByte", "\xC0\xAF", FFFD + FFFD},
        Utf8Case{"OverlongC1", "\xC1\xBF", FFFD + FFFD},
        Utf8Case{"OverlongThreeByte", "\xE0\x80\xAF", FFFD + FFFD + FFFD},
        Utf8Case{"OverlongFourByte", "\xF0\x80\x80\xAF", FFFD + FFFD + FFFD + FFFD},
        Utf8Case{"EncodedHighSurrogate", "\xED\xA0\x80", FFFD + FFFD + FFFD},
        Utf8Case{"EncodedLowSurrogate", "x\xED\xBF\xBFy", "x" + FFFD + FFFD + FFFD + "y"},
        Utf8Case{"LastBeforeSurrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        Utf8Case{"TruncatedThreeByteAtEnd", "ab\xE2\x82", "ab" + FFFD},
        Utf8Case{"TruncatedThreeByteBeforeAscii", "\xE2\x82" "A", FFFD + "A"},
        Utf8Case{"TruncatedFourByteAtEnd", "\xF0\x9F\x98", FFFD},
        Utf8Case{"TruncatedTwoByteAtEnd", "\xC3", FFFD},
        Utf8Case{"AboveLastCodePoint", "\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD},
        Utf8Case{"LeadF5", "\xF5\x80\x80\x80", FFFD + FFFD + FFFD + FFFD},
        Utf8Case{"ByteFF", "a\xFF" "b", "a" + FFFD + "b"},
        Utf8Case{"ByteFE", "\xFE", FFFD},
        Utf8Case{"LoneContinuation", "a\x80" "b", "a" + FFFD + "b"},
        Utf8Case{"ContinuationRun", "\x80\xBF", FFFD + FFFD},
        Utf8Case{"ValidAfterInvalid", "\xFF\xF0\x9F\x98\x80", FFFD + "\xED\xA0\xBD\xED\xB8\x80"}),
    corvane::test::RowName());

}  // namespace
