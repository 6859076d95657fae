// ZYMBBatch: edits and runs batch definitions in its window, or runs one without a window
// with --run.
#include <cstdio>
#include <cstring>

#include "batch/headless_run.h"
#include "batch/window_entry.h"

int main(int argc, char** argv) {
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf(
            "Usage: ZYMBBatch [FILE.cvbatch]      edit and run batch definitions\n"
            "       ZYMBBatch --run FILE.cvbatch  run one without a window\n");
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--run") == 0) {
        if (argc != 3) {
            fprintf(stderr, "Usage: ZYMBBatch --run FILE.cvbatch\n");
            return 2;
        }
        return RunBatchHeadless(argv[2]);
    }
    return RunBatchWindow(argc, argv);
}
