// Whole-or-nothing file replacement through a side file, and the temporary folder.
#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/io.h"

namespace {

constexpr int LINK_HOPS = 40;  // as the kernel's own limit on a chain of links

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that path leads to: path itself, or the end of its chain of symbolic links
// (which need not exist yet). False with errno set for a chain that does not end.
bool FollowLinks(const char* path, std::string* target) {
    std::string current = path;
    for (int hop = 0; hop <= LINK_HOPS; ++hop) {
        struct stat status;
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            *target = current;
            return true;
        }
        std::vector<char> text(static_cast<size_t>(status.st_size > 0 ? status.st_size : 255) + 2);
        const ssize_t length = readlink(current.c_str(), text.data(), text.size());
        if (length < 0) return false;
        if (static_cast<size_t>(length) >= text.size()) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::string next(text.data(), static_cast<size_t>(length));
        current = next[0] == '/' ? next : FolderOf(current) + "/" + next;
    }
    errno = ELOOP;
    return false;
}

int Fail(ReplaceStage* stage, ReplaceStage where, int error) {
    if (stage != nullptr) *stage = where;
    return error != 0 ? error : EIO;
}

}  // namespace

int Platform_ReplaceFile(const char* path, const std::function<bool(int fd)>& write,
                         ReplaceStage* stage) {
    if (stage != nullptr) *stage = ReplaceStage::NONE;
    if (path == nullptr || path[0] == 0) return Fail(stage, ReplaceStage::CREATE, ENOENT);
    std::string target;
    if (!FollowLinks(path, &target)) return Fail(stage, ReplaceStage::CREATE, errno);
    const std::string folder = FolderOf(target);
    const size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string sideName = folder + "/." + name + ".XXXXXX";
    std::vector<char> side(sideName.begin(), sideName.end());
    side.push_back(0);
    const int fd = mkostemp(side.data(), O_CLOEXEC);
    if (fd < 0) return Fail(stage, ReplaceStage::CREATE, errno);

    // The replacement keeps what the old file's owner chose; a new file gets what any newly
    // created file would, not mkstemp's private mode.
    struct stat existing;
    if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only its owner's group, or nothing, may be kept by an ordinary user.
        }
        fchmod(fd, existing.st_mode & 07777);
    } else {
        fchmod(fd, 0666 & ~Platform_FileModeMask());
    }

    int error = 0;
    ReplaceStage failed = ReplaceStage::NONE;
    if (!write(fd)) {
        error = errno;
        failed = ReplaceStage::WRITE;
    } else if (fsync(fd) != 0) {
        error = errno;
        failed = ReplaceStage::WRITE;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
        failed = ReplaceStage::WRITE;
    }
    if (error == 0 && rename(side.data(), target.c_str()) != 0) {
        error = errno;
        failed = ReplaceStage::NAME;
    }
    if (failed != ReplaceStage::NONE) {
        unlink(side.data());
        return Fail(stage, failed, error);
    }
    // The new name is durable only once the folder is; a folder that cannot be synced
    // (some file systems refuse it) still holds the complete file.
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return 0;
}

int Platform_ReplaceFile(const char* path, const void* data, size_t length, ReplaceStage* stage) {
    return Platform_ReplaceFile(
        path, [data, length](int fd) { return WriteAll(fd, data, length); }, stage);
}

const char* Platform_TemporaryFolder() {
    const char* folder = getenv("TMPDIR");
    return folder == nullptr || *folder == 0 ? "/tmp" : folder;
}

mode_t Platform_FileModeMask() {
    FILE* status = fopen("/proc/self/status", "re");
    unsigned mask = 022;
    if (status != nullptr) {
        char line[256];
        while (fgets(line, sizeof line, status) != nullptr)
            if (sscanf(line, "Umask: %o", &mask) == 1) break;
        fclose(status);
    }
    return static_cast<mode_t>(mask);
}
