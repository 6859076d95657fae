// The progress line of a long transfer: on a terminal, one line rewritten in place (bytes,
// percentage, rate, time left) instead of a log line per step. The redirect file, syslog
// and a standard error that is no terminal still get every step's line, unchanged.
//
// The line belongs to the context's console: any other message clears it before it is
// written, and the next update draws it again. Use from the thread that runs the transfer.
#pragma once
#include <cstdint>

#include "frame/program_context.h"

struct ProgressLine {
    ProgramContext* context;
    bool active;        // drawn on the terminal; false: every step's line goes out as ever
    uint64_t total;     // bytes expected; 0 = unknown
    uint64_t done;      // bytes so far
    int64_t startTime;  // monotonic nanoseconds
    int64_t lastDrawn;  // monotonic nanoseconds of the last drawing; 0 = never
    char label[64];     // what is transferred, shown after the figures
};

// Starts a line for total bytes. It is shown only where the log's lines reach a terminal
// (standard error is one, and no redirect file takes the lines without ZYMBSTDERRTERMINAL),
// not under a web server, and not when ZYMBPROGRESSDISABLE is set.
void ProgressLine_Begin(ProgressLine* line, ProgramContext* context, const char* label,
                        uint64_t total);
// A step's log line: every sink gets it except the terminal that shows this progress line.
// Without an active line it is an ordinary Message.
int ProgressLine_Message(ProgressLine* line, int level, unsigned number, const char* format, ...)
    ZYMB_PRINTF(4, 5);
// Sets the bytes done and redraws the line, at most ten times a second but always at the
// first update and when the total is reached.
void ProgressLine_Update(ProgressLine* line, uint64_t done);
// Clears the line from the terminal; the terminal is then as if it had never been shown.
void ProgressLine_End(ProgressLine* line);

// The line's text for the figures given, cut to width characters. Exposed for tests.
void ProgressLine_Format(char* text, int width, uint64_t done, uint64_t total,
                         double elapsedSeconds, const char* label);
