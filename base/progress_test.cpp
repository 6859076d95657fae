// Progress points: when messages are due and what they say, with an injected clock.
#include "base/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

time_t fakeNow = 1000;
time_t FakeClock(time_t*) {
    return fakeNow;
}

std::vector<std::string> captured;
void CaptureMessage(void*, int level, unsigned, const char* text) {
    captured.push_back(std::to_string(level) + ":" + text);
}

class ProgressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("ZYMBPROGRESSDISABLE");
        captured.clear();
        fakeNow = 1000;
    }
    MessageSink sink{nullptr, CaptureMessage};
};

TEST_F(ProgressTest, FirstMessageComesAtTheCountAfterOneInterval) {
    ProgressPoint point;
    Progress_Init(&point, &sink, 30);
    point.now = FakeClock;
    std::vector<time_t> loggedAt;
    for (int second = 0; second <= 70; ++second) {
        fakeNow = 1000 + second;
        size_t before = captured.size();
        point.add(&point, 1);
        if (captured.size() != before) loggedAt.push_back(second);
    }
    // The first count only starts the clock; 31 seconds later the first line is due,
    // and its delta covers every count since the start, the first one included.
    EXPECT_EQ(loggedAt, (std::vector<time_t>{31, 62}));
    EXPECT_EQ(captured[0],
              "2:[Main-Task] Progress point: 32 items processed in S31. 32 in the last 30 seconds "
              "(1.07/second - 1.03/second-average)");
}

TEST_F(ProgressTest, PercentFormWhenTheTotalIsKnown) {
    ProgressPoint point;
    Progress_Init(&point, &sink, 10);
    point.now = FakeClock;
    point.expected = 400;
    point.add(&point, 0);
    fakeNow += 11;
    point.add(&point, 100);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_EQ(captured[0],
              "2:[Main-Task] Progress point: 100 items processed in S11. 100 in the last 10 "
              "seconds (25.00% complete. S33 remaining)");
}

TEST_F(ProgressTest, SilentAndSinklessPointsOnlyCount) {
    setenv("ZYMBPROGRESSDISABLE", "", 1);
    ProgressPoint silent;
    Progress_Init(&silent, &sink, 1);
    unsetenv("ZYMBPROGRESSDISABLE");
    ProgressPoint noSink;
    Progress_Init(&noSink, nullptr, 1);
    for (ProgressPoint* point : {&silent, &noSink}) {
        point->now = FakeClock;
        for (int i = 0; i < 5; ++i) {
            fakeNow += 5;
            point->add(point, 2);
        }
        EXPECT_EQ(point->processed, 10u);
    }
    EXPECT_TRUE(captured.empty());
}

}  // namespace
