// Whole-or-nothing output files, through the platform's side file and rename.
#include "report/output_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/whole_file.h"

int ReplaceOutputFile(const char* path, std::string_view bytes) {
    if (path[0] == 0) return ENOENT;
    return Platform_ReplaceFile(path, bytes.data(), bytes.size());
}

std::string OutputFullPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}
