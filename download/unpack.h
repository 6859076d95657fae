// Unpacking a downloaded file (gzip data, or plain data passed through) to its destination.
// The destination appears complete or not at all, and an existing file is never replaced.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct UnpackResult {
    bool ok;
    // Which step failed, for the caller's message: creating the output, reading the
    // packed stream, or writing the output.
    enum Stage { NONE, OPEN_INPUT, CREATE_OUTPUT, READ_INPUT, WRITE_OUTPUT } stage;
    std::string reason;  // the cause in words: the C library's or zlib's text
};

// Unpacks temporaryName into destination through a hidden temporary file in the
// destination's folder, which takes the final name only when every byte was unpacked
// and written, by a call that fails when the destination exists.
UnpackResult UnpackFile(const char* temporaryName, const char* destination);

// Removes the hidden files of unpackings still under way, for a run that is interrupted:
// nothing half-written stays beside a destination. Safe from any thread.
void RemovePartialFiles();

// The same unpacking while the download is still arriving, so that it overlaps the
// transfer: the caller feeds the received bytes as they come, a worker thread runs zlib's
// gzip reader over them into the hidden file, and the hidden file takes the destination's
// name only in Finish, which the caller calls once its own checks have passed. Abandon,
// or the destructor without Finish, removes the hidden file.
class StreamingUnpack {
  public:
    StreamingUnpack() = default;
    StreamingUnpack(const StreamingUnpack&) = delete;
    StreamingUnpack& operator=(const StreamingUnpack&) = delete;
    ~StreamingUnpack();
    // False, with nothing left behind, when the destination exists or the hidden file or
    // the worker cannot be made; the caller then unpacks the finished temporary file with
    // UnpackFile, which reports the cause.
    bool Start(const char* destination);
    bool Started() const { return started_; }
    // Hands over the next received bytes; waits while the worker is behind.
    void Feed(const uint8_t* data, size_t length);
    // Ends the input, waits for the worker and, when it unpacked the whole stream, names
    // the file as UnpackFile does; the result reads as UnpackFile's would.
    UnpackResult Finish();
    // Ends the input, waits for the worker and removes the hidden file.
    void Abandon();

  private:
    void Work();
    void EndInput();

    bool started_ = false;
    std::string destination_;
    std::vector<char> partPath_;
    int output_ = -1;  // the hidden file
    int input_ = -1;   // the worker's end of the pipe
    int feed_ = -1;    // the caller's end
    std::thread worker_;
    UnpackResult result_{true, UnpackResult::NONE, ""};  // the worker's, read after join
};
