// The window as a loadable module: ZYMBBatch loads it only when a window is asked for, so
// a run without a window never pays for loading the window toolkit.
#include "batch/window_entry.h"

extern "C" __attribute__((visibility("default"))) int ZymbBatchWindowMain(int argc, char** argv) {
    return RunBatchWindow(argc, argv);
}
