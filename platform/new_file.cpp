// Exclusive creation with a numbered suffix; only async-signal-safe calls.
#include "platform/new_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr unsigned SUFFIX_LIMIT = 999;
constexpr size_t PATH_LIMIT = 4096;

int OpenNew(const char* path, mode_t mode) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}
}  // namespace

int Platform_CreateNewFile(char* path, size_t size, mode_t mode) {
    size_t length = strnlen(path, size);
    if (length == size || length >= PATH_LIMIT) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = OpenNew(path, mode);
    if (fd >= 0 || errno != EEXIST) return fd;

    char original[PATH_LIMIT];
    memcpy(original, path, length + 1);
    // The suffix goes before the extension of the last component, if it has one that
    // does not start the name (".profile" has none).
    const char* slash = strrchr(original, '/');
    const char* name = slash != nullptr ? slash + 1 : original;
    const char* dot = strrchr(name, '.');
    size_t stem = dot != nullptr && dot != name ? static_cast<size_t>(dot - original) : length;
    for (unsigned number = 1; number <= SUFFIX_LIMIT; ++number) {
        char digits[8];
        size_t count = 0;
        for (unsigned value = number; value != 0; value /= 10)
            digits[count++] = static_cast<char>('0' + value % 10);
        size_t needed = length + 1 + count;
        if (needed >= size) {
            errno = ENAMETOOLONG;
            return -1;
        }
        memcpy(path, original, stem);
        size_t at = stem;
        path[at++] = '-';
        while (count > 0) path[at++] = digits[--count];
        memcpy(path + at, original + stem, length - stem + 1);
        fd = OpenNew(path, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    memcpy(path, original, length + 1);
    errno = EEXIST;
    return -1;
}
