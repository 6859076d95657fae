// The run controller: one run of a batch definition from its texts to its end, for both
// the window and the headless run. It checks and expands the definition's fields, fills
// the child's environment, starts the runner, keeps the newest output lines for a window
// to show, writes every section of the run into the batch log (within a limit per run),
// counts the lines and holds the final status. It knows nothing of windows: its owner is
// told of lines and of the end through the hooks below and shows what it is told.
//
// Threads: Start, Pause, Resume, Cancel and the accessors run on the owner's thread
// (Cancel also on any other). The hooks run on the runner's threads and must not wait
// for the owner's thread. One run at a time; the controller is reused for every run.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "batch/batch_definition.h"
#include "batch/batch_log.h"
#include "batch/process_runner.h"
#include "batch/run_history.h"

// The texts of a refused run.
constexpr const char* EMPTY_PROGRAM_TEXT = "The Program Path can not be an empty string";
constexpr const char* EMPTY_PROGRAM_CAPTION = "Empty Program Path";
constexpr const char* STDIN_UNOPENED_FORMAT = "The StdIn file could not be opened: %s";
constexpr const char* STDIN_UNOPENED_CAPTION = "Invalid StdIn file";
constexpr const char* EXPANSION_CAPTION = "Variable Does Not Fit";

// How much of a run's output the batch log takes by default, and the environment
// variable that changes it (bytes, or with K, M or G; 0: no limit).
constexpr uint64_t DEFAULT_LOG_LIMIT = 256ull << 20;
constexpr const char* LOG_LIMIT_VARIABLE = "ZYMBBATCHLOGMAX";
// The limit ZYMBBATCHLOGMAX sets, or the default; a value that does not read gives the
// default and sets *warning to say so.
uint64_t LogLimitFromEnvironment(std::string* warning);

struct RunLimits {
    // The newest lines of each stream kept for a window (0 lines: none kept).
    size_t keptLines = 200000;
    size_t keptBytes = 64u << 20;
    // Output bytes (both streams together, line ends included) a run writes to the log.
    uint64_t logBytes = DEFAULT_LOG_LIMIT;
};

enum RunStreamId { RUN_STDOUT = 0, RUN_STDERR = 1 };

// The newest lines of one stream, numbered from the run's first line. Thread-safe: lines
// arrive on a reader thread while the window reads them.
class KeptLines {
  public:
    KeptLines(size_t maxLines, size_t maxBytes) : maxLines_(maxLines), maxBytes_(maxBytes) {}
    void Add(std::string_view line);
    void Clear();
    // The number of the oldest line still kept (= how many were dropped), and one past
    // the newest.
    uint64_t First() const;
    uint64_t End() const;
    // Line number, when it is still kept.
    bool Line(uint64_t number, std::string* text) const;

  private:
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
    uint64_t first_ = 0;
    size_t bytes_ = 0;
    size_t maxLines_;
    size_t maxBytes_;
};

// How the last run went: what a window, the headless run and the run history report.
struct BatchRunSummary {
    std::string definitionPath;  // the .cvbatch file, or "" when it was never saved
    std::string program;         // as typed
    std::string arguments;       // expanded
    time_t startTime = 0;
    time_t endTime = 0;
    bool started = false;   // false: the program could not be started
    uint32_t exitCode = 0;  // the child's; 100 when cancelled; 128 + N after signal N
    bool cancelled = false;
    uint32_t seconds = 0;  // run time
    StartFailure startFailure = StartFailure::NONE;
    int startError = 0;            // errno of the failed start
    std::string startFailureText;  // what was wrong, naming the program or the folder
    uint64_t stdoutLines = 0;
    uint64_t stderrLines = 0;
    std::string logPath;           // "" without a log
    std::string logProblem;        // why the log is incomplete (a write failed), or ""
    uint64_t logDroppedLines = 0;  // output lines left out of the log by its limit
};

// The exit status --run reports for a run: the child's code (100 when cancelled, 128 + N
// after signal N), 127 when the program was not found, 126 when it could not be started.
int ExitStatusOf(const BatchRunSummary& summary);

// The run as a record of the run history.
RunRecord HistoryRecordOf(const BatchRunSummary& summary);

struct BatchRunStart {
    enum Outcome {
        STARTED,           // the run began: onEnd follows
        EMPTY_PROGRAM,     // nothing started; the program text is empty
        STDIN_UNOPENED,    // nothing started; reason: "path: the system's text"
        EXPANSION_FAILED,  // nothing started; reason names the variable and the field
        START_FAILED,      // nothing started: the command line cannot be split, or the runner
                           // refused (no pipes or thread); reason holds the text
    } outcome;
    std::string reason;
};

class BatchRun {
  public:
    // log: the batch log, which must outlive the controller (it may be closed).
    explicit BatchRun(BatchLog* log, RunLimits limits = {});
    ~BatchRun();  // cancels a run in progress and waits for its end
    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;

    // Hooks, set before Start. onLine: every line, on its stream's reader thread (the
    // headless run echoes it). onAfterRead: after the lines of one read, same thread.
    // onEnd: once per started run, on the runner thread, once the log holds the whole run
    // and the summary is final. historyHook: likewise, just before onEnd (the run history).
    std::function<void(RunStreamId stream, std::string_view line)> onLine;
    std::function<void(RunStreamId stream)> onAfterRead;
    std::function<void(const BatchRunSummary& summary)> onEnd;
    std::function<void(const BatchRunSummary& summary)> historyHook;

    // Checks the fields (program not empty, standard-input file opens, every expansion
    // fits), writes "Starting Program", the definition (after copying the fields into it),
    // "Variables" and the environment to the log, and starts the runner. Nothing is
    // started, written or cleared when the run is refused. The lines of the previous run
    // are cleared when this run starts.
    BatchRunStart Start(BatchDefinition* definition, const BatchFields& fields,
                        const std::string& definitionPath);
    void Pause() { runner_.Pause(); }
    void Resume() { runner_.Resume(); }
    void Cancel() { runner_.Cancel(); }

    // From Start until onEnd has returned.
    bool InProgress() const { return inProgress_.load(); }
    bool ChildRunning() const { return (runner_.flags.load() & RUNNER_RUNNING) != 0; }
    bool Paused() const { return (runner_.flags.load() & RUNNER_PAUSED) != 0; }
    // When the run in progress started (time()), for a running clock.
    time_t StartedAt() const { return startedAt_; }
    const KeptLines& Lines(RunStreamId stream) const { return kept_[stream]; }
    uint64_t LineCount(RunStreamId stream) const { return counts_[stream].load(); }
    // The last run's summary; final once onEnd has been called.
    const BatchRunSummary& Summary() const { return summary_; }
    const RunLimits& Limits() const { return limits_; }
    // Changes the log's share of each run's output (0: no limit); between runs only.
    void SetLogLimit(uint64_t bytes) { limits_.logBytes = bytes; }
    ProcessRunner& Runner() { return runner_; }

  private:
    static void LineArrived(RunnerStream* stream, std::string_view line);
    static void AfterRead(RunnerStream* stream);
    static void Completed(ProcessRunner* runner, uint32_t exitCode, uint32_t seconds);
    static void FailedStart(ProcessRunner* runner, int error, const char* errorText);
    void LogLine(RunStreamId stream, std::string_view line);
    void FinishLog();
    void End();

    BatchLog* log_;
    RunLimits limits_;
    ProcessRunner runner_;
    KeptLines kept_[2];
    std::atomic<uint64_t> counts_[2] = {0, 0};
    std::atomic<bool> inProgress_{false};
    time_t startedAt_ = 0;
    BatchRunSummary summary_;
    // The log's share of this run's output: what is left of the limit, and what was left
    // out of each stream.
    std::atomic<uint64_t> logBudget_{0};
    uint64_t logDropped_[2] = {0, 0};
    bool stdoutHeaderWritten_ = false;  // the stdout reader's
    FILE* spool_ = nullptr;             // standard error until the run ends
};
