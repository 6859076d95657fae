// ZYMBBatch --history and --schedules.
#include "batch/history_command.h"

#include <algorithm>
#include <vector>

#include "base/shown_text.h"
#include "base/utf8.h"
#include "batch/batch_log.h"
#include "batch/schedule.h"

namespace {

// Prints rows as columns padded to their widest cell; the last column is not padded.
void PrintTable(FILE* out, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& rightAligned) {
    // Cells hold names from the file system: shown without their control characters, and
    // padded by the columns a terminal gives them, so every script lines up.
    std::vector<std::vector<std::string>> shown;
    for (const auto& row : rows) {
        shown.emplace_back();
        for (const std::string& cell : row) shown.back().push_back(ShownText(cell));
    }
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : shown)
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    for (const auto& row : shown) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            bool last = c + 1 == row.size();
            std::string pad(widths[c] - DisplayWidth(row[c]), ' ');
            line += rightAligned[c] ? pad + row[c] : row[c] + (last ? "" : pad);
            if (!last) line += "  ";
        }
        fprintf(out, "%s\n", line.c_str());
    }
}

}  // namespace

std::string RunStatusText(const RunRecord& record) {
    return record.cancelled ? std::string("cancelled") : std::to_string(record.exitStatus);
}

std::string RunDurationText(const RunRecord& record) {
    long long seconds = std::max<long long>(0, record.endTime - record.startTime);
    char text[32];
    if (seconds >= 3600)
        snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds % 3600 / 60,
                 seconds % 60);
    else
        snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string RunStartText(const RunRecord& record) {
    return LogTimeText(record.startTime);
}

int PrintHistory(FILE* out, size_t count, bool json) {
    std::string path = RunHistoryPath();
    if (path.empty()) {
        fprintf(stderr, "ZYMBBatch: no run history: neither XDG_STATE_HOME nor HOME is set\n");
        return 1;
    }
    RunHistory history = ReadRunHistory(path, count);
    for (const std::string& warning : history.warnings)
        fprintf(stderr, "ZYMBBatch: warning: %s\n", warning.c_str());
    if (!history.ok) {
        fprintf(stderr, "ZYMBBatch: the run history cannot be read: %s\n", history.reason.c_str());
        return 1;
    }
    if (json) {
        for (const RunRecord& record : history.records)
            fprintf(out, "%s\n", RunRecordJson(record).c_str());
        return 0;
    }
    if (history.records.empty()) {
        fprintf(out, "No runs recorded yet (%s).\n", path.c_str());
        return 0;
    }
    std::vector<std::vector<std::string>> rows = {
        {"START", "DURATION", "STATUS", "OUT", "ERR", "DEFINITION"}};
    for (const RunRecord& record : history.records)
        rows.push_back({RunStartText(record), RunDurationText(record), RunStatusText(record),
                        std::to_string(record.stdoutLines), std::to_string(record.stderrLines),
                        record.definitionPath.empty() ? "(not saved)" : record.definitionPath});
    PrintTable(out, rows, {false, true, true, true, true, false});
    return 0;
}

int PrintSchedules(FILE* out) {
    std::vector<ScheduledRun> runs = ListSchedules();
    if (runs.empty()) {
        fprintf(out, "No scheduled definitions (%s).\n", ScheduleUnitFolder().c_str());
        return 0;
    }
    std::vector<std::vector<std::string>> rows = {
        {"NEXT RUN", "LAST RUN", "CALENDAR", "DEFINITION"}};
    for (const ScheduledRun& run : runs)
        rows.push_back({run.nextRun.empty() ? "-" : run.nextRun,
                        run.lastRun.empty() ? "-" : run.lastRun, run.expression, run.definition});
    PrintTable(out, rows, {false, false, false, false});
    return 0;
}
