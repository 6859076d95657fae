// The batch log: one text file per start of the utility in the temporary folder, named
// with the prefix "BRM", holding a header line for each event, the definition and
// environment of each run and the output of each run. It is kept after the utility ends.
//
// Ownership: the log owns its stream and closes it (after the "Closing Log" header) when
// it is destroyed. Not thread-safe: use it from one thread (the window's user-interface
// thread, the headless run's main thread).
#pragma once
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

class BatchLog {
  public:
    BatchLog() = default;
    ~BatchLog();  // writes "Closing Log" and closes the file; the file stays
    BatchLog(const BatchLog&) = delete;
    BatchLog& operator=(const BatchLog&) = delete;

    // Creates the file (TMPDIR, else /tmp; mode 0600; never an existing file) and writes
    // the "Opening Log" header. False, with *reason set, when it cannot be created; the
    // utility then goes on without a log, and every other call does nothing.
    bool Open(std::string* reason = nullptr);
    bool IsOpen() const { return stream_ != nullptr; }
    const std::string& Path() const { return path_; }
    // The open stream, for writing the definition and the environment into; null when the
    // log is not open. It belongs to the log.
    FILE* Stream() const { return stream_; }

    // Writes "::", ":: text (YYYY-MM-DD HH:MM:SS)" in local time, "::".
    void Header(const char* text);
    // Writes one line of a child's output and a line feed.
    void Line(std::string_view line);
    void Flush();

  private:
    FILE* stream_ = nullptr;
    std::string path_;
};

// The header's time text: local time "%Y-%m-%d %H:%M:%S", or "Invalid DateTime".
std::string LogTimeText(time_t time);
