// Expansion of $name and %name references, and date variables with their expressions,
// in zones with and without daylight saving.
#include "batch/variable_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Sets TZ for one test and puts the old zone back afterwards.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

time_t LocalTime(int year, int month, int day, int hour, int minute) {
    struct tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    return mktime(&local);
}

std::string DateText(PackedDate date, bool outOfRange = false) {
    if (outOfRange) return "out of range";
    if (date == 0) return "failed";
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u", PackedYear(date), PackedMonth(date),
             PackedDay(date));
    return text;
}

class Variables : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir_ / "vars.cfg",
                  "variable = {\n"
                  "  OUT = { value = \"C:\\\\tmp\\\\a\"; };\n"
                  "  WORD = { value = \"word\"; };\n"
                  "  TODAY = { type = \"date\"; date = \"*\"; format = \"%Y%m%d\"; };\n"
                  "  LASTYEAREND = { type = \"date\"; date = \"y-1\"; };\n"
                  "  SUNDAY = { type = \"date\"; date = \"W+0\"; format = \"%A %d\"; };\n"
                  "  BAD = { type = \"date\"; date = \"M\"; format = \"%H:%M\"; };\n"
                  "  NOVALUE = { type = \"plain\"; };\n"
                  "  FAR = { type = \"date\"; date = \"*+9999999\"; };\n"
                  "  ZERO = { type = \"date\"; date = \"0000-01-01\"; };\n"
                  "  WIDE = { type = \"date\"; format = \"%A %A %A %A %A %A %A %A %A %A %A %A %A "
                  "%A %A %A %A %A %A %A\"; };\n"
                  "};\n");
        setenv("ZYMBVARFILE", (dir_ / "vars.cfg").c_str(), 1);
        InitVariableStore(&store_);
        unsetenv("ZYMBVARFILE");
        setenv("ZYMBTESTVALUE", "envvalue", 1);
        unsetenv("ZYMBTESTUNSET");
    }
    void TearDown() override { store_.Destroy(); }

    std::string Expand(const std::string& input, size_t size = EXPAND_OUTPUT_SIZE,
                       int noEnvironment = 0) {
        std::string output(size, 'x');
        store_.Expand(input.c_str(), output.data(), size, noEnvironment);
        EXPECT_EQ(output[size - 1], '\0');
        return output.c_str();
    }

    TempDir dir_;
    VariableStore store_;
};

TEST_F(Variables, ReferencesExpandByEveryRule) {
    struct Case {
        const char* input;
        const char* expected;
    } cases[] = {
        {"$OUT.log", "C:\\tmp\\alog"},  // a full stop after a reference ends it
        {"$OUT..log", "C:\\tmp\\a.log"},
        {"$$WORD", "$WORD"},  // a doubled sign gives the name itself
        {"%%PATH", "%PATH"},
        {"$", "$"},
        {"%", "%"},
        {"a $ b % c", "a $ b % c"},
        {"$UNDEFINED/x", "$UNDEFINED/x"},  // undefined stays visible
        {"$NOVALUE", "$NOVALUE"},
        {"%ZYMBTESTVALUE%", "envvalue%"},  // no closing delimiter
        {"%ZYMBTESTUNSET.txt", "***BADENV:ZYMBTESTUNSET***txt"},
        {"pre/$WORD/post", "pre/word/post"},
        {"$WORD-x", "$WORD-x"},  // "-" belongs to names
        {"$WORD$WORD", "wordword"},
        {"$WORD.", "word"},
        {"x.y", "x.y"},
    };
    for (const Case& c : cases) EXPECT_EQ(Expand(c.input), c.expected) << c.input;
}

TEST_F(Variables, NoEnvironmentFlagMarksEveryEnvironmentReference) {
    EXPECT_EQ(Expand("%ZYMBTESTVALUE", EXPAND_OUTPUT_SIZE, 1), "***BADENV:ZYMBTESTVALUE***");
}

TEST_F(Variables, OutputLimitCutsPlainTextAndDropsSubstitutionsWhole) {
    EXPECT_EQ(Expand(std::string(300, 'a')), std::string(259, 'a'));
    // "word" needs 4 of the 9 usable places: after 5 characters it no longer fits below the
    // limit, so it is left out whole and the plain text goes on.
    EXPECT_EQ(Expand("abcde$WORD/fgh", 10), "abcde/fgh");
    EXPECT_EQ(Expand("abcd$WORD/fgh", 10), "abcdword/");
}

TEST_F(Variables, WhatDoesNotFitOrFailsIsReportedWithItsReference) {
    // A 261-character variable in 260 bytes: dropped from the text, and said so.
    store_.SetVariable("BASE", "%s", std::string(261, 'b').c_str());
    std::string output(EXPAND_OUTPUT_SIZE, '\0');
    ExpandResult result = store_.Expand("rm -rf $BASE/old", output.data(), output.size(), 0);
    EXPECT_STREQ(output.c_str(), "rm -rf /old");
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(result.reference, "$BASE");
    EXPECT_EQ(result.reason, "does not fit");

    struct Case {
        std::string input;
        size_t size;
        const char* reference;  // nullptr: complete
        const char* reason;
    } cases[] = {
        {"$WORD/%ZYMBTESTVALUE", EXPAND_OUTPUT_SIZE, nullptr, ""},
        {std::string(259, 'a'), EXPAND_OUTPUT_SIZE, nullptr, ""},
        {std::string(260, 'a'), EXPAND_OUTPUT_SIZE, "", "does not fit"},  // plain text cut
        {"abcde%ZYMBTESTVALUE", 10, "%ZYMBTESTVALUE", "does not fit"},
        {"$FAR", EXPAND_OUTPUT_SIZE, "$FAR",
         "the date *+9999999 falls outside the years 1 to 9999"},
        {"$ZERO", EXPAND_OUTPUT_SIZE, "$ZERO",
         "the date 0000-01-01 falls outside the years 1 to 9999"},
        {"x$WIDE", EXPAND_OUTPUT_SIZE, "$WIDE", "the date's text is longer than 127 characters"},
    };
    for (const Case& c : cases) {
        std::string out(c.size, '\0');
        ExpandResult r = store_.Expand(c.input.c_str(), out.data(), c.size, 0);
        EXPECT_EQ(r.complete, c.reference == nullptr) << c.input;
        EXPECT_EQ(r.reference, c.reference != nullptr ? c.reference : "") << c.input;
        EXPECT_EQ(r.reason, c.reason) << c.input;
    }
}

TEST_F(Variables, OverlongNamesAreCutAt255Characters) {
    std::string name(300, 'N');
    setenv(name.substr(0, 255).c_str(), "V", 1);
    EXPECT_EQ(Expand("%" + name, 1024), "V" + std::string(45, 'N'));
    unsetenv(name.substr(0, 255).c_str());
    // A name longer than the text the BADENV form keeps: cut to 127 characters.
    std::string badenv = Expand("%" + std::string(200, 'Q'), 1024);
    EXPECT_EQ(badenv.size(), 127u) << badenv;
    EXPECT_EQ(badenv.substr(0, 10), "***BADENV:");
}

TEST_F(Variables, DateVariablesAreComputedAtEveryUse) {
    ZoneScope zone("Europe/Berlin");
    store_.fixedNow = LocalTime(2025, 3, 19, 0, 30);  // a Wednesday, just after midnight
    EXPECT_EQ(Expand("$TODAY.csv"), "20250318csv");   // one hour back: yesterday
    EXPECT_EQ(Expand("$LASTYEAREND"), "2024-12-31");
    EXPECT_EQ(Expand("$SUNDAY"), "Sunday 16");
    store_.fixedNow = LocalTime(2025, 3, 19, 9, 45);
    EXPECT_EQ(Expand("$TODAY"), "20250319");
    EXPECT_EQ(Expand("$BAD"), "09:45");  // a date text that fails gives the time now
}

TEST_F(Variables, SetVariableAddsAndReplaces) {
    store_.SetVariable("NEW", "%s-%d", "run", 7);
    EXPECT_EQ(Expand("$NEW"), "run-7");
    store_.SetVariable("WORD", "other");
    EXPECT_EQ(Expand("$WORD"), "other");
}

TEST(VariableFile, MissingOrBrokenFileDefinesNothing) {
    TempDir dir;
    WriteFile(dir / "broken.cfg", "variable = { A = { value = \"a\"; }; };\nbroken = ;\n");
    for (std::string path : {dir / "missing.cfg", dir / "broken.cfg"}) {
        setenv("ZYMBVARFILE", path.c_str(), 1);
        VariableStore store;
        InitVariableStore(&store);
        unsetenv("ZYMBVARFILE");
        char output[EXPAND_OUTPUT_SIZE];
        store.Expand("$A", output, sizeof output, 0);
        EXPECT_STREQ(output, "$A") << path;
        store.SetVariable("A", "set");  // the empty group is there to add to
        store.Expand("$A", output, sizeof output, 0);
        EXPECT_STREQ(output, "set");
        store.Destroy();
    }
}

struct DateCase {
    const char* zone;
    int year, month, day, hour, minute;  // the time now, local
    const char* dateText;
    const char* expected;  // YYYY-MM-DD or "failed"
};

class DateExpression : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateExpression, GivesTheDate) {
    const DateCase& c = GetParam();
    ZoneScope zone(c.zone);
    time_t now = LocalTime(c.year, c.month, c.day, c.hour, c.minute);
    bool outOfRange = false;
    PackedDate date = ParseDateExpression(c.dateText, now, &outOfRange);
    EXPECT_EQ(DateText(date, outOfRange), c.expected)
        << c.dateText << " at " << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":"
        << c.minute << " " << c.zone;
}

// 2025-03-19 is a Wednesday; Berlin moves to summer time on 2025-03-30 and back on
// 2025-10-26; UTC never does.
INSTANTIATE_TEST_SUITE_P(
    Forms, DateExpression,
    ::testing::Values(DateCase{"UTC", 2025, 3, 19, 12, 0, "2025-03-17", "2025-03-17"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "2025-03-17+3", "2025-03-20"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "2025-03-01-1", "2025-02-28"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "2024", "2024-01-01"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "2024+3", "failed"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "M+0", "2025-03-01"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "M-1", "2025-02-01"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "M+1-1", "2025-03-31"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "M+10", "2026-01-01"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "m+0", "2025-03-31"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "m-1", "2025-02-28"},
                      DateCase{"UTC", 2024, 3, 19, 12, 0, "m-1", "2024-02-29"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "Y+0", "2025-01-01"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "Y+1+2", "2026-01-03"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "y-1", "2024-12-31"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "y+0", "2025-12-31"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "W+0", "2025-03-16"},
                      DateCase{"UTC", 2025, 3, 16, 12, 0, "W+0", "2025-03-16"},  // a Sunday: today
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "W-1+1", "2025-03-10"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "*", "2025-03-19"},
                      DateCase{"UTC", 2025, 3, 19, 0, 30, "*", "2025-03-18"},
                      DateCase{"UTC", 2025, 3, 19, 1, 0, "*", "2025-03-19"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "*+1", "2025-03-20"},
                      DateCase{"UTC", 2025, 3, 19, 0, 30, "*+1", "2025-03-19"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "*-1.9", "2025-03-18"},  // truncated
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "M", "failed"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "*1", "failed"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "today", "failed"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "2025-1e-99999", "2024-11-30"},
                      // Years a packed date cannot hold are errors, never wrapped years.
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "0000-01-01", "out of range"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "9999-12-31+1", "out of range"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "0001-01-01", "0001-01-01"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "9999-12-31", "9999-12-31"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "Y+8000", "out of range"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "M-30000", "out of range"},
                      DateCase{"UTC", 2025, 3, 19, 12, 0, "*+9999999", "out of range"},
                      DateCase{"Europe/Berlin", 2025, 3, 19, 0, 30, "*", "2025-03-18"},
                      DateCase{"Europe/Berlin", 2025, 7, 19, 0, 30, "*", "2025-07-18"},
                      DateCase{"Europe/Berlin", 2025, 7, 19, 1, 5, "*", "2025-07-19"},
                      DateCase{"Europe/Berlin", 2025, 3, 19, 12, 0, "2025-03-29+1", "2025-03-30"},
                      DateCase{"Europe/Berlin", 2025, 3, 19, 12, 0, "2025-03-29+2", "2025-03-31"},
                      DateCase{"Europe/Berlin", 2025, 3, 19, 12, 0, "2025-10-25+1", "2025-10-26"},
                      DateCase{"Europe/Berlin", 2025, 3, 19, 12, 0, "2025-10-25+2", "2025-10-27"},
                      DateCase{"Europe/Berlin", 2025, 7, 10, 0, 10, "M+1-1", "2025-07-31"},
                      DateCase{"Europe/Berlin", 2025, 3, 30, 3, 30, "W+0", "2025-03-30"},
                      DateCase{"Europe/Berlin", 2025, 3, 31, 0, 30, "*", "2025-03-30"},
                      DateCase{"America/New_York", 2025, 11, 2, 0, 30, "*", "2025-11-01"},
                      DateCase{"America/New_York", 2025, 11, 3, 0, 30, "y-1", "2024-12-31"}));

}  // namespace
