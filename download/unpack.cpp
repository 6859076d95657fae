// gzip reading with zlib, writing to a sibling temporary file, and a no-replace rename.
#include "download/unpack.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {
// zlib inflates straight into the caller's block only when a read asks for at least twice
// its buffer; smaller reads go through its own output buffer and cost one more copy.
constexpr unsigned GZIP_BUFFER_SIZE = 128 * 1024;
constexpr unsigned BLOCK_SIZE = 4 * GZIP_BUFFER_SIZE;
// The output is handed to the disk in steps of this size while unpacking goes on, so the
// final fsync waits only for the last step instead of the whole file.
constexpr off_t WRITEBACK_STEP = 8 << 20;

struct GzipCloser {
    void operator()(gzFile_s* file) const { gzclose_r(file); }
};

UnpackResult Failed(UnpackResult::Stage stage, const std::string& reason) {
    return UnpackResult{false, stage, reason};
}

// zlib's text for a stream error, without the file name it puts in front.
std::string StreamError(gzFile_s* file, const char* name) {
    int code = 0;
    std::string text = gzerror(file, &code);
    if (code == Z_ERRNO) return strerror(errno);
    std::string prefix = std::string(name) + ": ";
    if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
    return text;
}

bool WriteAll(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Folder part of a path, "." when it has none.
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

UnpackResult UnpackFile(const char* temporaryName, const char* destination) {
    struct stat status;
    if (stat(temporaryName, &status) != 0) return Failed(UnpackResult::OPEN_INPUT, strerror(errno));
    if (lstat(destination, &status) == 0)
        return Failed(UnpackResult::CREATE_OUTPUT, strerror(EEXIST));

    std::unique_ptr<gzFile_s, GzipCloser> input(gzopen(temporaryName, "rb"));
    if (!input)
        return Failed(UnpackResult::OPEN_INPUT, errno != 0 ? strerror(errno) : "cannot open");
    gzbuffer(input.get(), GZIP_BUFFER_SIZE);

    std::string partName = FolderOf(destination) + "/.ZYMpart-XXXXXX";
    std::vector<char> partPath(partName.begin(), partName.end());
    partPath.push_back(0);
    int output = mkostemp(partPath.data(), O_CLOEXEC);
    if (output < 0) return Failed(UnpackResult::CREATE_OUTPUT, strerror(errno));
    fchmod(
        output, 0666 & ~[] {
            mode_t mask = umask(0);
            umask(mask);
            return mask;
        }());
    auto abandon = [&](UnpackResult result) {
        close(output);
        unlink(partPath.data());
        return result;
    };

    std::vector<unsigned char> block(BLOCK_SIZE);
    off_t written = 0;
    off_t handedOver = 0;
    for (;;) {
        int n = gzread(input.get(), block.data(), BLOCK_SIZE);
        if (n < 0)
            return abandon(
                Failed(UnpackResult::READ_INPUT, StreamError(input.get(), temporaryName)));
        if (n == 0) break;
        if (!WriteAll(output, block.data(), static_cast<size_t>(n)))
            return abandon(Failed(UnpackResult::WRITE_OUTPUT, strerror(errno)));
        written += n;
        if (written - handedOver >= WRITEBACK_STEP) {
            // Only a start of writing: the fsync below still reports any failure.
            sync_file_range(output, handedOver, written - handedOver, SYNC_FILE_RANGE_WRITE);
            handedOver = written;
        }
    }
    // A stream that stops before its end reads as a short file; zlib says so here.
    int code = 0;
    gzerror(input.get(), &code);
    if (code != Z_OK)
        return abandon(Failed(UnpackResult::READ_INPUT, StreamError(input.get(), temporaryName)));
    gzFile_s* raw = input.release();
    if (int closed = gzclose_r(raw); closed != Z_OK)
        return abandon(Failed(UnpackResult::READ_INPUT,
                              closed == Z_BUF_ERROR ? "unexpected end of file" : zError(closed)));
    if (fsync(output) != 0 || close(output) != 0) {
        int error = errno;
        unlink(partPath.data());
        return Failed(UnpackResult::WRITE_OUTPUT, strerror(error));
    }
    if (renameat2(AT_FDCWD, partPath.data(), AT_FDCWD, destination, RENAME_NOREPLACE) != 0) {
        int error = errno;
        // Filesystems without the no-replace rename still refuse to link over a name.
        if (error == EINVAL || error == ENOSYS) {
            if (link(partPath.data(), destination) == 0) {
                unlink(partPath.data());
                return UnpackResult{true, UnpackResult::NONE, ""};
            }
            error = errno;
        }
        unlink(partPath.data());
        return Failed(UnpackResult::CREATE_OUTPUT, strerror(error));
    }
    return UnpackResult{true, UnpackResult::NONE, ""};
}
