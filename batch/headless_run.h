// ZYMBBatch --run FILE.cvbatch: runs a batch definition without a window (for schedulers,
// CI and servers). The child's lines go to our standard output and standard error as they
// arrive, the batch log is written as the window writes it, and SIGINT, SIGTERM and SIGHUP
// end the run at any stage: before the child starts at once, after it by cancelling the
// child's process group.
#pragma once

// Returns the exit status: the child's exit code (100 after a cancel or a signal, 128 + N
// when it died of signal N); 127 when the program does not exist and 126 when it cannot
// be started for another reason (a missing working folder among them), as a shell
// reports them; 2 when the definition cannot be read or is refused (empty program,
// standard-input file that cannot be opened, a variable that does not fit); 128 + N when
// signal N came before the child was started.
int RunBatchHeadless(const char* batchFile);
