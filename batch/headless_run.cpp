// The headless run: a batch definition run from the command line, its output passed
// through as it arrives and kept in the batch log as the window keeps it.
#include "batch/headless_run.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "batch/batch_run.h"

namespace {

constexpr size_t kEchoBuffer = 64 * 1024;

// What the signal thread and the main thread share. It lives as long as the process, since
// the signal thread is never joined.
struct HeadlessState {
    std::mutex mutex;
    std::condition_variable ended;
    BatchRun* run = nullptr;  // set while the child may be running
    bool done = false;        // the run has ended
};

HeadlessState& State() {
    static HeadlessState* state = new HeadlessState;
    return *state;
}

// Receives SIGINT, SIGTERM and SIGHUP for the whole run. Before the child is started
// nothing needs undoing, and the main thread may be waiting on a FIFO or reading a huge
// definition: the process ends at once. Once started, the child's group is cancelled and
// the run ends normally.
void* ReceiveSignals(void* argument) {
    const sigset_t* waited = static_cast<const sigset_t*>(argument);
    for (;;) {
        int signalNumber = 0;
        if (sigwait(waited, &signalNumber) != 0) continue;
        HeadlessState& state = State();
        std::lock_guard<std::mutex> guard(state.mutex);
        if (state.done) continue;
        if (state.run == nullptr) {
            char text[128];
            snprintf(text, sizeof text,
                     "ZYMBBatch: interrupted by signal %d before the program was started\n",
                     signalNumber);
            fflush(stdout);
            (void)!write(STDERR_FILENO, text, strlen(text));
            _exit(128 + signalNumber);
        }
        state.run->Cancel();
    }
    return nullptr;
}

// Echoes one stream of the child to ours; a reader that went away (a pipe into head)
// costs the echo, never the run or the log.
struct Echo {
    FILE* stream;
    bool failed = false;
};

// Every --run is kept in the run history, a refused one too, so that a scheduled job that
// fails shows there. A history that cannot be written costs the run nothing.
void KeepInHistory(const RunRecord& record) {
    std::string reason;
    if (!AppendRunRecord(record, &reason))
        fprintf(stderr, "ZYMBBatch: the run history cannot be written: %s\n", reason.c_str());
}

RunRecord RefusedRun(const std::string& definitionPath, const std::string& program,
                     const BatchLog& log, time_t startTime) {
    RunRecord record;
    record.definitionPath = definitionPath;
    record.program = program;
    record.startTime = startTime;
    record.endTime = time(nullptr);
    record.exitStatus = 2;
    record.logPath = log.IsOpen() ? log.Path() : std::string();
    return record;
}

}  // namespace

int RunBatchHeadless(const char* batchFile) {
    // Every thread started from here on inherits the blocked set, so the signals reach the
    // signal thread alone.
    static sigset_t waited;
    sigemptyset(&waited);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&waited, signalNumber);
    pthread_sigmask(SIG_BLOCK, &waited, nullptr);
    pthread_t signalThread;
    if (pthread_create(&signalThread, nullptr, ReceiveSignals, &waited) == 0) {
        pthread_detach(signalThread);
    }
    // Written to a pipe whose reader left: an error to note, not a reason to die and
    // leave the child unsupervised.
    signal(SIGPIPE, SIG_IGN);
    // A log that reaches the file size limit is reported as incomplete, not a crash.
    signal(SIGXFSZ, SIG_IGN);

    BatchLog log;
    std::string reason;
    if (!log.Open(&reason)) {
        fprintf(stderr, "ZYMBBatch: the batch log cannot be created: %s\n", reason.c_str());
    }
    auto tellLog = [&log] {
        if (log.IsOpen()) fprintf(stderr, "ZYMBBatch: batch log %s\n", log.Path().c_str());
    };
    // The run history wants to find the definition again from anywhere.
    const time_t startTime = time(nullptr);
    char* absolute = realpath(batchFile, nullptr);
    std::string definitionPath = absolute != nullptr ? absolute : batchFile;
    free(absolute);
    BatchDefinition definition;
    BatchReadResult read = definition.Read(batchFile);
    if (!read.ok) {
        if (read.errorLine > 0) {
            fprintf(stderr, "ZYMBBatch: %s: %s on line %d\n", batchFile, read.errorText.c_str(),
                    read.errorLine);
        } else {
            fprintf(stderr, "ZYMBBatch: %s: %s\n", batchFile, read.errorText.c_str());
        }
        KeepInHistory(RefusedRun(definitionPath, "", log, startTime));
        tellLog();
        return 2;
    }
    BatchFields fields{read.program.value_or(""), read.arguments.value_or(""),
                       read.workingDirectory.value_or(""), read.environment.value_or(""),
                       read.stdinFile.value_or("")};

    std::string limitWarning;
    RunLimits limits;
    limits.keptLines = 0;  // the lines are echoed, not kept
    limits.logBytes = LogLimitFromEnvironment(&limitWarning);
    if (!limitWarning.empty()) fprintf(stderr, "ZYMBBatch: %s\n", limitWarning.c_str());

    // Standard error is unbuffered by default, which would cost a system call per line; each
    // stream is flushed after every read of the child's output instead, so lines still
    // appear as they arrive.
    static char outputBuffer[kEchoBuffer], errorBuffer[kEchoBuffer];
    setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    setvbuf(stderr, errorBuffer, _IOFBF, sizeof errorBuffer);
    Echo echoes[2] = {{stdout}, {stderr}};
    HeadlessState& state = State();
    BatchRunSummary summary;
    BatchRun run(&log, limits);
    // A variable file that cannot be used leaves its references as written; said here, as
    // an unattended run would otherwise go on with "$NAME" in its arguments in silence.
    if (const std::string& problem = run.Runner().variables.fileProblem; !problem.empty()) {
        fprintf(stderr, "ZYMBBatch: warning: %s\n", problem.c_str());
        log.Text("%s", problem.c_str());
    }
    run.onLine = [&echoes](RunStreamId stream, std::string_view line) {
        Echo& echo = echoes[stream];
        if (echo.failed) return;
        fwrite_unlocked(line.data(), 1, line.size(), echo.stream);
        putc_unlocked('\n', echo.stream);
    };
    run.onAfterRead = [&echoes](RunStreamId stream) {
        Echo& echo = echoes[stream];
        if (!echo.failed && fflush(echo.stream) != 0) echo.failed = true;
    };
    run.onEnd = [&state, &summary](const BatchRunSummary& ended) {
        std::lock_guard<std::mutex> guard(state.mutex);
        summary = ended;
        state.done = true;
        state.ended.notify_all();
    };

    BatchRunStart start = run.Start(&definition, fields, definitionPath);
    int status = 0;
    switch (start.outcome) {
        case BatchRunStart::EMPTY_PROGRAM:
            fprintf(stderr, "ZYMBBatch: %s\n", EMPTY_PROGRAM_TEXT);
            status = 2;
            break;
        case BatchRunStart::STDIN_UNOPENED:
            fprintf(stderr, "ZYMBBatch: ");
            fprintf(stderr, STDIN_UNOPENED_FORMAT, start.reason.c_str());
            fprintf(stderr, "\n");
            status = 2;
            break;
        case BatchRunStart::EXPANSION_FAILED:
        case BatchRunStart::START_FAILED:
            fprintf(stderr, "ZYMBBatch: %s\n", start.reason.c_str());
            status = 2;
            break;
        case BatchRunStart::STARTED: {
            // From here a signal cancels instead of ending the process: the run's end then
            // writes the log and reports. Before, the child cannot have started anything
            // that the end of this process would not also end.
            std::unique_lock<std::mutex> lock(state.mutex);
            state.run = &run;
            state.ended.wait(lock, [&state] { return state.done; });
            state.run = nullptr;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> guard(state.mutex);
        state.done = true;  // a signal from now on changes nothing
        state.run = nullptr;
    }
    if (start.outcome == BatchRunStart::STARTED && summary.started) {
        status = ExitStatusOf(summary);
        fprintf(stderr, "ZYMBBatch: %s: Return Code was %u, Runtime %u seconds\n",
                summary.cancelled ? "Program Cancelled" : "Program Completed", summary.exitCode,
                summary.seconds);
    } else if (start.outcome == BatchRunStart::STARTED) {
        fprintf(stderr, "ZYMBBatch: Program Failed to Start: %s\n",
                summary.startFailureText.c_str());
        status = ExitStatusOf(summary);
    }
    KeepInHistory(start.outcome == BatchRunStart::STARTED
                      ? HistoryRecordOf(summary)
                      : RefusedRun(definitionPath, fields.program, log, startTime));
    if (!summary.logProblem.empty()) {
        fprintf(stderr, "ZYMBBatch: the batch log could not be written: %s\n",
                summary.logProblem.c_str());
    }
    if (summary.logDroppedLines != 0) {
        fprintf(stderr, "ZYMBBatch: %llu lines of output were left out of the batch log (%s)\n",
                static_cast<unsigned long long>(summary.logDroppedLines), LOG_LIMIT_VARIABLE);
    }
    tellLog();
    fflush(stdout);
    fflush(stderr);
    return status;
}
