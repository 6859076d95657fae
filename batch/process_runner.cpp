// The program runner: one child per run in a process group of its own, its standard
// streams on pipes, read by one thread each, a writer thread for the standard-input file,
// and a runner thread that starts the child, waits for it and reports the end.
#include "batch/process_runner.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "batch/program_search.h"

int Runner_ClearEnvironment(ProcessRunner* runner);
int Runner_PutEnvironment(ProcessRunner* runner, const char* text);
int Runner_ImportEnvironment(ProcessRunner* runner);
int Runner_DumpEnvironment(ProcessRunner* runner, FILE* stream);
char* Runner_BuildEnvironmentBlock(ProcessRunner* runner);

extern char** environ;

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

void CloseFd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

}  // namespace

struct ProcessRunner::RunState {
    // Closing stopWrite tells the readers and the writer to stop at once.
    int stopRead = -1;
    int stopWrite = -1;
    std::mutex mutex;  // guards signalling and reaping the child, and the fields below
    std::condition_variable changed;
    int streamsEnded = 0;
    bool cancelled = false;  // Cancel came while the child was alive
    std::atomic<int64_t> lastActivity{0};
    std::thread writer;
    char** argv = nullptr;  // the command line's words (GLib's)

    ~RunState() { g_strfreev(argv); }
};

namespace {

void SetFailure(ProcessRunner* runner, int error, const char* text) {
    runner->createError = error;
    snprintf(runner->createErrorText, sizeof runner->createErrorText, "%s", text);
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
    pollfd watched[2] = {{stream->readEnd, POLLIN, 0}, {state->stopRead, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) break;  // the run is over: stop reading
        ssize_t count = read(stream->readEnd, buffer.data(), kReadSize);
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
    pollfd watched[2] = {{runner->inputWriteEnd, POLLOUT, 0}, {state->stopRead, POLLIN, 0}};
    pollfd source[2] = {{runner->inputSource, POLLIN, 0}, {state->stopRead, POLLIN, 0}};
    bool done = false;
    while (!done) {
        // A file always polls readable; a pipe or device named as the input must not keep
        // the writer from hearing the stop.
        if (poll(source, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (source[1].revents != 0) break;
        ssize_t count = read(runner->inputSource, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        size_t offset = 0;
        while (offset < static_cast<size_t>(count)) {
            ssize_t written = write(runner->inputWriteEnd, buffer.data() + offset,
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
    CloseFd(&runner->inputWriteEnd);
}

uint32_t ExitCodeOf(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) return static_cast<uint32_t>(info.si_status);
    return 128u + static_cast<uint32_t>(info.si_status);  // killed or dumped by a signal
}

void RunChild(ProcessRunner* runner) {
    ProcessRunner::RunState* state = runner->state.get();
    char* block = Runner_BuildEnvironmentBlock(runner);
    std::vector<char*> environment;
    if (block != nullptr) {
        for (char* entry = block; *entry != '\0'; entry += strlen(entry) + 1) {
            environment.push_back(entry);
        }
    }
    environment.push_back(nullptr);

    // The program as typed, found where the program search finds it; a path is taken as
    // given (relative to our folder, not the child's).
    const char* program = state->argv[0];
    std::string path = SearchProgram(program);
    if (path.empty() && strchr(program, '/') != nullptr) path = program;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, runner->inputReadEnd, 0);
    posix_spawn_file_actions_adddup2(&actions, runner->output.writeEnd, 1);
    posix_spawn_file_actions_adddup2(&actions, runner->error.writeEnd, 2);
    // Nothing else of ours reaches the child, whether or not it was opened close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!runner->workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, runner->workingDirectory.c_str());
    }
    // A session of its own makes the child the leader of its own process group, so pause,
    // resume and cancel reach everything it starts. It starts with no signal blocked or
    // ignored, whatever this process does with them.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    runner->startTime = Seconds();
    pid_t pid = -1;
    int error = path.empty() ? ENOENT : 0;
    if (error == 0) {
        error = posix_spawn(&pid, path.c_str(), &actions, &attributes, state->argv,
                            block != nullptr ? environment.data() : environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    free(block);

    // The child holds its own copies of its ends now.
    CloseFd(&runner->inputReadEnd);
    CloseFd(&runner->output.writeEnd);
    CloseFd(&runner->error.writeEnd);

    if (error != 0) {
        SetFailure(runner, error, strerror(error));
        CloseFd(&runner->output.readEnd);
        CloseFd(&runner->error.readEnd);
        CloseFd(&runner->inputWriteEnd);
        CloseFd(&runner->inputSource);
        CloseFd(&state->stopRead);
        CloseFd(&state->stopWrite);
        runner->flags &= ~(RUNNER_RUNNING | RUNNER_IN_PROGRESS | RUNNER_PAUSED);
        if (runner->failedStartCallback != nullptr) {
            runner->failedStartCallback(runner, error, runner->createErrorText);
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
    if (runner->inputSource >= 0) {
        state->writer = std::thread(FeedInput, runner);
    } else {
        CloseFd(&runner->inputWriteEnd);  // no input: the child reads end of file at once
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
    // them from reaching end of file; the run ends once they have been quiet that long.
    {
        std::unique_lock<std::mutex> lock(state->mutex);
        while (state->streamsEnded < 2) {
            int64_t quietSince = std::max(ended, state->lastActivity.load());
            int64_t left = quietSince + RUNNER_DRAIN_MILLISECONDS - SteadyMilliseconds();
            if (left <= 0) break;
            state->changed.wait_for(lock, std::chrono::milliseconds(left));
        }
    }
    CloseFd(&state->stopWrite);  // wakes the readers and the writer if still waiting
    runner->error.reader.join();
    runner->output.reader.join();
    if (state->writer.joinable()) state->writer.join();

    bool cancelled;
    {
        std::lock_guard<std::mutex> guard(state->mutex);
        waitpid(pid, nullptr, 0);
        runner->pid = -1;
        cancelled = state->cancelled;
    }
    runner->exitCode = cancelled ? RUNNER_CANCEL_EXIT_CODE : ExitCodeOf(info);
    CloseFd(&runner->output.readEnd);
    CloseFd(&runner->error.readEnd);
    CloseFd(&runner->inputWriteEnd);
    CloseFd(&runner->inputSource);
    CloseFd(&state->stopRead);
    runner->flags &= ~(RUNNER_IN_PROGRESS | RUNNER_PAUSED);
    if (runner->completedCallback != nullptr) {
        int64_t seconds = runner->endTime - runner->startTime;
        runner->completedCallback(runner, runner->exitCode,
                                  static_cast<uint32_t>(seconds > 0 ? seconds : 0));
    }
}

bool MakePipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    fcntl(ends[1], F_SETPIPE_SZ, kPipeSize);
    return true;
}

int Start(ProcessRunner* runner, const char* commandLine) {
    if (runner->flags & RUNNER_IN_PROGRESS) {
        SetFailure(runner, EBUSY, "A run is already in progress");
        return 0;
    }
    if (runner->runnerThread.joinable()) runner->runnerThread.join();
    runner->createError = 0;
    runner->createErrorText[0] = '\0';
    runner->exitCode = 0;
    runner->startTime = runner->endTime = 0;
    snprintf(runner->commandLine, sizeof runner->commandLine, "%s",
             commandLine != nullptr ? commandLine : "");

    auto state = std::make_unique<ProcessRunner::RunState>();
    GError* parseError = nullptr;
    if (!g_shell_parse_argv(runner->commandLine, nullptr, &state->argv, &parseError)) {
        char text[256];
        snprintf(text, sizeof text, "The command line cannot be split into words: %s",
                 parseError != nullptr ? parseError->message : "no words");
        g_clear_error(&parseError);
        SetFailure(runner, EINVAL, text);
        CloseFd(&runner->inputSource);
        return 0;
    }

    int output[2] = {-1, -1}, error[2] = {-1, -1}, input[2] = {-1, -1}, stop[2] = {-1, -1};
    bool made = MakePipe(output) && MakePipe(error) && MakePipe(input) && MakePipe(stop);
    // Our end of the input pipe never blocks, so the writer can always hear the stop.
    if (made && fcntl(input[1], F_SETFL, O_NONBLOCK) != 0) made = false;
    if (!made) {
        int reason = errno;
        for (int* fd : {&output[0], &output[1], &error[0], &error[1], &input[0], &input[1],
                        &stop[0], &stop[1]}) {
            CloseFd(fd);
        }
        SetFailure(runner, reason, strerror(reason));
        CloseFd(&runner->inputSource);
        return 0;
    }
    runner->output.readEnd = output[0];
    runner->output.writeEnd = output[1];
    runner->error.readEnd = error[0];
    runner->error.writeEnd = error[1];
    runner->inputReadEnd = input[0];
    runner->inputWriteEnd = input[1];
    state->stopRead = stop[0];
    state->stopWrite = stop[1];
    runner->output.runner = runner;
    runner->error.runner = runner;
    runner->output.carry.clear();
    runner->error.carry.clear();
    runner->state = std::move(state);
    runner->flags = RUNNER_RUNNING | RUNNER_IN_PROGRESS;
    try {
        runner->runnerThread = std::thread(RunChild, runner);
    } catch (const std::system_error& failure) {
        for (int* fd :
             {&runner->output.readEnd, &runner->output.writeEnd, &runner->error.readEnd,
              &runner->error.writeEnd, &runner->inputReadEnd, &runner->inputWriteEnd,
              &runner->state->stopRead, &runner->state->stopWrite, &runner->inputSource}) {
            CloseFd(fd);
        }
        runner->flags = 0;
        SetFailure(runner, failure.code().value(), failure.what());
        return 0;
    }
    return 1;
}

// Signals the child's process group while it is still ours: not yet reaped, so its
// number cannot have passed to another process.
bool SignalGroup(ProcessRunner* runner, int signalNumber) {
    ProcessRunner::RunState* state = runner->state.get();
    if (state == nullptr) return false;
    std::lock_guard<std::mutex> guard(state->mutex);
    if (signalNumber == SIGKILL && (runner->flags & RUNNER_RUNNING)) state->cancelled = true;
    if (runner->pid <= 0) return false;
    return kill(-runner->pid, signalNumber) == 0;
}

int Pause(ProcessRunner* runner) {
    if (SignalGroup(runner, SIGSTOP)) {
        runner->flags |= RUNNER_PAUSED;
    } else {
        runner->flags &= ~RUNNER_PAUSED;
    }
    return 1;
}

int Resume(ProcessRunner* runner) {
    SignalGroup(runner, SIGCONT);
    runner->flags &= ~RUNNER_PAUSED;
    return 1;
}

int Cancel(ProcessRunner* runner) {
    SignalGroup(runner, SIGKILL);
    return 1;
}

int Destroy(ProcessRunner* runner) {
    if (runner->runnerThread.joinable()) {
        Cancel(runner);
        runner->runnerThread.join();
    }
    Runner_ClearEnvironment(runner);
    if (runner->variables.Destroy != nullptr) runner->variables.Destroy(&runner->variables);
    return 1;
}

}  // namespace

ProcessRunner::ProcessRunner() {
    memset(&variables, 0, sizeof variables);
}

ProcessRunner::~ProcessRunner() {
    if (runnerThread.joinable()) {
        ::Cancel(this);
        runnerThread.join();
    }
    if (variables.Destroy != nullptr) variables.Destroy(&variables);
}

void InitProcessRunner(ProcessRunner* runner) {
    InitVariableStore(&runner->variables);
    runner->Destroy = Destroy;
    runner->ClearEnvironment = Runner_ClearEnvironment;
    runner->PutEnvironment = Runner_PutEnvironment;
    runner->Start = Start;
    runner->ImportEnvironment = Runner_ImportEnvironment;
    runner->DumpEnvironment = Runner_DumpEnvironment;
    runner->BuildEnvironmentBlock = Runner_BuildEnvironmentBlock;
    runner->Pause = Pause;
    runner->Resume = Resume;
    runner->Cancel = Cancel;
}
