// The XDG per-user folders and creating them.
#include "batch/user_folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string UserFolder(const char* variable, const char* underHome) {
    const char* value = getenv(variable);
    std::string folder;
    if (value != nullptr && value[0] == '/') {
        folder = value;
    } else {
        const char* home = getenv("HOME");
        if (home == nullptr || home[0] != '/') return std::string();
        folder = std::string(home) + "/" + underHome;
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool MakeFolders(const std::string& folder, std::string* reason) {
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && folder[end] != '/') continue;
        std::string part = folder.substr(0, end);
        if (mkdir(part.c_str(), 0700) == 0 || errno == EEXIST) {
            struct stat status;
            if (stat(part.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
            errno = ENOTDIR;
        }
        if (reason != nullptr) *reason = part + ": " + strerror(errno);
        return false;
    }
    return true;
}
