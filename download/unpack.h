// Unpacking a downloaded file (gzip data, or plain data passed through) to its destination.
// The destination appears complete or not at all, and an existing file is never replaced.
#pragma once
#include <string>

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
