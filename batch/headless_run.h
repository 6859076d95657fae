// ZYMBBatch --run FILE.cvbatch: runs a batch definition without a window (for schedulers,
// CI and servers). The child's lines go to our standard output and standard error as they
// arrive, the batch log is written as the window writes it, SIGINT and SIGTERM cancel the
// child's process group, and the exit status is the child's.
#pragma once

// Returns the exit status: the child's exit code (100 after a cancel, 128 + N when it died
// of signal N); 127 when the program does not exist and 126 when it cannot be started for
// another reason (as a shell reports them); 2 when the definition cannot be read or is
// refused (empty program, standard-input file that cannot be opened).
int RunBatchHeadless(const char* batchFile);
