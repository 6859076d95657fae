// Pattern matching: extended shell patterns over printable copies, and list files.
#include "frame/match_pattern.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "tests/support/test_support.h"

namespace {

int Match(const std::string& pattern, const std::string& text) {
    return MatchPattern(pattern.data(), text.data(), pattern.size(), text.size());
}

struct PatternCase {
    const char* pattern;
    std::string text;
    bool matches;
};

class PatternCases : public testing::TestWithParam<PatternCase> {};

TEST_P(PatternCases, Matches) {
    const PatternCase& c = GetParam();
    EXPECT_EQ(Match(c.pattern, c.text) != 0, c.matches) << c.pattern << " against " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Shell, PatternCases,
    testing::Values(PatternCase{"*.dat", "2024/a.dat", true},  // the slash is not special
                    PatternCase{"*.dat", "a.txt", false}, PatternCase{"*.DAT", "a.dat", false},
                    PatternCase{"*", ".hidden", true},  // nor is a leading dot
                    PatternCase{"file?.dat", "file1.dat", true}, PatternCase{"[ab]*", "bx", true},
                    PatternCase{"[!ab]*", "bx", false}, PatternCase{"\\*", "*", true},
                    PatternCase{"\\*", "a", false}, PatternCase{"", "", true},
                    PatternCase{"", "x", false}, PatternCase{"x", "", false}));

INSTANTIATE_TEST_SUITE_P(Extended, PatternCases,
                         testing::Values(PatternCase{"+(ab).dat", "abab.dat", true},
                                         PatternCase{"@(a|b).dat", "c.dat", false},
                                         PatternCase{"@(a|b).dat", "b.dat", true},
                                         PatternCase{"!(*.tmp)", "x.dat", true},
                                         PatternCase{"!(*.tmp)", "x.tmp", false},
                                         PatternCase{"?(x)y", "y", true},
                                         PatternCase{"*(ab)c", "ababc", true}));

// Control bytes become two upper-case hexadecimal digits in pattern and text alike.
INSTANTIATE_TEST_SUITE_P(Printable, PatternCases,
                         testing::Values(PatternCase{"a09b", "a\tb", true},
                                         PatternCase{"a\tb", "a\tb", true},
                                         PatternCase{"a?b", "a\tb", false},
                                         PatternCase{"*0A", "line\n", true},
                                         PatternCase{"caf*", "caf\xc3\xa9", true},
                                         PatternCase{"cafC3A9", "caf\xc3\xa9", true}));

TEST(MatchPattern, LengthsLimitBothSides) {
    EXPECT_TRUE(MatchPattern("abc*xyz", "abc", 3, 3));
    EXPECT_FALSE(MatchPattern("abc", "abcdef", 3, 6));
    EXPECT_TRUE(MatchPattern("abc", "abcdef", 3, 3));
    // A text of a fixed 256-byte field stops at its first zero byte.
    char field[256] = "name.dat";
    EXPECT_TRUE(MatchPattern("*.dat", field, 5, sizeof field));
}

class ListFile : public testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& content) {
        std::string path = dir_ / name;
        testsupport::WriteFile(path, content);
        return path;
    }
    testsupport::TempDir dir_;
};

TEST_F(ListFile, AnyLineMayMatch) {
    std::string nested = Write("nested.lst", "b.txt\n");
    std::string list = Write("patterns.lst", "*.dat\r\nreport-*.csv\n\n*LIST:" + nested + "\n" +
                                                 std::string(1023, 'x') + "tail.csv");
    std::string pattern = "*LIST:" + list;
    EXPECT_TRUE(Match(pattern, "a.dat"));  // carriage return and line feed are cut off
    EXPECT_TRUE(Match(pattern, "report-1.csv"));
    EXPECT_FALSE(Match(pattern, "b.txt"));  // a list inside a list is a literal pattern
    EXPECT_TRUE(Match(pattern, "*LIST:" + nested));
    EXPECT_FALSE(Match(pattern, "tail.csv"));  // a long line is cut, its rest is no pattern
    EXPECT_TRUE(Match(pattern, std::string(1023, 'x')));
    EXPECT_FALSE(Match(pattern, "other"));
}

TEST_F(ListFile, UnreadableListIsALiteralPattern) {
    for (const std::string& pattern : {"*LIST:" + (dir_ / "missing.lst"), "*LIST:" + dir_.Path()}) {
        EXPECT_TRUE(Match(pattern, pattern)) << pattern;
        EXPECT_FALSE(Match(pattern, "a.dat")) << pattern;
    }
    EXPECT_FALSE(Match("*LIST:", "a.dat"));  // too short to name a file
}

TEST_F(ListFile, EmptyListMatchesNothing) {
    std::string list = Write("empty.lst", "");
    EXPECT_FALSE(Match("*LIST:" + list, "a.dat"));
}

}  // namespace
