// What ZYMBBatch --history and --schedules print, and the texts of a run record that the
// window's History tab shows as well.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

#include "batch/run_history.h"

// The last count runs, oldest first: a table, or with json one record per line. Damaged
// lines are warned about on standard error. Returns the exit status (1 when the history
// cannot be read).
int PrintHistory(FILE* out, size_t count, bool json);
// The scheduled definitions as a table. Returns the exit status.
int PrintSchedules(FILE* out);

// "0", "3", "cancelled".
std::string RunStatusText(const RunRecord& record);
// "0:07", "12:30", "1:02:03".
std::string RunDurationText(const RunRecord& record);
// The start in local time, "2026-03-01 02:00:05".
std::string RunStartText(const RunRecord& record);
