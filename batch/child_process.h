// Starting a batch definition's program as a child process: found where the program
// search finds it, in a session and process group of its own, its standard streams on the
// descriptors given, its environment from the table, in its working folder, and killed
// when this process dies. A start that fails says which cause it was. The guard makes
// sure that what the child starts in its group dies with this process too.
#pragma once
#include <sys/types.h>

#include <string>

#include "batch/environment.h"
#include "platform/unique_fd.h"

// Why a child could not be started.
enum class StartFailure {
    NONE,
    PROGRAM_NOT_FOUND,  // no such program where the program search looks
    WORKING_DIRECTORY,  // the working folder does not exist or cannot be entered
    CANNOT_EXECUTE,     // the program exists but the system refused to run it
    SYSTEM,             // no pipes, no thread, no process
};

struct StartedChild {
    pid_t pid = -1;  // the child, leader of its own session and group; -1: not started
    StartFailure failure = StartFailure::NONE;
    int error = 0;  // errno of the failure
    // What went wrong, as a user reads it: which program was not found (and where it was
    // looked for), which working folder is missing, why the system refused.
    std::string failureText;
};

// Starts argv[0] (a bare name through the program search; a name with a slash as given,
// relative to our folder) with argv, the environment, in workingDirectory ("" = ours),
// with input, output and error as its standard streams. Returns once the program runs or
// has failed to start; the caller reaps a started child. Call from a thread that lives
// until the child has been reaped: the child is killed when that thread ends.
StartedChild StartChildProcess(char** argv, const EnvironmentTable& environment,
                               const std::string& workingDirectory, int input, int output,
                               int error);

// The guard of one child's process group: a small process of ours, outside that group,
// that kills the whole group if this process dies before Stop (killed, out of memory).
class GroupGuard {
  public:
    GroupGuard() = default;
    ~GroupGuard() { Stop(); }
    GroupGuard(const GroupGuard&) = delete;
    GroupGuard& operator=(const GroupGuard&) = delete;

    // Starts guarding group. Without a guard (no pipe or process) the child itself still
    // dies with us.
    void Start(pid_t group);
    // The run has ended: the guard leaves the group alone and ends; waits for it.
    void Stop();

  private:
    pid_t guard_ = -1;
    UniqueFd lifeline_;  // our end; end of file without a word first means we are gone
};
