// The window side for a build without one: says how to run a definition instead.
#include <cstdio>

#include "batch/window_entry.h"

int RunBatchWindow(int, char**) {
    fprintf(stderr,
            "ZYMBBatch: this build has no window; run a batch file with "
            "ZYMBBatch --run FILE.cvbatch\n");
    return 2;
}
