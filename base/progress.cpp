// Progress points: count items and log a progress line at most once per interval.
#include "base/progress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/value_format.h"

void Progress_Init(ProgressPoint* point, const MessageSink* sink, uint32_t interval) {
    memset(point, 0, sizeof *point);
    if (sink != nullptr) point->sink = *sink;
    point->add = Progress_Add;
    point->now = time;
    point->interval = interval;
    snprintf(point->taskName, sizeof point->taskName, "Main-Task");
    snprintf(point->unitName, sizeof point->unitName, "items");
    if (getenv("ZYMBPROGRESSDISABLE") != nullptr) point->flags |= PROGRESS_SILENT;
}

void Progress_Add(ProgressPoint* point, uint64_t amount) {
    int64_t now = point->now(nullptr);
    point->processed += amount;
    if (point->startTime == 0) point->startTime = now;
    if (point->lastReportTime == 0) {
        point->lastReportTime = now;
        return;
    }
    if (now - point->lastReportTime <= static_cast<int64_t>(point->interval)) return;
    if (point->interval != 0 && point->sink.write != nullptr) {
        uint64_t delta = point->processed >= point->processedAtLastReport
                             ? point->processed - point->processedAtLastReport
                             : point->processedAtLastReport - point->processed;
        uint64_t elapsed = static_cast<uint64_t>(now - point->startTime);
        double rate = static_cast<double>(delta) / point->interval;
        double average = now > point->startTime
                             ? static_cast<double>(point->processed) / (now - point->startTime)
                             : 0.0;
        double percent = 0.0, remaining = 0.0;
        if (point->expected != 0) {
            percent = static_cast<double>(point->processed) / static_cast<double>(point->expected) *
                      100.0;
            if (percent != 0.0)
                remaining =
                    (100.0 / percent) * static_cast<double>(elapsed) - static_cast<double>(elapsed);
        }
        if ((point->flags & PROGRESS_SILENT) == 0) {
            char processedText[32], deltaText[32], elapsedText[64];
            FormatCount(point->processed, processedText, sizeof processedText,
                        static_cast<int>(point->numberFlags));
            FormatCount(delta, deltaText, sizeof deltaText, static_cast<int>(point->numberFlags));
            snprintf(elapsedText, sizeof elapsedText, "%s", FormatDuration(elapsed));
            if (percent > 0.0) {
                // Past the expected total the remaining time would be negative: show none left.
                uint64_t left = remaining > 0.0 ? static_cast<uint64_t>(remaining) : 0;
                SinkMessage(point->sink, MSG_NOTICE, 0,
                            "[%.*s] Progress point: %s %.*s processed in %s. %s in the last %u "
                            "seconds (%2.2f%% complete. %s remaining)",
                            32, point->taskName, processedText, 32, point->unitName, elapsedText,
                            deltaText, point->interval, percent, FormatDuration(left));
            } else {
                SinkMessage(point->sink, MSG_NOTICE, 0,
                            "[%.*s] Progress point: %s %.*s processed in %s. %s in the last %u "
                            "seconds (%.2f/second - %.2f/second-average)",
                            32, point->taskName, processedText, 32, point->unitName, elapsedText,
                            deltaText, point->interval, rate, average);
            }
        }
    }
    point->processedAtLastReport = point->processed;
    point->lastReportTime = now;
}
