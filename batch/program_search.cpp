// The program search: PATH, then our own folder, then the current folder.
#include "batch/program_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string CurrentFolder() {
    char folder[PATH_MAX];
    return getcwd(folder, sizeof folder) != nullptr ? folder : "";
}

std::string Join(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The first executable file named program in a folder of PATH. current: the folder that
// an empty or relative element names, as the shell takes it; "" passes such elements over.
std::string FindInPath(const char* program, const std::string& current) {
    for (const char* start = getenv("PATH"); start != nullptr;) {
        const char* end = strchrnul(start, ':');
        std::string folder(start, end);
        if (folder.empty() || folder[0] != '/')
            folder = current.empty() ? "" : Join(current, folder.c_str());
        if (!folder.empty() && IsExecutableFile(Join(folder, program)))
            return Join(folder, program);
        start = *end == '\0' ? nullptr : end + 1;
    }
    return "";
}

}  // namespace

std::string SearchSystemPath(const char* program) {
    return FindInPath(program, "");
}

std::string OwnProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    path[length] = '\0';
    char* slash = strrchr(path, '/');
    if (slash == nullptr) return "";
    *(slash == path ? slash + 1 : slash) = '\0';
    return path;
}

std::string SearchProgram(const char* program) {
    if (program == nullptr || *program == '\0') return "";
    std::string current = CurrentFolder();
    if (strchr(program, '/') != nullptr) {
        std::string path = program[0] == '/' ? program : Join(current, program);
        return IsExecutableFile(path) ? path : "";
    }
    if (std::string path = FindInPath(program, current); !path.empty()) return path;
    for (const std::string& folder : {OwnProgramFolder(), current}) {
        if (folder.empty()) continue;
        std::string path = Join(folder, program);
        if (IsExecutableFile(path)) return path;
    }
    return "";
}

std::string ProgramSearchPlaces(const char* program) {
    std::string current = CurrentFolder();
    if (program != nullptr && strchr(program, '/') != nullptr) {
        return program[0] == '/' ? program : Join(current, program);
    }
    const char* searchPath = getenv("PATH");
    std::string places = searchPath != nullptr ? std::string("PATH (") + searchPath + "), "
                                               : std::string("PATH (not set), ");
    return places + "the utility's folder (" + OwnProgramFolder() + "), the current folder (" +
           current + ")";
}
