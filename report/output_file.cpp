// Whole-or-nothing output files: a hidden file beside the destination, renamed into place.
#include "report/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string FolderOf(const char* path) {
    const char* slash = strrchr(path, '/');
    if (slash == nullptr) return ".";
    return slash == path ? "/" : std::string(path, slash);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

}  // namespace

int ReplaceOutputFile(const char* path, std::string_view bytes) {
    if (path[0] == 0) return ENOENT;
    std::string hiddenName = FolderOf(path) + "/.ZYMreport-XXXXXX";
    std::vector<char> hidden(hiddenName.begin(), hiddenName.end());
    hidden.push_back(0);
    int fd = mkostemp(hidden.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    // The permissions any newly created file would get, not mkstemp's private ones.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
        int error = errno;
        close(fd);
        unlink(hidden.data());
        return error;
    }
    if (close(fd) != 0 || rename(hidden.data(), path) != 0) {
        int error = errno;
        unlink(hidden.data());
        return error;
    }
    return 0;
}
