// Helpers for tests that run real programs: child processes with their own environment
// and standard input, temporary folders, free loopback ports and file reading.
#pragma once
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct ChildResult {
    int exitStatus = -1;  // exit code, or -1 when the child was killed by a signal
    int signal = 0;       // the signal that ended it, or 0
    std::string out;      // everything it wrote to standard output
    std::string err;      // everything it wrote to standard error
};

struct ChildOptions {
    std::vector<std::string> arguments;  // argv[1..]
    // Environment changes over the current environment: a value sets, nullopt removes.
    std::map<std::string, std::optional<std::string>> environment;
    std::string input;             // written to standard input, which then closes
    std::string workingDirectory;  // empty: the current one
    int timeoutSeconds = 60;       // killed (SIGKILL) after this; signal is then set
};

// Runs a program to its end and collects its output.
ChildResult RunProgram(const std::string& path, const ChildOptions& options);

// A started program that keeps running until Stop (or the destructor) ends it.
class BackgroundProcess {
  public:
    BackgroundProcess() = default;
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    ~BackgroundProcess();
    // Starts path with arguments; standard output and error go to logPath (appended).
    bool Start(const std::string& path, const std::vector<std::string>& arguments,
               const std::map<std::string, std::optional<std::string>>& environment = {},
               const std::string& logPath = "/dev/null");
    // Sends a signal to the running program.
    void Signal(int signalNumber);
    // Ends it with SIGTERM (then SIGKILL after 5 s) and returns its wait status.
    int Stop();
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// A fresh folder under TMPDIR (or /tmp), removed with its contents by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Waits until something accepts TCP connections on 127.0.0.1:port; false after timeoutMs.
bool WaitForPort(int port, int timeoutMs = 10000);
// Whole-file read and write; ReadFile gives "" for a missing file.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Splits text into lines without their line ends.
std::vector<std::string> Lines(const std::string& text);
// The path of a program on PATH, or "" when it is not installed.
std::string FindProgram(const std::string& name);
// True when a test should fail rather than skip because a peer is missing (CI=true).
bool PeersRequired();
// Reads the master side of a pseudo-terminal into screen until it holds text (for "",
// until the child closes the terminal). False when that did not happen in timeoutMs.
bool ReadTerminal(int master, std::string* screen, const std::string& text, int timeoutMs);

}  // namespace testsupport
