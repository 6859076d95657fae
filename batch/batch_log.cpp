// The batch log file, its header lines and what becomes of a write that fails.
#include "batch/batch_log.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/whole_file.h"

std::string LogTimeText(time_t time) {
    struct tm local;
    char text[64];
    if (localtime_r(&time, &local) == nullptr ||
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return "Invalid DateTime";
    }
    return text;
}

BatchLog::~BatchLog() {
    if (stream_ == nullptr) return;
    Header(LOG_HEADER_CLOSING);
    fclose(stream_);
}

bool BatchLog::Open(std::string* reason) {
    const char* folder = Platform_TemporaryFolder();
    std::string path =
        std::string(folder) + (folder[strlen(folder) - 1] == '/' ? "" : "/") + "BRMXXXXXX.log";
    int fd = mkostemps(path.data(), 4, O_CLOEXEC);  // mode 0600, never an existing file
    FILE* stream = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (stream == nullptr) {
        int error = errno;
        if (fd >= 0) {
            close(fd);
            unlink(path.c_str());
        }
        if (reason != nullptr) *reason = strerror(error);
        return false;
    }
    // A run's output can be large: fewer, larger writes.
    setvbuf(stream, nullptr, _IOFBF, 64 * 1024);
    stream_ = stream;
    path_ = path;
    Header(LOG_HEADER_OPENING);
    return true;
}

void BatchLog::CheckLocked() {
    if (writeError_ == 0 && ferror(stream_)) writeError_ = errno != 0 ? errno : EIO;
}

void BatchLog::Header(const char* text) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream_ == nullptr) return;
    fprintf(stream_, "::\n:: %s (%s)\n::\n", text, LogTimeText(time(nullptr)).c_str());
    CheckLocked();
}

void BatchLog::Line(std::string_view line) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream_ == nullptr) return;
    fwrite_unlocked(line.data(), 1, line.size(), stream_);
    putc_unlocked('\n', stream_);
    CheckLocked();
}

void BatchLog::Text(const char* format, ...) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream_ == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stream_, format, arguments);
    va_end(arguments);
    fputc('\n', stream_);
    CheckLocked();
}

void BatchLog::Write(const void* data, size_t size) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream_ == nullptr) return;
    fwrite(data, 1, size, stream_);
    CheckLocked();
}

void BatchLog::AppendReleasing(int fd) {
    std::vector<char> block(1 << 20);
    off_t offset = 0;
    ssize_t count;
    while ((count = pread(fd, block.data(), block.size(), offset)) > 0) {
        Write(block.data(), static_cast<size_t>(count));
        fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, count);
        offset += count;
    }
}

bool BatchLog::Flush() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream_ == nullptr) return true;
    if (fflush(stream_) != 0 && writeError_ == 0) writeError_ = errno != 0 ? errno : EIO;
    CheckLocked();
    return writeError_ == 0;
}

std::string BatchLog::WriteProblem() {
    std::lock_guard<std::mutex> guard(mutex_);
    return writeError_ != 0 ? strerror(writeError_) : "";
}

bool BatchLog::NoteIncomplete() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stream_ == nullptr || writeError_ == 0) return false;
    // Whatever the buffer still holds is given up; the note alone is tried again.
    clearerr(stream_);
    __fpurge(stream_);
    fprintf(stream_, "\n:: The batch log is incomplete: %s\n", strerror(writeError_));
    bool written = fflush(stream_) == 0 && !ferror(stream_);
    if (!written) clearerr(stream_);
    return written;
}
