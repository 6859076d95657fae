// The program runner: one child per run in a session and process group of its own, its
// standard streams on pipes, read by one thread each, a writer thread for the
// standard-input file, and a runner thread that starts the child, waits for it and
// reports the end.
#include "batch/process_runner.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
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
    GroupGuard guard;       // ends the child's group if we die during the run

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

void RunChild(ProcessRunner* runner) {
    ProcessRunner::RunState* state = runner->state.get();
    runner->startTime = Seconds();
    StartedChild child = StartChildProcess(
        state->argv, runner->environment, runner->workingDirectory, runner->inputReadEnd.Get(),
        runner->output.writeEnd.Get(), runner->error.writeEnd.Get());
    pid_t pid = child.pid;
    if (pid < 0) {
        runner->startFailure = child.failure;
        runner->createError = child.error;
        snprintf(runner->createErrorText, sizeof runner->createErrorText, "%s",
                 child.failureText.c_str());
    } else {
        state->guard.Start(pid);
    }

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
    state->guard.Stop();
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
