// gzip reading with zlib, writing to a sibling temporary file, and a no-replace rename;
// from the finished temporary file, or from the sections while they still arrive.
#include "download/unpack.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/io.h"

namespace {
// zlib inflates straight into the caller's block only when a read asks for at least twice
// its buffer; smaller reads go through its own output buffer and cost one more copy.
constexpr unsigned GZIP_BUFFER_SIZE = 128 * 1024;
constexpr unsigned BLOCK_SIZE = 4 * GZIP_BUFFER_SIZE;
// The output is handed to the disk in steps of this size while unpacking goes on, so the
// final fsync waits only for the last step instead of the whole file.
constexpr off_t WRITEBACK_STEP = 8 << 20;
// Room for about sixteen sections between the download and the unpacking worker.
constexpr int PIPE_SIZE = 1 << 20;

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

// Folder part of a path, "." when it has none.
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The hidden files being written now, so that an interrupted run can remove them.
std::mutex& PartsLock() {
    static std::mutex lock;
    return lock;
}
std::set<std::string>& Parts() {
    static std::set<std::string> parts;
    return parts;
}
void ForgetPart(const char* partPath) {
    std::lock_guard<std::mutex> guard(PartsLock());
    Parts().erase(partPath);
}
void DiscardPart(const char* partPath) {
    unlink(partPath);
    ForgetPart(partPath);
}

// The hidden file beside the destination that receives the unpacked bytes, with the
// permissions a newly created file would get. -1 with errno set when it cannot be made.
int CreatePart(const char* destination, std::vector<char>* partPath) {
    std::string partName = FolderOf(destination) + "/.ZYMpart-XXXXXX";
    partPath->assign(partName.begin(), partName.end());
    partPath->push_back(0);
    int output;
    {
        std::lock_guard<std::mutex> guard(PartsLock());
        output = mkostemp(partPath->data(), O_CLOEXEC);
        if (output < 0) return -1;
        Parts().insert(partPath->data());
    }
    fchmod(
        output, 0666 & ~[] {
            mode_t mask = umask(0);
            umask(mask);
            return mask;
        }());
    return output;
}

// Reads the whole stream and writes it to output; the reader stays open.
UnpackResult CopyStream(gzFile_s* input, const char* inputName, int output) {
    std::vector<unsigned char> block(BLOCK_SIZE);
    off_t written = 0;
    off_t handedOver = 0;
    for (;;) {
        int n = gzread(input, block.data(), BLOCK_SIZE);
        if (n < 0) return Failed(UnpackResult::READ_INPUT, StreamError(input, inputName));
        if (n == 0) break;
        if (!WriteAll(output, block.data(), static_cast<size_t>(n)))
            return Failed(UnpackResult::WRITE_OUTPUT, strerror(errno));
        written += n;
        if (written - handedOver >= WRITEBACK_STEP) {
            // Only a start of writing: the fsync before the rename still reports failures.
            sync_file_range(output, handedOver, written - handedOver, SYNC_FILE_RANGE_WRITE);
            handedOver = written;
        }
    }
    // A stream that stops before its end reads as a short file; zlib says so here.
    int code = 0;
    gzerror(input, &code);
    if (code != Z_OK) return Failed(UnpackResult::READ_INPUT, StreamError(input, inputName));
    return UnpackResult{true, UnpackResult::NONE, ""};
}

// Closes the reader; a stream found incomplete only now is a failure too.
UnpackResult CloseStream(gzFile_s* input) {
    if (int closed = gzclose_r(input); closed != Z_OK)
        return Failed(UnpackResult::READ_INPUT,
                      closed == Z_BUF_ERROR ? "unexpected end of file" : zError(closed));
    return UnpackResult{true, UnpackResult::NONE, ""};
}

// Makes the complete hidden file durable and gives it the destination's name, unless
// that name exists by now. The hidden file is gone afterwards either way.
UnpackResult PublishPart(int output, const char* partPath, const char* destination) {
    if (fsync(output) != 0 || close(output) != 0) {
        int error = errno;
        unlink(partPath);
        return Failed(UnpackResult::WRITE_OUTPUT, strerror(error));
    }
    if (renameat2(AT_FDCWD, partPath, AT_FDCWD, destination, RENAME_NOREPLACE) != 0) {
        int error = errno;
        // Filesystems without the no-replace rename still refuse to link over a name.
        if (error == EINVAL || error == ENOSYS) {
            if (link(partPath, destination) == 0) {
                unlink(partPath);
                return UnpackResult{true, UnpackResult::NONE, ""};
            }
            error = errno;
        }
        unlink(partPath);
        return Failed(UnpackResult::CREATE_OUTPUT, strerror(error));
    }
    return UnpackResult{true, UnpackResult::NONE, ""};
}

UnpackResult Publish(int output, const char* partPath, const char* destination) {
    UnpackResult result = PublishPart(output, partPath, destination);
    ForgetPart(partPath);
    return result;
}

// Reads a descriptor to its end, so that whoever writes to it never waits forever.
void Drain(int fd) {
    std::vector<unsigned char> sink(64 * 1024);
    for (;;) {
        ssize_t n = read(fd, sink.data(), sink.size());
        if (n == 0 || (n < 0 && errno != EINTR)) return;
    }
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

    std::vector<char> partPath;
    int output = CreatePart(destination, &partPath);
    if (output < 0) return Failed(UnpackResult::CREATE_OUTPUT, strerror(errno));
    UnpackResult copied = CopyStream(input.get(), temporaryName, output);
    if (copied.ok) copied = CloseStream(input.release());
    if (!copied.ok) {
        close(output);
        DiscardPart(partPath.data());
        return copied;
    }
    return Publish(output, partPath.data(), destination);
}

StreamingUnpack::~StreamingUnpack() {
    Abandon();
}

bool StreamingUnpack::Start(const char* destination) {
    struct stat status;
    if (started_ || lstat(destination, &status) == 0) return false;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    fcntl(ends[1], F_SETPIPE_SZ, PIPE_SIZE);  // a smaller pipe only means more switches
    output_ = CreatePart(destination, &partPath_);
    if (output_ < 0) {
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    destination_ = destination;
    input_ = ends[0];
    feed_ = ends[1];
    try {
        worker_ = std::thread(&StreamingUnpack::Work, this);
    } catch (const std::system_error&) {
        close(input_);
        close(feed_);
        close(output_);
        DiscardPart(partPath_.data());
        return false;
    }
    started_ = true;
    return true;
}

void StreamingUnpack::Feed(const uint8_t* data, size_t length) {
    // The worker reads to the end whatever becomes of the unpacking, so this cannot block
    // for good; a failed write leaves the stream short, which the worker then reports.
    if (started_ && feed_ >= 0 && !WriteAll(feed_, data, length)) {
        close(feed_);
        feed_ = -1;
    }
}

void StreamingUnpack::Work() {
    const std::string name = "<fd:" + std::to_string(input_) + ">";  // zlib's name for it
    gzFile_s* input = gzdopen(input_, "rb");
    if (input == nullptr) {
        result_ = Failed(UnpackResult::OPEN_INPUT, "cannot open");
        Drain(input_);
        close(input_);
        return;
    }
    gzbuffer(input, GZIP_BUFFER_SIZE);
    result_ = CopyStream(input, name.c_str(), output_);
    // Bytes past the end of the gzip data, or all of them after a failure, are not unpacked.
    Drain(input_);
    UnpackResult closed = CloseStream(input);
    if (result_.ok) result_ = closed;
}

void StreamingUnpack::EndInput() {
    if (feed_ >= 0) close(feed_);
    feed_ = -1;
    if (worker_.joinable()) worker_.join();
}

UnpackResult StreamingUnpack::Finish() {
    if (!started_) return Failed(UnpackResult::OPEN_INPUT, "unpacking was not started");
    EndInput();
    started_ = false;
    if (!result_.ok) {
        close(output_);
        DiscardPart(partPath_.data());
        return result_;
    }
    return Publish(output_, partPath_.data(), destination_.c_str());
}

void StreamingUnpack::Abandon() {
    if (!started_) return;
    EndInput();
    started_ = false;
    close(output_);
    DiscardPart(partPath_.data());
}

void RemovePartialFiles() {
    std::lock_guard<std::mutex> guard(PartsLock());
    for (const std::string& partPath : Parts()) unlink(partPath.c_str());
    Parts().clear();
}
