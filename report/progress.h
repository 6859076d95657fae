// Progress points: counters that log a progress message at most once per interval.
#pragma once
#include <cstdint>
#include <ctime>

struct ProgramContext;

constexpr uint32_t PROGRESS_SILENT = 0x01;

struct ProgressPoint {
    ProgramContext* sink;  // whose Message receives the messages; none = never log
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

void Progress_Init(ProgressPoint* point, ProgramContext* sink, uint32_t interval);
void Progress_Add(ProgressPoint* point, uint64_t amount);
