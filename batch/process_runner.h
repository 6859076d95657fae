// The program runner: starts a batch definition's program as a child process with pipes
// for its three standard streams, hands its output to callbacks line by line, feeds it a
// file as standard input, lets it be paused, resumed and cancelled, and reports its exit
// code and run time. It knows nothing of windows or of the batch log; the run controller
// (batch_run.h) wires it for both the window and the headless run.
//
// Threads: the caller's thread fills the runner and calls its operations. Each run adds a
// runner thread, which starts and watches the child and calls the completion or
// failed-start callback, one reader thread per output stream, which calls that stream's
// line callback, and a writer thread while a standard-input file is fed. Callbacks must
// return promptly and must not wait for the caller's thread (post, never send), nor call
// Start or Destroy.
//
// Ownership: the runner owns its pipes, threads, environment table, working directory,
// input source and variable store. It is reused for every run; one run at a time.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "batch/child_process.h"
#include "batch/environment.h"
#include "batch/variable_store.h"
#include "platform/unique_fd.h"

// Runner flags.
constexpr uint32_t RUNNER_RUNNING = 0x1;      // the child is alive and being watched
constexpr uint32_t RUNNER_IN_PROGRESS = 0x2;  // from Start until the run has ended
constexpr uint32_t RUNNER_PAUSED = 0x4;       // the child's group is stopped

// The exit code a cancelled run reports.
constexpr uint32_t RUNNER_CANCEL_EXIT_CODE = 100;
// How long the runner keeps reading after the child ended, for pipes that a grandchild
// still holds open, before the run ends anyway. A cancel ends this at once.
constexpr int RUNNER_DRAIN_MILLISECONDS = 1000;

struct ProcessRunner;

// Why Start would refuse a command line ("The command line cannot be split into words:
// ..."), or "" when it splits.
std::string CommandLineProblem(const char* commandLine);

struct RunnerStream {
    UniqueFd readEnd;   // the runner's end of the pipe
    UniqueFd writeEnd;  // the child's end, closed in the runner once the child has it
    std::thread reader;
    std::string carry;  // bytes of an incomplete last line; the reader's own
    // Handed to the line callback; the caller's.
    void* userContext = nullptr;
    // Called on this stream's reader thread for every line, in order, without its line end
    // (LF or CR LF). The text is valid only during the call and is followed by a zero
    // byte. A last line without a line feed is delivered when the stream ends. Null: the
    // lines are read and dropped.
    void (*lineCallback)(RunnerStream* stream, std::string_view line) = nullptr;
    ProcessRunner* runner = nullptr;  // the runner this stream belongs to
    // Called on the reader thread after the lines of one read have all been delivered, and
    // once more after the last line: the moment to flush or post what was gathered. Null:
    // nothing is called.
    void (*afterReadCallback)(RunnerStream* stream) = nullptr;
};

struct ProcessRunner {
    RunnerStream output;  // the child's standard output
    RunnerStream error;   // the child's standard error
    UniqueFd inputReadEnd;
    UniqueFd inputWriteEnd;
    pid_t pid = -1;  // the child, also its process group; -1 once reaped
    // The standard-input file, opened by the caller (read-only) before Start; closed = none.
    // The runner closes it when the run ends.
    UniqueFd inputSource;
    std::thread runnerThread;
    EnvironmentTable environment;  // the child's environment, filled by the caller
    char commandLine[1024] = {};   // copied by Start, cut to 1023 characters
    // The child's working directory, set by the caller before Start; empty = inherit ours.
    std::string workingDirectory;
    uint32_t exitCode = 0;
    std::atomic<uint32_t> flags{0};
    bool cancelled = false;  // the last run was ended by Cancel (valid in the callbacks)
    int createError = 0;     // errno of a failed start, else 0
    StartFailure startFailure = StartFailure::NONE;
    // What went wrong, as a user reads it: which program was not found (and where it was
    // looked for), which working folder is missing, why the command line was refused.
    char createErrorText[1024] = {};
    void* userContext = nullptr;  // the caller's
    // Called on the runner thread when a started child has ended and both streams are
    // drained: exit code (100 after Cancel, 128 + N when the child died of signal N) and
    // run time in whole seconds. Every line callback has returned before it is called.
    void (*completedCallback)(ProcessRunner* runner, uint32_t exitCode, uint32_t seconds) = nullptr;
    // Called on the runner thread instead of completedCallback when the child could not be
    // started: errno and the text above; startFailure says which cause.
    void (*failedStartCallback)(ProcessRunner* runner, int error, const char* errorText) = nullptr;
    int64_t startTime = 0;  // seconds: just before the child was started
    int64_t endTime = 0;    // seconds: just after it ended
    VariableStore variables;

    // Initialises the variable store (which reads ZYMBVARFILE).
    ProcessRunner();
    // Cancels a run in progress and waits for it to end.
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // Starts a run of the command line: the program as typed and its arguments, split into
    // words by the shell's quoting rules (no shell runs, nothing is expanded or
    // redirected). The program is found as SearchProgram finds it. The child runs in a
    // session of its own and is killed when this process dies. Returns 1 when the runner
    // thread was started: exactly one of the two end callbacks follows. Returns 0 with
    // createErrorText set when no run began (a run still in progress, a command line that
    // cannot be split, no pipes or thread); then no callback follows.
    int Start(const char* commandLine);
    // Stops the child's process group (SIGSTOP); sets RUNNER_PAUSED when that worked.
    // Returns 1.
    int Pause();
    // Continues the child's process group (SIGCONT); clears RUNNER_PAUSED. Returns 1.
    int Resume();
    // Kills the child's process group (SIGKILL) and stops reading what a grandchild may
    // still write; the run then ends through the completed callback with exit code 100.
    // Any thread. Returns 1.
    int Cancel();
    // Cancels a run in progress, waits for it to end and empties the environment. Returns 1.
    int Destroy();

    // The runner thread's private state for one run (wake-ups, the stop pipe).
    struct RunState;
    std::unique_ptr<RunState> state;
};
