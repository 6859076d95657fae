// The run history: one JSON line for each run of a batch definition, from the window or
// from --run, appended to $XDG_STATE_HOME/zymb/history.jsonl (else
// ~/.local/state/zymb/history.jsonl). Appends from several processes at once are safe:
// each record is one write under an exclusive lock, so records never interleave. The
// file is bounded: past the limit the oldest records are dropped.
//
// Results: true/false with the reason in a text; nothing here prints.
#pragma once
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct RunRecord {
    std::string definitionPath;  // the .cvbatch file, absolute; "" for an unsaved definition
    std::string program;         // the program as started (the search's result)
    std::string arguments;       // the expanded arguments, as the command line got them
    time_t startTime = 0;
    time_t endTime = 0;
    int exitStatus = 0;  // as --run reports it: the child's code, 100 cancelled, 128 + N
    bool cancelled = false;
    uint64_t stdoutLines = 0;
    uint64_t stderrLines = 0;
    std::string logPath;  // the batch log holding the run's output; "" without a log
};

// Records kept; the oldest beyond it are dropped when a record is appended.
constexpr size_t kRunHistoryLimit = 10000;

// The history file's path, or "" when neither XDG_STATE_HOME nor HOME gives a folder.
std::string RunHistoryPath();

// Appends record to the history file (RunHistoryPath()), creating its folder (0700) and
// the file (0600) when missing. False with *reason set when it could not be written; the
// file then holds no part of the record.
bool AppendRunRecord(const RunRecord& record, std::string* reason);
// The same on a given file and limit, for tests and tools.
bool AppendRunRecordTo(const std::string& path, const RunRecord& record, size_t limit,
                       std::string* reason);

struct RunHistory {
    bool ok = false;                    // false: the file exists but cannot be read
    std::string reason;                 // why not, when !ok
    std::vector<RunRecord> records;     // oldest first
    std::vector<std::string> warnings;  // one for each damaged line that was skipped
};

// Reads the last `last` records (0: all) of the history file. A missing file is an empty
// history; a damaged line is skipped with a warning naming the file and line.
RunHistory ReadRunHistory(const std::string& path, size_t last);

// One record as its JSON line (without the line feed), and the parse of one. ParseRunRecord
// is false for a line that is not a whole record.
std::string RunRecordJson(const RunRecord& record);
bool ParseRunRecord(const std::string& line, RunRecord* record);

// ISO 8601 local time with the zone's offset: "2026-03-01T02:00:05+01:00". The parse takes
// that form (or "Z" for UTC) back; false when the text is not one.
std::string IsoTimeText(time_t when);
bool ParseIsoTime(const std::string& text, time_t* when);
