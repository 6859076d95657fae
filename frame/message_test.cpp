// The message line: format, cuts, counters, CRC, status text and filters, in-process.
#include <gtest/gtest.h>
#include <zlib.h>

#include <regex>
#include <string>

#include "frame/captured_context.h"
#include "frame/program_context.h"
#include "tests/support/test_support.h"

namespace {

class MessageTest : public ::testing::Test {
  protected:
    void SetUp() override { snprintf(context.messagePrefix, sizeof context.messagePrefix, "ZBT"); }
    std::string Written() { return captured.Raw(); }

    CapturedContext captured;
    ProgramContext& context = captured.context;
};

TEST_F(MessageTest, LineFormatNumbersAndLevelLetters) {
    Message(&context, MSG_INFO, 0, "Listing %s", "Files");
    Message(&context, MSG_ERROR, 5, "bad");
    Message(&context, 7, 1234, "debug");
    Message(&context, MSG_WARNING, 42, "100%% sure");
    Message(&context, MSG_NOTICE, 1, "notice");
    auto lines = testsupport::Lines(Written());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("ZBT000N-\\d\\d:\\d\\d:\\d\\d Listing Files")))
        << lines[0];
    EXPECT_EQ(lines[1].substr(0, 8), "ZBT005E-");
    EXPECT_EQ(lines[2].substr(0, 9), "ZBT1234D-");
    EXPECT_EQ(lines[3].substr(0, 8), "ZBT042W-");
    EXPECT_EQ(lines[3].substr(17), "100% sure");
    EXPECT_EQ(lines[4].substr(0, 8), "ZBT001I-");
}

TEST_F(MessageTest, LongTextsAreCutNeverOverrun) {
    std::string huge(5000, 'x');
    int length = Message(&context, MSG_INFO, 0, "%s%s%s%d%d%d%s", huge.c_str(), "a", "b", 1, 2, 3,
                         huge.c_str());
    std::string written = Written();
    // 17 characters of prefix, number, letter and time, a blank, 511 of text and the newline.
    EXPECT_EQ(length, 17 + 511 + 1);
    EXPECT_EQ(written.size(), 529u);
    EXPECT_EQ(written.back(), '\n');

    // A number too wide for the line: the whole line stops at 599 characters.
    snprintf(context.messagePrefix, sizeof context.messagePrefix, "ABCDE");
    Message(&context, MSG_INFO, 4000000000u, "%s", huge.c_str());
    EXPECT_LE(Written().size() - 529, 599u);
}

TEST_F(MessageTest, CountersAndCrcCoverEveryWrittenByte) {
    Message(&context, MSG_INFO, 0, "one");
    Message(&context, MSG_ERROR, 0, "two");
    std::string written = Written();
    EXPECT_EQ(context.recordsWritten, 2u);
    EXPECT_EQ(context.bytesWritten, written.size());
    EXPECT_EQ(context.logCrc, crc32(0, reinterpret_cast<const Bytef*>(written.data()),
                                    static_cast<uInt>(written.size())));
}

TEST_F(MessageTest, FirstErrorBecomesTheStatusText) {
    Message(&context, MSG_WARNING, 0, "just a warning");
    Message(&context, MSG_ERROR, 0, "first error");
    Message(&context, MSG_ERROR, 0, "second error");
    EXPECT_STREQ(context.statusText, "first error");
    SetStatusText(&context, "%s", std::string(400, 's').c_str());
    EXPECT_EQ(strlen(context.statusText), 255u);
}

TEST_F(MessageTest, FilteredMessagesCountButAreNotWritten) {
    config_t filters;
    config_init(&filters);
    ASSERT_TRUE(
        config_read_string(&filters, "filters = ( { filter = \"*secret*\"; }, { other = 1; } );"));
    context.messageFilters = config_lookup(&filters, "filters");
    EXPECT_EQ(Message(&context, MSG_ERROR, 0, "a secret thing"), 0);
    Message(&context, MSG_INFO, 0, "plain");
    std::string written = Written();
    EXPECT_EQ(testsupport::Lines(written).size(), 1u);
    EXPECT_EQ(context.recordsWritten, 2u);
    EXPECT_EQ(context.bytesWritten, written.size());
    EXPECT_EQ(context.logCrc, crc32(0, reinterpret_cast<const Bytef*>(written.data()),
                                    static_cast<uInt>(written.size())));
    EXPECT_STREQ(context.statusText, "a secret thing");
    context.messageFilters = nullptr;
    config_destroy(&filters);
}

}  // namespace
