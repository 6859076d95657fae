// Starting a child process: fork, the child's set-up until exec, the error pipe that
// tells why an exec failed, and the guard of the child's group.
#include "batch/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "batch/program_search.h"

namespace {

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

StartedChild Failed(StartFailure failure, int error, std::string text) {
    StartedChild child;
    child.failure = failure;
    child.error = error;
    child.failureText = std::move(text);
    return child;
}

StartedChild FolderFailure(const char* directory, int error) {
    std::string text = std::string("The working folder ") + directory;
    text += error == ENOENT ? std::string(" does not exist")
                            : std::string(" cannot be entered: ") + strerror(error);
    return Failed(StartFailure::WORKING_DIRECTORY, error, text);
}

}  // namespace

void GroupGuard::Start(pid_t group) {
    Stop();
    UniqueFd lifelineRead;
    if (!MakeOwnedPipe(&lifelineRead, &lifeline_)) return;
    pid_t guard = fork();
    if (guard == 0) GuardGroup(lifelineRead.Get(), group);
    if (guard < 0) {
        lifeline_.Reset();
        return;
    }
    guard_ = guard;
}

void GroupGuard::Stop() {
    if (guard_ < 0) return;
    (void)!write(lifeline_.Get(), "x", 1);
    lifeline_.Reset();
    while (waitpid(guard_, nullptr, 0) < 0 && errno == EINTR) {
    }
    guard_ = -1;
}

StartedChild StartChildProcess(char** argv, const EnvironmentTable& table,
                               const std::string& workingDirectory, int input, int output,
                               int error) {
    const char* program = argv[0];
    std::string path = SearchProgram(program);
    // A path is taken as given (relative to our folder, not the child's): exec says why it
    // cannot run it.
    if (path.empty() && strchr(program, '/') != nullptr) path = ProgramSearchPlaces(program);
    if (path.empty()) {
        return Failed(StartFailure::PROGRAM_NOT_FOUND, ENOENT,
                      std::string(program) + " not found in " + ProgramSearchPlaces(program));
    }
    const char* directory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
    struct stat info;
    int folderError = 0;
    if (directory != nullptr && stat(directory, &info) != 0) folderError = errno;
    if (directory != nullptr && folderError == 0 && !S_ISDIR(info.st_mode)) folderError = ENOTDIR;
    if (folderError != 0) return FolderFailure(directory, folderError);
    EnvironmentArray environment(table);
    UniqueFd reportRead, reportWrite;
    if (!MakeOwnedPipe(&reportRead, &reportWrite)) {
        return Failed(StartFailure::SYSTEM, errno, strerror(errno));
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        BecomeProgram(path.c_str(), argv, environment.Get(), directory, input, output, error,
                      reportWrite.Get(), parent);
    }
    if (pid < 0) return Failed(StartFailure::SYSTEM, errno, strerror(errno));
    reportWrite.Reset();
    ChildFailure failure = {};
    ssize_t count;
    while ((count = read(reportRead.Get(), &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (count <= 0) {  // exec closed the pipe: the program runs
        StartedChild child;
        child.pid = pid;
        return child;
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (failure.stage == kStageDirectory) return FolderFailure(directory, failure.error);
    if (failure.error == ENOENT && access(path.c_str(), F_OK) != 0) {
        return Failed(StartFailure::PROGRAM_NOT_FOUND, ENOENT,
                      "The program " + path + " does not exist");
    }
    return Failed(StartFailure::CANNOT_EXECUTE, failure.error,
                  path + " cannot be started: " + strerror(failure.error));
}
