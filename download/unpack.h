// Unpacking a downloaded file (gzip data, or plain data passed through) to its destination.
// The destination appears complete or not at all, and an existing file is never replaced.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct UnpackResult {
    bool ok;
    // Which step failed, for the caller's message: creating the output, reading the
    // packed stream, or writing the output.
    enum Stage { NONE, OPEN_INPUT, CREATE_OUTPUT, READ_INPUT, WRITE_OUTPUT } stage;
    std::string reason;  // the cause in words: the C library's text or zlib's words for it
    // Bytes after the last gzip member were passed over (a success all the same, as for
    // gzip -d, which warns of them).
    bool trailingIgnored = false;
};

// Unpacks temporaryName into destination through a file in the destination's folder that
// has no name while it is written (or, where the file system cannot make such a file, a
// hidden one), which takes the final name only when every byte was unpacked and written,
// by a call that fails when the destination exists.
UnpackResult UnpackFile(const char* temporaryName, const char* destination);

// Removes the hidden files of unpackings still under way, for a run that is interrupted:
// nothing half-written stays beside a destination. Safe from any thread.
void RemovePartialFiles();

// For tests: unpack as on a file system without unnamed files (true), or as usual.
void UseHiddenPartialFiles(bool hidden);

// The same unpacking while the download is still arriving, so that it overlaps the
// transfer: the caller hands over the received bytes as they come, a worker thread unpacks
// them (gzip with ISA-L's inflate, or passed through) into the unnamed file, and that file
// takes the destination's name only in Finish, which the caller calls once its own checks
// have passed. Abandon, or the destructor without Finish, removes the file.
class StreamingUnpack {
  public:
    // Gives a handed-over block back to its owner once the worker is done with it.
    using Release = std::function<void()>;

    StreamingUnpack() = default;
    StreamingUnpack(const StreamingUnpack&) = delete;
    StreamingUnpack& operator=(const StreamingUnpack&) = delete;
    ~StreamingUnpack();
    // False, with nothing left behind, when the destination exists or the file or the
    // worker cannot be made; the caller then unpacks the finished temporary file with
    // UnpackFile, which reports the cause.
    bool Start(const char* destination);
    bool Started() const { return started_; }
    // Hands over the next received bytes without copying them: they must stay valid until
    // release runs, on the worker's thread (or at once when unpacking is not under way).
    // Waits while the worker is a few sections behind.
    void Feed(const uint8_t* data, size_t length, Release release);
    // The same for bytes that are only valid during the call: they are copied.
    void Feed(const uint8_t* data, size_t length);
    // Ends the input, waits for the worker and, when it unpacked the whole stream, names
    // the file as UnpackFile does; the result reads as UnpackFile's would.
    UnpackResult Finish();
    // Ends the input, waits for the worker and removes the file.
    void Abandon();

  private:
    struct Block {
        const uint8_t* data;
        size_t length;
        Release release;
    };
    void Work();
    void EndInput(bool abandon);

    bool started_ = false;
    std::string destination_;
    std::vector<char> partPath_;  // the hidden file's name; empty for an unnamed file
    int output_ = -1;
    std::thread worker_;
    std::mutex lock_;  // guards the fields below
    std::condition_variable changed_;
    std::deque<Block> blocks_;
    bool ended_ = false;
    bool abandoned_ = false;
    UnpackResult result_{true, UnpackResult::NONE, ""};  // the worker's, read after join
};
