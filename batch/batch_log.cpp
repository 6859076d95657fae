// The batch log file and its header lines.
#include "batch/batch_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    Header("Closing Log");
    fclose(stream_);
}

bool BatchLog::Open(std::string* reason) {
    const char* folder = getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
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
    Header("Opening Log");
    return true;
}

void BatchLog::Header(const char* text) {
    if (stream_ == nullptr) return;
    fprintf(stream_, "::\n:: %s (%s)\n::\n", text, LogTimeText(time(nullptr)).c_str());
}

void BatchLog::Line(std::string_view line) {
    if (stream_ == nullptr) return;
    fwrite(line.data(), 1, line.size(), stream_);
    fputc('\n', stream_);
}

void BatchLog::Flush() {
    if (stream_ != nullptr) fflush(stream_);
}
