// Value helpers: counts, durations, time texts, trimming, printable copies, lookup.
#include "base/value_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct CountCase {
    uint64_t value;
    int flags;
    const char* text;
};

TEST(FormatCount, GroupsPlainAndSizeForms) {
    const CountCase cases[] = {
        {0, 0, "0"},
        {0, COUNT_PLAIN, " "},
        {0, COUNT_SIZE, " "},
        {999, 0, "999"},
        {1000, 0, "1,000"},
        {1234567, 0, "1,234,567"},
        {1000000, 0, "1,000,000"},
        {1001, 0, "1,001"},
        {18446744073709551615ULL, 0, "18,446,744,073,709,551,615"},
        {1234567, COUNT_PLAIN, "1234567"},
        {512, COUNT_SIZE, "512.00 Bytes"},
        {3 * 1048576ULL / 2, COUNT_SIZE, "1.50 MB"},
        {5ULL << 30, COUNT_SIZE, "5.00 GB"},
    };
    for (const CountCase& c : cases) {
        char buffer[64];
        EXPECT_STREQ(FormatCount(c.value, buffer, sizeof buffer, c.flags), c.text)
            << c.value << " flags " << c.flags;
        EXPECT_STREQ(FormatCount(c.value, c.flags), c.text);
    }
}

TEST(FormatCount, CutsToTheBuffer) {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    FormatCount(1234567890ULL, buffer, sizeof buffer, 0);
    EXPECT_STREQ(buffer, "1,234,5");
    char big[32];
    FormatCount(UINT64_MAX, big, sizeof big, 0);
    EXPECT_LE(strlen(big), 31u);
}

TEST(FormatDuration, PicksTheLargestUnit) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "S0"},
        {59, "S59"},
        {61, "M1:01"},
        {3661, "H1:01:01"},
        {86400, "D1:00:00:00"},
        {90061, "D1:01:01:01"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_STREQ(FormatDuration(seconds), text) << seconds;
}

TEST(FormatTimeText, NotSetAndLocalTime) {
    EXPECT_STREQ(FormatTimeText(0), "Not-Set");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_STREQ(FormatTimeText(86400 * 365), "Friday, January 01, 1971 - 00:00:00 (UTC)");
}

TEST(TrimBlanks, StripsControlAndBlankBytesOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"\tword\n", "word"},
        {"  two words  ", "two words"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},  // accented letters at both ends stay
        {" \t\r\n", ""},
        {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        std::string text = input;
        EXPECT_STREQ(TrimBlanks(text.data()), expected);
    }
}

TEST(MakePrintable, HexForEveryByteOutsidePrintableAscii) {
    const struct {
        std::string bytes;
        size_t count;
        const char* expected;
    } cases[] = {
        {"A\nB", 3, "A0AB"},     {"a\tb", 3, "a09b"},
        {"\xff\x7f", 2, "FF7F"}, {std::string("ab\0cd", 5), 5, "ab"},  // stops at a zero byte
        {"abcdef", 3, "abc"},
    };
    for (const auto& c : cases) {
        char* copy = MakePrintable(c.bytes.data(), c.count);
        ASSERT_NE(copy, nullptr);
        EXPECT_STREQ(copy, c.expected);
        EXPECT_LE(strlen(copy), c.count * 2);
        free(copy);
    }
}

TEST(LookupName, WholeNamesIgnoringCase) {
    const NameValue orientation[] = {{"Portrait", 0}, {"Landscape", 1}, {"", 0}};
    int value = -1;
    EXPECT_EQ(LookupName(orientation, "Landscape", &value), 1);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(LookupName(orientation, "PORTRAIT", &value), 1);
    EXPECT_EQ(value, 0);
    value = -1;
    EXPECT_EQ(LookupName(orientation, "land", &value), 0);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(LookupName(orientation, "", &value), 0);
}

}  // namespace
