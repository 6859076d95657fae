// The headless run: a batch definition run from the command line, its output passed
// through as it arrives and kept in the batch log as the window keeps it.
#include "batch/headless_run.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "batch/batch_run.h"

namespace {

constexpr size_t kEchoBuffer = 64 * 1024;

// One output stream of the child: echoed to ours and kept for the log, which wants each
// stream's lines together after the run. Standard output goes straight into the log
// behind its "Stdout" header, written before its first line; standard error waits in a
// hidden spool file until the run is over. Only one copy of each line is ever written
// besides the log's own.
struct Passage {
    FILE* echo;
    FILE* spool = nullptr;    // standard error's lines until the run ends
    BatchLog* log = nullptr;  // standard output's lines go here directly
    bool headerWritten = false;
};

struct HeadlessRun {
    Passage output{stdout};
    Passage error{stderr};
    pthread_t mainThread;
    std::mutex mutex;
    bool done = false;
    bool started = false;
    uint32_t exitCode = 0;
    uint32_t seconds = 0;
    int startError = 0;
    std::string startErrorText;
};

FILE* OpenSpool() {
    const char* folder = getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    std::string path = std::string(folder) + "/BRMspoolXXXXXX";
    int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    unlink(path.c_str());  // gone with the last close, whatever ends the run
    FILE* spool = fdopen(fd, "w+");
    if (spool == nullptr) {
        close(fd);
        return nullptr;
    }
    setvbuf(spool, nullptr, _IOFBF, kEchoBuffer);
    return spool;
}

void PassLine(RunnerStream* stream, std::string_view line) {
    Passage* passage = static_cast<Passage*>(stream->userContext);
    fwrite_unlocked(line.data(), 1, line.size(), passage->echo);
    putc_unlocked('\n', passage->echo);
    FILE* keep = passage->spool;
    if (passage->log != nullptr) {
        if (!passage->headerWritten) {
            passage->log->Header("Stdout");
            passage->headerWritten = true;
        }
        keep = passage->log->Stream();
    }
    if (keep != nullptr) {
        fwrite_unlocked(line.data(), 1, line.size(), keep);
        putc_unlocked('\n', keep);
    }
}

void FlushPassage(RunnerStream* stream) {
    fflush(static_cast<Passage*>(stream->userContext)->echo);
}

void Finished(HeadlessRun* run) {
    {
        std::lock_guard<std::mutex> guard(run->mutex);
        run->done = true;
    }
    pthread_kill(run->mainThread, SIGUSR1);
}

void Completed(ProcessRunner* runner, uint32_t exitCode, uint32_t seconds) {
    HeadlessRun* run = static_cast<HeadlessRun*>(runner->userContext);
    run->started = true;
    run->exitCode = exitCode;
    run->seconds = seconds;
    Finished(run);
}

void FailedStart(ProcessRunner* runner, int error, const char* text) {
    HeadlessRun* run = static_cast<HeadlessRun*>(runner->userContext);
    run->startError = error;
    run->startErrorText = text;
    Finished(run);
}

void CopySpool(FILE* spool, BatchLog* log) {
    if (spool == nullptr || log->Stream() == nullptr) return;
    fflush(spool);
    log->Flush();
    // Copied by the kernel where it can; by hand from wherever that stopped.
    int from = fileno(spool);
    int to = fileno(log->Stream());
    off_t offset = 0;
    for (;;) {
        ssize_t copied = copy_file_range(from, &offset, to, nullptr, 1 << 30, 0);
        if (copied <= 0) break;
    }
    if (lseek(from, offset, SEEK_SET) != offset) return;
    char buffer[64 * 1024];
    ssize_t count;
    while ((count = read(from, buffer, sizeof buffer)) > 0) {
        if (fwrite(buffer, 1, static_cast<size_t>(count), log->Stream()) !=
            static_cast<size_t>(count)) {
            break;
        }
    }
}

}  // namespace

int RunBatchHeadless(const char* batchFile) {
    // Interrupts are taken by this thread alone, with sigwait, and turned into a cancel of
    // the child's group; every thread started from here on inherits the blocked set.
    sigset_t waited;
    sigemptyset(&waited);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&waited, signalNumber);
    pthread_sigmask(SIG_BLOCK, &waited, nullptr);

    BatchLog log;
    std::string reason;
    if (!log.Open(&reason)) {
        fprintf(stderr, "ZYMBBatch: the batch log cannot be created: %s\n", reason.c_str());
    }
    BatchDefinition definition;
    BatchReadResult read = definition.Read(batchFile);
    if (!read.ok) {
        if (read.errorLine > 0) {
            fprintf(stderr, "ZYMBBatch: %s: %s on line %d\n", batchFile, read.errorText.c_str(),
                    read.errorLine);
        } else {
            fprintf(stderr, "ZYMBBatch: %s: %s\n", batchFile, read.errorText.c_str());
        }
        if (log.IsOpen()) fprintf(stderr, "ZYMBBatch: batch log %s\n", log.Path().c_str());
        return 2;
    }
    BatchFields fields{read.program.value_or(""), read.arguments.value_or(""),
                       read.workingDirectory.value_or(""), read.environment.value_or(""),
                       read.stdinFile.value_or("")};
    HeadlessRun run;
    run.mainThread = pthread_self();
    if (log.IsOpen()) {
        run.output.log = &log;
        run.error.spool = OpenSpool();
    }
    // Standard error is unbuffered by default, which would cost a system call per line; each
    // stream is flushed after every read of the child's output instead, so lines still
    // appear as they arrive.
    static char outputBuffer[kEchoBuffer], errorBuffer[kEchoBuffer];
    setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    setvbuf(stderr, errorBuffer, _IOFBF, sizeof errorBuffer);
    ProcessRunner runner;
    InitProcessRunner(&runner);
    runner.userContext = &run;
    runner.completedCallback = Completed;
    runner.failedStartCallback = FailedStart;
    runner.output.userContext = &run.output;
    runner.output.lineCallback = PassLine;
    runner.output.afterReadCallback = FlushPassage;
    runner.error.userContext = &run.error;
    runner.error.lineCallback = PassLine;
    runner.error.afterReadCallback = FlushPassage;

    int status = 0;
    RunPreparation preparation = PrepareAndStartRun(&runner, &definition, fields, &log);
    switch (preparation.outcome) {
        case RunPreparation::EMPTY_PROGRAM:
            fprintf(stderr, "ZYMBBatch: %s\n", EMPTY_PROGRAM_TEXT);
            status = 2;
            break;
        case RunPreparation::STDIN_UNOPENED:
            fprintf(stderr, "ZYMBBatch: ");
            fprintf(stderr, STDIN_UNOPENED_FORMAT, preparation.reason.c_str());
            fprintf(stderr, "\n");
            status = 2;
            break;
        case RunPreparation::START_FAILED:
            fprintf(stderr, "ZYMBBatch: %s\n", preparation.reason.c_str());
            status = 2;
            break;
        case RunPreparation::STARTED:
            for (;;) {
                int signalNumber = 0;
                if (sigwait(&waited, &signalNumber) != 0) continue;
                {
                    std::lock_guard<std::mutex> guard(run.mutex);
                    if (run.done) break;
                }
                if (signalNumber != SIGUSR1) runner.Cancel(&runner);
            }
            runner.Destroy(&runner);  // the run is over: this only joins its thread
            if (run.started) {
                if (!run.output.headerWritten) log.Header("Stdout");
                log.Header("Stderr");
                CopySpool(run.error.spool, &log);
                log.Header("Program Ended");
                log.Flush();
                status = static_cast<int>(run.exitCode & 0xFF);
                fprintf(stderr, "ZYMBBatch: Return Code was %u, Runtime %u seconds\n", run.exitCode,
                        run.seconds);
            } else {
                fprintf(stderr, "ZYMBBatch: Program Failed to Start: %s (error %d)\n",
                        run.startErrorText.c_str(), run.startError);
                status = run.startError == ENOENT ? 127 : 126;
            }
            break;
    }
    if (run.error.spool != nullptr) fclose(run.error.spool);
    if (log.IsOpen()) fprintf(stderr, "ZYMBBatch: batch log %s\n", log.Path().c_str());
    fflush(stdout);
    fflush(stderr);
    return status;
}
