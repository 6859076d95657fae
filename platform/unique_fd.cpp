// Owned pipes.
#include "platform/unique_fd.h"

#include <fcntl.h>

bool MakeOwnedPipe(UniqueFd* readEnd, UniqueFd* writeEnd) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    readEnd->Reset(ends[0]);
    writeEnd->Reset(ends[1]);
    return true;
}
