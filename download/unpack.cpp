// gzip unpacking with ISA-L, writing to an unnamed file in the destination's folder (a
// hidden one where the file system cannot make unnamed files) that then gets its name by a
// call that never replaces; from the finished temporary file, or from the sections while
// they still arrive.
#include "download/unpack.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "download/gzip_stream.h"
#include "platform/io.h"
#include "platform/whole_file.h"

namespace {
// Reads of the finished temporary file.
constexpr size_t READ_SIZE = 256 * 1024;
// The output is handed to the disk in steps of this size while unpacking goes on, so the
// final fsync waits only for the last step instead of the whole file.
constexpr off_t WRITEBACK_STEP = 8 << 20;
// Sections the download may be ahead of the unpacking worker: about 1 MiB.
constexpr size_t BLOCKS_AHEAD = 16;

std::atomic<bool> hiddenPartsOnly{false};

UnpackResult Failed(UnpackResult::Stage stage, const std::string& reason) {
    return UnpackResult{false, stage, reason};
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
void ForgetPart(const std::vector<char>& partPath) {
    if (partPath.empty()) return;
    std::lock_guard<std::mutex> guard(PartsLock());
    Parts().erase(partPath.data());
}
// Removes the file under way; an unnamed one goes with its descriptor, closed before.
void DiscardPart(const std::vector<char>& partPath) {
    if (partPath.empty()) return;
    unlink(partPath.data());
    ForgetPart(partPath);
}

// The file beside the destination that receives the unpacked bytes, with the permissions
// a newly created file would get. It has no name, so that nothing is left behind even when
// the process is killed; where the file system cannot make such a file it is a hidden one,
// whose name goes to partPath (left empty for an unnamed file). -1 with errno set when it
// cannot be made.
int CreatePart(const char* destination, std::vector<char>* partPath) {
    partPath->clear();
    const std::string folder = FolderOf(destination);
    if (!hiddenPartsOnly) {
        int output = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (output >= 0) return output;
        // EOPNOTSUPP: a file system without them; EISDIR: a kernel without them.
        if (errno != EOPNOTSUPP && errno != EISDIR) return -1;
    }
    std::string partName = folder + "/.ZYMpart-XXXXXX";
    partPath->assign(partName.begin(), partName.end());
    partPath->push_back(0);
    int output;
    {
        std::lock_guard<std::mutex> guard(PartsLock());
        output = mkostemp(partPath->data(), O_CLOEXEC);
        if (output < 0) return -1;
        Parts().insert(partPath->data());
    }
    fchmod(output, 0666 & ~Platform_FileModeMask());
    return output;
}

// The unpacked bytes on their way to the file.
struct Output {
    int fd;
    off_t written = 0;
    off_t handedOver = 0;
};

bool WriteOutput(void* owner, const uint8_t* data, size_t length) {
    auto* output = static_cast<Output*>(owner);
    if (!WriteAll(output->fd, data, length)) return false;
    output->written += static_cast<off_t>(length);
    if (output->written - output->handedOver >= WRITEBACK_STEP) {
        // Only a start of writing: the fsync before the naming still reports failures.
        sync_file_range(output->fd, output->handedOver, output->written - output->handedOver,
                        SYNC_FILE_RANGE_WRITE);
        output->handedOver = output->written;
    }
    return true;
}

// Gives an unnamed file its name; fails with EEXIST when the name exists.
int LinkUnnamed(int output, const char* destination) {
    if (linkat(output, "", AT_FDCWD, destination, AT_EMPTY_PATH) == 0) return 0;
    // Linking by descriptor needs a privilege; its path in /proc needs none.
    if (errno != ENOENT && errno != EPERM) return -1;
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", output);
    return linkat(AT_FDCWD, path, AT_FDCWD, destination, AT_SYMLINK_FOLLOW);
}

// The new name is made durable too: a run that reports success keeps its file.
void SyncFolder(const char* destination) {
    int folder = open(FolderOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    fsync(folder);
    close(folder);
}

// Makes the complete file durable and gives it the destination's name, unless that name
// exists by now. The file under way is gone afterwards either way.
UnpackResult PublishPart(int output, const std::vector<char>& partPath, const char* destination) {
    if (partPath.empty()) {
        int error = 0;
        if (fsync(output) != 0) {
            error = errno;
            close(output);
            return Failed(UnpackResult::WRITE_OUTPUT, strerror(error));
        }
        if (LinkUnnamed(output, destination) != 0) error = errno;
        close(output);
        if (error != 0) return Failed(UnpackResult::CREATE_OUTPUT, strerror(error));
        SyncFolder(destination);
        return UnpackResult{true, UnpackResult::NONE, ""};
    }
    const char* partName = partPath.data();
    if (fsync(output) != 0 || close(output) != 0) {
        int error = errno;
        unlink(partName);
        return Failed(UnpackResult::WRITE_OUTPUT, strerror(error));
    }
    if (renameat2(AT_FDCWD, partName, AT_FDCWD, destination, RENAME_NOREPLACE) != 0) {
        int error = errno;
        // Filesystems without the no-replace rename still refuse to link over a name.
        if (error == EINVAL || error == ENOSYS) {
            if (link(partName, destination) == 0) {
                unlink(partName);
                SyncFolder(destination);
                return UnpackResult{true, UnpackResult::NONE, ""};
            }
            error = errno;
        }
        unlink(partName);
        return Failed(UnpackResult::CREATE_OUTPUT, strerror(error));
    }
    SyncFolder(destination);
    return UnpackResult{true, UnpackResult::NONE, ""};
}

UnpackResult Publish(int output, const std::vector<char>& partPath, const char* destination) {
    UnpackResult result = PublishPart(output, partPath, destination);
    ForgetPart(partPath);
    return result;
}

struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
};
}  // namespace

UnpackResult UnpackFile(const char* temporaryName, const char* destination) {
    struct stat status;
    if (stat(temporaryName, &status) != 0) return Failed(UnpackResult::OPEN_INPUT, strerror(errno));
    if (lstat(destination, &status) == 0)
        return Failed(UnpackResult::CREATE_OUTPUT, strerror(EEXIST));

    int input = open(temporaryName, O_RDONLY | O_CLOEXEC);
    if (input < 0) return Failed(UnpackResult::OPEN_INPUT, strerror(errno));
    FdCloser inputCloser{input};

    std::vector<char> partPath;
    int output = CreatePart(destination, &partPath);
    if (output < 0) return Failed(UnpackResult::CREATE_OUTPUT, strerror(errno));
    Output sink{output};
    GzipStream stream(WriteOutput, &sink);
    std::vector<uint8_t> block(READ_SIZE);
    UnpackResult result{true, UnpackResult::NONE, ""};
    for (;;) {
        ssize_t n = read(input, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = Failed(UnpackResult::READ_INPUT, strerror(errno));
            break;
        }
        if (n == 0) {
            result = stream.End();
            break;
        }
        if (!stream.Push(block.data(), static_cast<size_t>(n))) {
            result = stream.Result();
            break;
        }
    }
    if (!result.ok) {
        close(output);
        DiscardPart(partPath);
        return result;
    }
    UnpackResult published = Publish(output, partPath, destination);
    published.trailingIgnored = result.trailingIgnored;
    return published;
}

void UseHiddenPartialFiles(bool hidden) {
    hiddenPartsOnly = hidden;
}

StreamingUnpack::~StreamingUnpack() {
    Abandon();
}

bool StreamingUnpack::Start(const char* destination) {
    struct stat status;
    if (started_ || lstat(destination, &status) == 0) return false;
    output_ = CreatePart(destination, &partPath_);
    if (output_ < 0) return false;
    destination_ = destination;
    blocks_.clear();
    ended_ = false;
    abandoned_ = false;
    result_ = UnpackResult{true, UnpackResult::NONE, ""};
    try {
        worker_ = std::thread(&StreamingUnpack::Work, this);
    } catch (const std::system_error&) {
        close(output_);
        DiscardPart(partPath_);
        return false;
    }
    started_ = true;
    return true;
}

void StreamingUnpack::Feed(const uint8_t* data, size_t length, Release release) {
    if (!started_) {
        if (release) release();
        return;
    }
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return blocks_.size() < BLOCKS_AHEAD; });
    blocks_.push_back(Block{data, length, std::move(release)});
    changed_.notify_all();
}

void StreamingUnpack::Feed(const uint8_t* data, size_t length) {
    if (!started_ || length == 0) return;
    auto* copy = new uint8_t[length];
    memcpy(copy, data, length);
    Feed(copy, length, [copy] { delete[] copy; });
}

void StreamingUnpack::Work() {
    Output sink{output_};
    GzipStream stream(WriteOutput, &sink);
    bool unpacking = true;
    for (;;) {
        Block block;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return !blocks_.empty() || ended_; });
            if (blocks_.empty()) break;
            block = std::move(blocks_.front());
            blocks_.pop_front();
            if (abandoned_) unpacking = false;
            changed_.notify_all();
        }
        // After a failure, bytes past the end of the gzip data or an abandon, the blocks
        // are only given back.
        if (unpacking) unpacking = stream.Push(block.data, block.length);
        if (block.release) block.release();
    }
    result_ = stream.End();
}

void StreamingUnpack::EndInput(bool abandon) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ended_ = true;
        if (abandon) abandoned_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
}

UnpackResult StreamingUnpack::Finish() {
    if (!started_) return Failed(UnpackResult::OPEN_INPUT, "unpacking was not started");
    EndInput(false);
    started_ = false;
    if (!result_.ok) {
        close(output_);
        DiscardPart(partPath_);
        return result_;
    }
    UnpackResult published = Publish(output_, partPath_, destination_.c_str());
    published.trailingIgnored = result_.trailingIgnored;
    return published;
}

void StreamingUnpack::Abandon() {
    if (!started_) return;
    EndInput(true);
    started_ = false;
    close(output_);
    DiscardPart(partPath_);
}

void RemovePartialFiles() {
    std::lock_guard<std::mutex> guard(PartsLock());
    for (const std::string& partPath : Parts()) unlink(partPath.c_str());
    Parts().clear();
}
