// The program runner: one child per run in a session and process group of its own, its
// standard streams on pipes, read by one thread each, a writer thread for the
// standard-input file, and a runner thread that starts the child, waits for it and
// reports the end.
#include "batch/process_runner.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

#include "batch/program_search.h"

namespace {

constexpr size_t kReadSize = 256 * 1024;
// A line longer than this is delivered in pieces of this size, so that a child writing
// without line feeds cannot make the carry grow without bound.
constexpr size_t kLongestLine = 1024 * 1024;
// Larger pipes mean fewer wake-ups for a child that writes a lot; the system default
// stays when the system refuses.
constexpr int kPipeSize = 1024 * 1024;

int64_t Seconds() {
    return static_cast<int64_t>(time(nullptr));
}

int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct ProcessRunner::RunState {
    // Closing stopWrite tells the readers and the writer to stop at once.
    UniqueFd stopRead;
    UniqueFd stopWrite;
    std::mutex mutex;  // guards signalling and reaping the child, and the fields below
    std::condition_variable changed;
    int streamsEnded = 0;
    bool cancelled = false;  // Cancel came before the run's end
    std::atomic<int64_t> lastActivity{0};
    std::thread writer;
    char** argv = nullptr;  // the command line's words (GLib's)
    // The guard of the child's group, and our end of its lifeline.
    pid_t guard = -1;
    UniqueFd lifeline;

    ~RunState() { g_strfreev(argv); }
};

namespace {

void SetFailure(ProcessRunner* runner, StartFailure failure, int error, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

void SetFailure(ProcessRunner* runner, StartFailure failure, int error, const char* format, ...) {
    runner->startFailure = failure;
    runner->createError = error;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(runner->createErrorText, sizeof runner->createErrorText, format, arguments);
    va_end(arguments);
}

void DeliverLine(RunnerStream* stream, char* start, size_t length) {
    if (length > 0 && start[length - 1] == '\r') --length;
    start[length] = '\0';
    if (stream->lineCallback != nullptr) stream->lineCallback(stream, {start, length});
}

void DeliverCarry(RunnerStream* stream) {
    std::string& carry = stream->carry;
    size_t length = carry.size();
    if (length > 0 && carry[length - 1] == '\r') --length;
    carry.resize(length);  // keeps the zero byte behind the text
    if (stream->lineCallback != nullptr) stream->lineCallback(stream, carry);
    carry.clear();
}

// Splits one read into lines. The bytes after the last line feed wait in the carry for
// the next read, so a line split across reads is delivered once, whole.
void SplitLines(RunnerStream* stream, char* bytes, size_t count) {
    char* end = bytes + count;
    char* start = bytes;
    while (start < end) {
        char* feed = static_cast<char*>(memchr(start, '\n', end - start));
        if (feed == nullptr) break;
        if (!stream->carry.empty()) {
            stream->carry.append(start, feed - start);
            DeliverCarry(stream);
        } else {
            DeliverLine(stream, start, feed - start);
        }
        start = feed + 1;
    }
    stream->carry.append(start, end - start);
    while (stream->carry.size() >= kLongestLine) {
        std::string rest = stream->carry.substr(kLongestLine);
        stream->carry.resize(kLongestLine);
        DeliverCarry(stream);
        stream->carry = std::move(rest);
    }
}

void ReadStream(RunnerStream* stream) {
    ProcessRunner::RunState* state = stream->runner->state.get();
    // One byte more than a read takes, for the zero behind a line that ends the buffer.
    std::vector<char> buffer(kReadSize + 1);
    pollfd watched[2] = {{stream->readEnd.Get(), POLLIN, 0}, {state->stopRead.Get(), POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) break;  // the run is over: stop reading
        ssize_t count = read(stream->readEnd.Get(), buffer.data(), kReadSize);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) break;  // end of file: every writer has closed the pipe
        state->lastActivity = SteadyMilliseconds();
        SplitLines(stream, buffer.data(), static_cast<size_t>(count));
        if (stream->afterReadCallback != nullptr) stream->afterReadCallback(stream);
    }
    // A last line without a line feed is still the child's output.
    if (!stream->carry.empty()) DeliverCarry(stream);
    if (stream->afterReadCallback != nullptr) stream->afterReadCallback(stream);
    std::lock_guard<std::mutex> guard(state->mutex);
    ++state->streamsEnded;
    state->changed.notify_all();
}

// Copies the standard-input file into the child's input pipe while the child runs, so a
// file larger than the pipe never holds up the child's start or the run.
void FeedInput(ProcessRunner* runner) {
    // A child that closes its input early must cost us an EPIPE, not the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    ProcessRunner::RunState* state = runner->state.get();
    std::vector<char> buffer(kReadSize);
    pollfd watched[2] = {{runner->inputWriteEnd.Get(), POLLOUT, 0},
                         {state->stopRead.Get(), POLLIN, 0}};
    pollfd source[2] = {{runner->inputSource.Get(), POLLIN, 0}, {state->stopRead.Get(), POLLIN, 0}};
    bool done = false;
    while (!done) {
        // A file always polls readable; a pipe or device named as the input must not keep
        // the writer from hearing the stop.
        if (poll(source, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (source[1].revents != 0) break;
        ssize_t count = read(runner->inputSource.Get(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        size_t offset = 0;
        while (offset < static_cast<size_t>(count)) {
            ssize_t written = write(runner->inputWriteEnd.Get(), buffer.data() + offset,
                                    static_cast<size_t>(count) - offset);
            if (written > 0) {
                offset += static_cast<size_t>(written);
                continue;
            }
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno == EAGAIN) {
                if (poll(watched, 2, -1) < 0 && errno != EINTR) {
                    done = true;
                    break;
                }
                if (watched[1].revents != 0 || (watched[0].revents & (POLLERR | POLLNVAL)) != 0) {
                    done = true;
                    break;
                }
                continue;
            }
            done = true;  // EPIPE: the child will read no more
            break;
        }
    }
    // The child reads end of file after the data.
    runner->inputWriteEnd.Reset();
}

uint32_t ExitCodeOf(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) return static_cast<uint32_t>(info.si_status);
    return 128u + static_cast<uint32_t>(info.si_status);  // killed or dumped by a signal
}

// What the child tells us through its error pipe when it cannot become the program.
struct ChildFailure {
    int stage;  // kStageDirectory or kStageExecute
    int error;
};
constexpr int kStageDirectory = 1;
constexpr int kStageExecute = 2;

// Moves fd to a number of at least 3, so the three dup2 calls cannot overwrite each other.
int Above2(int fd) {
    return fd > 2 ? fd : fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

// The forked child until exec: async-signal-safe calls only. Never returns.
[[noreturn]] void BecomeProgram(const char* path, char** argv, char** environment,
                                const char* directory, int input, int output, int error, int report,
                                pid_t parent) {
    // Killed when the thread that started it ends with this process, however that ends,
    // so a child is never left running without anyone reading its output.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent died before the line above
    setsid();
    input = Above2(input);
    output = Above2(output);
    error = Above2(error);
    if (dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(error, 2) < 0) {
        ChildFailure failure{kStageExecute, errno};
        (void)!write(report, &failure, sizeof failure);
        _exit(127);
    }
    if (directory != nullptr && chdir(directory) != 0) {
        ChildFailure failure{kStageDirectory, errno};
        (void)!write(report, &failure, sizeof failure);
        _exit(127);
    }
    // It starts with no signal blocked or ignored, whatever this process does with them.
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        sigaction(signalNumber, &standard, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Nothing else of ours reaches the program, whether or not it was opened close-on-exec.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    execve(path, argv, environment);
    ChildFailure failure{kStageExecute, errno};
    (void)!write(report, &failure, sizeof failure);
    _exit(127);
}

// The guard: a small process of ours, outside the child's group, that ends the child's
// whole group if this process dies before the run has ended (killed, out of memory), so
// nothing the child started keeps running without anyone reading its output. Its lifeline
// is a pipe whose other end only we hold: end of file without a word first means we are
// gone. The child itself also dies with us (PR_SET_PDEATHSIG); the guard covers what it
// started.
[[noreturn]] void GuardGroup(int lifeline, pid_t group) {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);  // a Ctrl-C in our terminal must not end it
    if (lifeline > 0) close_range(0, static_cast<unsigned>(lifeline) - 1, 0);
    close_range(static_cast<unsigned>(lifeline) + 1, ~0U, 0);
    char word;
    ssize_t count;
    while ((count = read(lifeline, &word, 1)) < 0 && errno == EINTR) {
    }
    if (count <= 0) kill(-group, SIGKILL);
    _exit(0);
}

void StartGuard(ProcessRunner* runner, pid_t group) {
    ProcessRunner::RunState* state = runner->state.get();
    UniqueFd lifelineRead;
    if (!MakeOwnedPipe(&lifelineRead, &state->lifeline)) return;  // the child still dies with us
    pid_t guard = fork();
    if (guard == 0) GuardGroup(lifelineRead.Get(), group);
    if (guard < 0) {
        state->lifeline.Reset();
        return;
    }
    state->guard = guard;
}

// The run has ended normally: the guard leaves the group alone and ends.
void StopGuard(ProcessRunner::RunState* state) {
    if (state->guard < 0) return;
    (void)!write(state->lifeline.Get(), "x", 1);
    state->lifeline.Reset();
    while (waitpid(state->guard, nullptr, 0) < 0 && errno == EINTR) {
    }
    state->guard = -1;
}

void FolderFailure(ProcessRunner* runner, const char* directory, int error) {
    if (error == ENOENT) {
        SetFailure(runner, StartFailure::WORKING_DIRECTORY, error,
                   "The working folder %s does not exist", directory);
    } else {
        SetFailure(runner, StartFailure::WORKING_DIRECTORY, error,
                   "The working folder %s cannot be entered: %s", directory, strerror(error));
    }
}

// Starts the child; fills the failure fields and returns -1 when it could not be started.
pid_t StartChild(ProcessRunner* runner) {
    ProcessRunner::RunState* state = runner->state.get();
    const char* program = state->argv[0];
    std::string path = SearchProgram(program);
    // A path is taken as given (relative to our folder, not the child's): exec says why it
    // cannot run it.
    if (path.empty() && strchr(program, '/') != nullptr) path = ProgramSearchPlaces(program);
    if (path.empty()) {
        SetFailure(runner, StartFailure::PROGRAM_NOT_FOUND, ENOENT, "%s not found in %s", program,
                   ProgramSearchPlaces(program).c_str());
        return -1;
    }
    const char* directory =
        runner->workingDirectory.empty() ? nullptr : runner->workingDirectory.c_str();
    struct stat info;
    int folderError = 0;
    if (directory != nullptr && stat(directory, &info) != 0) folderError = errno;
    if (directory != nullptr && folderError == 0 && !S_ISDIR(info.st_mode)) folderError = ENOTDIR;
    if (folderError != 0) {
        int error = folderError;
        FolderFailure(runner, directory, error);
        return -1;
    }
    EnvironmentArray environment(runner->environment);
    UniqueFd reportRead, reportWrite;
    if (!MakeOwnedPipe(&reportRead, &reportWrite)) {
        SetFailure(runner, StartFailure::SYSTEM, errno, "%s", strerror(errno));
        return -1;
    }
    pid_t parent = getpid();
    runner->startTime = Seconds();
    pid_t pid = fork();
    if (pid == 0) {
        BecomeProgram(path.c_str(), state->argv, environment.Get(), directory,
                      runner->inputReadEnd.Get(), runner->output.writeEnd.Get(),
                      runner->error.writeEnd.Get(), reportWrite.Get(), parent);
    }
    if (pid < 0) {
        SetFailure(runner, StartFailure::SYSTEM, errno, "%s", strerror(errno));
        return -1;
    }
    reportWrite.Reset();
    ChildFailure failure = {};
    ssize_t count;
    while ((count = read(reportRead.Get(), &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (count <= 0) {  // exec closed the pipe: the program runs
        StartGuard(runner, pid);
        return pid;
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (failure.stage == kStageDirectory) {
        FolderFailure(runner, directory, failure.error);
    } else if (failure.error == ENOENT && access(path.c_str(), F_OK) != 0) {
        SetFailure(runner, StartFailure::PROGRAM_NOT_FOUND, ENOENT, "The program %s does not exist",
                   path.c_str());
    } else {
        SetFailure(runner, StartFailure::CANNOT_EXECUTE, failure.error, "%s cannot be started: %s",
                   path.c_str(), strerror(failure.error));
    }
    return -1;
}

void RunChild(ProcessRunner* runner) {
    ProcessRunner::RunState* state = runner->state.get();
    pid_t pid = StartChild(runner);

    // The child holds its own copies of its ends now.
    runner->inputReadEnd.Reset();
    runner->output.writeEnd.Reset();
    runner->error.writeEnd.Reset();

    if (pid < 0) {
        runner->output.readEnd.Reset();
        runner->error.readEnd.Reset();
        runner->inputWriteEnd.Reset();
        runner->inputSource.Reset();
        state->stopRead.Reset();
        state->stopWrite.Reset();
        runner->flags &= ~(RUNNER_RUNNING | RUNNER_IN_PROGRESS | RUNNER_PAUSED);
        if (runner->failedStartCallback != nullptr) {
            runner->failedStartCallback(runner, runner->createError, runner->createErrorText);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> guard(state->mutex);
        runner->pid = pid;
        // A cancel that came while the child was being started takes effect now.
        if (state->cancelled) kill(-pid, SIGKILL);
    }
    state->lastActivity = SteadyMilliseconds();
    runner->error.reader = std::thread(ReadStream, &runner->error);
    runner->output.reader = std::thread(ReadStream, &runner->output);
    if (runner->inputSource.IsOpen()) {
        state->writer = std::thread(FeedInput, runner);
    } else {
        runner->inputWriteEnd.Reset();  // no input: the child reads end of file at once
    }

    // Waits for the end without reaping, so the child's process group stays ours to signal
    // until the run is over.
    siginfo_t info = {};
    while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    runner->endTime = Seconds();
    runner->flags &= ~RUNNER_RUNNING;
    int64_t ended = SteadyMilliseconds();

    // Keep reading what is still in the pipes. A grandchild that holds them open keeps
    // them from reaching end of file; the run ends once they have been quiet that long, or
    // at once on a cancel.
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        while (state->streamsEnded < 2 && !state->cancelled) {
            int64_t quietSince = std::max(ended, state->lastActivity.load());
            int64_t left = quietSince + RUNNER_DRAIN_MILLISECONDS - SteadyMilliseconds();
            if (left <= 0) break;
            state->changed.wait_for(lock, std::chrono::milliseconds(left));
        }
    }
    state->stopWrite.Reset();  // wakes the readers and the writer if still waiting
    runner->error.reader.join();
    runner->output.reader.join();
    if (state->writer.joinable()) state->writer.join();

    {
        std::lock_guard<std::mutex> guard(state->mutex);
        waitpid(pid, nullptr, 0);
        runner->pid = -1;
        runner->cancelled = state->cancelled;
    }
    StopGuard(state);
    runner->exitCode = runner->cancelled ? RUNNER_CANCEL_EXIT_CODE : ExitCodeOf(info);
    runner->output.readEnd.Reset();
    runner->error.readEnd.Reset();
    runner->inputWriteEnd.Reset();
    runner->inputSource.Reset();
    state->stopRead.Reset();
    runner->flags &= ~(RUNNER_IN_PROGRESS | RUNNER_PAUSED);
    if (runner->completedCallback != nullptr) {
        int64_t seconds = runner->endTime - runner->startTime;
        runner->completedCallback(runner, runner->exitCode,
                                  static_cast<uint32_t>(seconds > 0 ? seconds : 0));
    }
}

bool MakePipe(UniqueFd* readEnd, UniqueFd* writeEnd) {
    if (!MakeOwnedPipe(readEnd, writeEnd)) return false;
    fcntl(writeEnd->Get(), F_SETPIPE_SZ, kPipeSize);
    return true;
}

}  // namespace

std::string CommandLineProblem(const char* commandLine) {
    char** words = nullptr;
    GError* parseError = nullptr;
    std::string problem;
    if (!g_shell_parse_argv(commandLine, nullptr, &words, &parseError)) {
        problem = std::string("The command line cannot be split into words: ") +
                  (parseError != nullptr ? parseError->message : "no words");
        g_clear_error(&parseError);
    }
    g_strfreev(words);
    return problem;
}

int ProcessRunner::Start(const char* text) {
    if (flags & RUNNER_IN_PROGRESS) {
        SetFailure(this, StartFailure::SYSTEM, EBUSY, "A run is already in progress");
        return 0;
    }
    if (runnerThread.joinable()) runnerThread.join();
    createError = 0;
    createErrorText[0] = '\0';
    startFailure = StartFailure::NONE;
    exitCode = 0;
    cancelled = false;
    startTime = endTime = 0;
    snprintf(commandLine, sizeof commandLine, "%s", text != nullptr ? text : "");

    auto run = std::make_unique<RunState>();
    GError* parseError = nullptr;
    if (!g_shell_parse_argv(commandLine, nullptr, &run->argv, &parseError)) {
        SetFailure(this, StartFailure::SYSTEM, EINVAL,
                   "The command line cannot be split into words: %s",
                   parseError != nullptr ? parseError->message : "no words");
        g_clear_error(&parseError);
        inputSource.Reset();
        return 0;
    }

    bool made =
        MakePipe(&output.readEnd, &output.writeEnd) && MakePipe(&error.readEnd, &error.writeEnd) &&
        MakePipe(&inputReadEnd, &inputWriteEnd) && MakePipe(&run->stopRead, &run->stopWrite);
    // Our end of the input pipe never blocks, so the writer can always hear the stop.
    if (made && fcntl(inputWriteEnd.Get(), F_SETFL, O_NONBLOCK) != 0) made = false;
    if (!made) {
        int reason = errno;
        for (UniqueFd* fd : {&output.readEnd, &output.writeEnd, &error.readEnd, &error.writeEnd,
                             &inputReadEnd, &inputWriteEnd, &inputSource})
            fd->Reset();
        SetFailure(this, StartFailure::SYSTEM, reason, "%s", strerror(reason));
        return 0;
    }
    output.runner = this;
    error.runner = this;
    output.carry.clear();
    error.carry.clear();
    state = std::move(run);
    flags = RUNNER_RUNNING | RUNNER_IN_PROGRESS;
    try {
        runnerThread = std::thread(RunChild, this);
    } catch (const std::system_error& failure) {
        for (UniqueFd* fd : {&output.readEnd, &output.writeEnd, &error.readEnd, &error.writeEnd,
                             &inputReadEnd, &inputWriteEnd, &inputSource})
            fd->Reset();
        flags = 0;
        SetFailure(this, StartFailure::SYSTEM, failure.code().value(), "%s", failure.what());
        return 0;
    }
    return 1;
}

namespace {

// Signals the child's process group while it is still ours: not yet reaped, so its
// number cannot have passed to another process.
bool SignalGroup(ProcessRunner* runner, int signalNumber) {
    ProcessRunner::RunState* state = runner->state.get();
    if (state == nullptr) return false;
    std::lock_guard<std::mutex> guard(state->mutex);
    if (signalNumber == SIGKILL && (runner->flags & RUNNER_IN_PROGRESS)) {
        state->cancelled = true;
        state->changed.notify_all();  // ends the wait for a grandchild's output
    }
    if (runner->pid <= 0) return false;
    return kill(-runner->pid, signalNumber) == 0;
}

}  // namespace

int ProcessRunner::Pause() {
    if (SignalGroup(this, SIGSTOP)) {
        flags |= RUNNER_PAUSED;
    } else {
        flags &= ~RUNNER_PAUSED;
    }
    return 1;
}

int ProcessRunner::Resume() {
    SignalGroup(this, SIGCONT);
    flags &= ~RUNNER_PAUSED;
    return 1;
}

int ProcessRunner::Cancel() {
    SignalGroup(this, SIGKILL);
    return 1;
}

int ProcessRunner::Destroy() {
    if (runnerThread.joinable()) {
        Cancel();
        runnerThread.join();
    }
    environment.clear();
    return 1;
}

ProcessRunner::ProcessRunner() {
    InitVariableStore(&variables);
}

ProcessRunner::~ProcessRunner() {
    Destroy();
    variables.Destroy();
}
