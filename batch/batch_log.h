// The batch log: one text file per start of the utility in the temporary folder, named
// with the prefix "BRM", holding a header line for each event, the definition and
// environment of each run, the output of each run and how each run ended. It is kept
// after the utility ends.
//
// Ownership: the log owns its stream and closes it (after the "Closing Log" header) when
// it is destroyed. Header, Line, Text, Write and Flush may be called from any thread (a
// run writes its output from the reader threads); Stream is for the owner's thread while
// no run is writing.
#pragma once
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

// The batch log's section headers.
constexpr const char* LOG_HEADER_OPENING = "Opening Log";
constexpr const char* LOG_HEADER_STARTING = "Starting Program";
constexpr const char* LOG_HEADER_VARIABLES = "Variables";
constexpr const char* LOG_HEADER_STDOUT = "Stdout";
constexpr const char* LOG_HEADER_STDERR = "Stderr";
constexpr const char* LOG_HEADER_ENDED = "Program Ended";
constexpr const char* LOG_HEADER_FAILED = "Program Failed to Start";
constexpr const char* LOG_HEADER_CLOSING = "Closing Log";

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
    // Writes a formatted line of the log's own and a line feed.
    void Text(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes bytes as they are.
    void Write(const void* data, size_t size);
    // Appends the whole content of the file fd and gives its blocks back to the file system
    // as it goes (where the file system can), so a spool copied into the log never takes
    // its size twice on disk. The file keeps its size, as holes.
    void AppendReleasing(int fd);
    // Flushes; false when a write so far has failed.
    bool Flush();

    // The text of the first write that failed (disk full, file too large), or "" while
    // every write has gone through. Checked after Flush.
    std::string WriteProblem();
    // After a failed write: tries to add one line saying the log is incomplete. True when
    // that line reached the file.
    bool NoteIncomplete();

  private:
    void CheckLocked();

    std::mutex mutex_;
    FILE* stream_ = nullptr;
    std::string path_;
    int writeError_ = 0;
};

// The header's time text: local time "%Y-%m-%d %H:%M:%S", or "Invalid DateTime".
std::string LogTimeText(time_t time);
