// Progress points: counters that log a progress message at most once per interval.
#pragma once
#include <cstdint>
#include <ctime>

#include "base/message_sink.h"

constexpr uint32_t PROGRESS_SILENT = 0x01;

struct ProgressPoint {
    MessageSink sink;  // receives the messages; one without a write operation = never log
    uint64_t processed;
    uint64_t expected;  // 0 = unknown
    uint64_t processedAtLastReport;
    uint32_t numberFlags;  // FormatCount flags for the counts in the message
    uint32_t interval;     // seconds
    int64_t lastReportTime;
    int64_t startTime;
    char taskName[32];
    char unitName[32];
    uint32_t flags;
    void (*add)(ProgressPoint* point, uint64_t amount);
    // The clock; time() unless a test puts its own here after Progress_Init.
    time_t (*now)(time_t*);
};

// sink: where the progress lines go; none = never log.
void Progress_Init(ProgressPoint* point, const MessageSink* sink, uint32_t interval);
void Progress_Add(ProgressPoint* point, uint64_t amount);
