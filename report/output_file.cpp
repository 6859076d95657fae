// Whole-or-nothing output files, through the platform's side file and rename.
#include "report/output_file.h"

#include <cerrno>

#include "platform/whole_file.h"

int ReplaceOutputFile(const char* path, std::string_view bytes) {
    if (path[0] == 0) return ENOENT;
    return Platform_ReplaceFile(path, bytes.data(), bytes.size());
}
