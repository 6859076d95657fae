// The text of the progress line: figures, rate, time left, and the cut to the width.
#include "frame/progress_line.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct FormatCase {
    uint64_t done;
    uint64_t total;
    double elapsed;
    int width;
    const char* expected;
};

constexpr uint64_t MiB = 1024 * 1024;

TEST(ProgressLineFormat, FiguresRateAndTimeLeft) {
    const FormatCase cases[] = {
        {0, 130000, 0, 119, "0 B of 127.0 KiB (  0%)  big.bin"},
        {50 * MiB, 100 * MiB, 5, 119,
         "50.0 MiB of 100.0 MiB ( 50%), 10.0 MiB/s, 0:05 left  big.bin"},
        {1024 * MiB, 1024 * MiB, 100, 119, "1.0 GiB of 1.0 GiB (100%), 10.2 MiB/s  big.bin"},
        {MiB, 10240 * MiB, 1, 119, "1.0 MiB of 10.0 GiB (  0%), 1.0 MiB/s, 2:50:39 left  big.bin"},
        {2048, 0, 1, 119, "2.0 KiB, 2.0 KiB/s  big.bin"},
        // More than announced (a server that sends too much) never shows over 100 %.
        {200, 100, 1, 119, "200 B of 100 B (100%), 200 B/s  big.bin"},
        // Cut to the terminal: the figures stay, the name goes first.
        {50 * MiB, 100 * MiB, 5, 15, "50.0 MiB of 100"},
    };
    for (const FormatCase& c : cases) {
        char text[402];
        ProgressLine_Format(text, c.width, c.done, c.total, c.elapsed, "big.bin");
        EXPECT_STREQ(text, c.expected) << c.done << " of " << c.total;
        EXPECT_LE(strlen(text), static_cast<size_t>(c.width));
    }
}

// A stored name is the server's text: an escape sequence in it must not reach the terminal.
TEST(ProgressLineFormat, LabelKeepsNoControlCharacters) {
    ProgramContext context{};
    ProgressLine line;
    ProgressLine_Begin(&line, &context, "a\x1b[2J\rb\x7f", 100);
    EXPECT_STREQ(line.label, "a?[2J?b?");
}

}  // namespace
