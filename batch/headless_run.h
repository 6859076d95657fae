// ZYMBBatch --run FILE.cvbatch: runs a batch definition without a window (for schedulers,
// CI and servers). The child's lines go to our standard output and standard error as they
// arrive, the batch log is written as the window writes it, SIGINT and SIGTERM cancel the
// child's process group, and the exit status is the child's.
#pragma once

// Returns the exit status: the child's exit code (100 after a cancel, 128 + N when it died
// of signal N), or 2 when the definition cannot be read or the program not started.
int RunBatchHeadless(const char* batchFile);
