// The run controller: from a definition's texts to a started runner, the run's output
// into the kept lines and the batch log, and the run's end into its summary.
#include "batch/batch_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/whole_file.h"

namespace {

constexpr size_t kSpoolBuffer = 64 * 1024;
// What a kept line costs besides its text (the string and the deque's slot).
constexpr size_t kLineOverhead = sizeof(std::string);

// An unlinked file in the temporary folder for standard error's lines until the run ends.
FILE* OpenSpool() {
    std::string path = std::string(Platform_TemporaryFolder()) + "/BRMspoolXXXXXX";
    int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    unlink(path.c_str());  // gone with the last close, whatever ends the run
    FILE* spool = fdopen(fd, "w+");
    if (spool == nullptr) {
        close(fd);
        return nullptr;
    }
    setvbuf(spool, nullptr, _IOFBF, kSpoolBuffer);
    return spool;
}

std::string SizeText(uint64_t bytes) {
    char text[64];
    if (bytes % (1ull << 30) == 0) {
        snprintf(text, sizeof text, "%llu GiB", static_cast<unsigned long long>(bytes >> 30));
    } else if (bytes % (1ull << 20) == 0) {
        snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    } else if (bytes % 1024 == 0) {
        snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
    } else {
        snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

// Why an expansion of field refuses the run, or "" when it is complete.
std::string ExpansionProblem(const ExpandResult& result, const char* field) {
    if (result.complete) return "";
    if (result.reference.empty()) {
        return std::string(field) + " is longer than " + std::to_string(EXPAND_OUTPUT_SIZE - 1) +
               " characters once expanded";
    }
    const char* kind = result.reference[0] == '%' ? "environment variable" : "variable";
    if (result.reason == "does not fit") {
        return std::string("The ") + kind + " " + result.reference + " does not fit in " + field +
               " (" + std::to_string(EXPAND_OUTPUT_SIZE - 1) + " characters at most)";
    }
    return std::string("The ") + kind + " " + result.reference + " in " + field +
           " cannot be computed: " + result.reason;
}

}  // namespace

uint64_t LogLimitFromEnvironment(std::string* warning) {
    const char* text = getenv(LOG_LIMIT_VARIABLE);
    if (text == nullptr || *text == '\0') return DEFAULT_LOG_LIMIT;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(text, &end, 10);
    int shift = 0;
    if (end != text && *end != '\0' && end[1] == '\0') {
        switch (*end) {
            case 'k':
            case 'K':
                shift = 10;
                ++end;
                break;
            case 'm':
            case 'M':
                shift = 20;
                ++end;
                break;
            case 'g':
            case 'G':
                shift = 30;
                ++end;
                break;
        }
    }
    bool valid = end != text && *end == '\0' && errno == 0 && text[0] != '-' &&
                 value <= (ULLONG_MAX >> shift);
    if (!valid) {
        if (warning != nullptr) {
            *warning = std::string(LOG_LIMIT_VARIABLE) + "=" + text +
                       " is no size (bytes, or a number with K, M or G); the log takes at most " +
                       SizeText(DEFAULT_LOG_LIMIT) + " of output per run";
        }
        return DEFAULT_LOG_LIMIT;
    }
    return static_cast<uint64_t>(value) << shift;
}

void KeptLines::Add(std::string_view line) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (maxLines_ == 0) {
        ++first_;
        return;
    }
    lines_.emplace_back(line);
    bytes_ += line.size() + kLineOverhead;
    while (!lines_.empty() && (lines_.size() > maxLines_ || bytes_ > maxBytes_)) {
        bytes_ -= lines_.front().size() + kLineOverhead;
        lines_.pop_front();
        ++first_;
    }
}

void KeptLines::Clear() {
    std::deque<std::string> old;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        old.swap(lines_);
        first_ = 0;
        bytes_ = 0;
    }
}

uint64_t KeptLines::First() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return first_;
}

uint64_t KeptLines::End() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return first_ + lines_.size();
}

bool KeptLines::Line(uint64_t number, std::string* text) const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (number < first_ || number >= first_ + lines_.size()) return false;
    *text = lines_[static_cast<size_t>(number - first_)];
    return true;
}

BatchRun::BatchRun(BatchLog* log, RunLimits limits)
    : log_(log),
      limits_(limits),
      kept_{{limits.keptLines, limits.keptBytes}, {limits.keptLines, limits.keptBytes}} {
    runner_.userContext = this;
    runner_.completedCallback = Completed;
    runner_.failedStartCallback = FailedStart;
    runner_.output.userContext = this;
    runner_.output.lineCallback = LineArrived;
    runner_.output.afterReadCallback = AfterRead;
    runner_.error.userContext = this;
    runner_.error.lineCallback = LineArrived;
    runner_.error.afterReadCallback = AfterRead;
}

BatchRun::~BatchRun() {
    runner_.Destroy();
    if (spool_ != nullptr) fclose(spool_);
}

BatchRunStart BatchRun::Start(BatchDefinition* definition, const BatchFields& fields,
                              const std::string& definitionPath) {
    if (inProgress_) return {BatchRunStart::START_FAILED, "A run is already in progress"};
    if (fields.program.empty()) return {BatchRunStart::EMPTY_PROGRAM, ""};

    // Every field is expanded and checked before anything is opened or written: a
    // substitution that did not fit would change what runs.
    struct Expansion {
        const std::string& text;
        const char* field;
        std::string value;
    } expansions[] = {{fields.stdinFile, "Stdin File", ""},
                      {fields.workingDirectory, "Working Directory", ""},
                      {fields.arguments, "Arguments", ""}};
    for (Expansion& expansion : expansions) {
        if (expansion.text.empty()) continue;
        char output[EXPAND_OUTPUT_SIZE];
        ExpandResult result =
            runner_.variables.Expand(expansion.text.c_str(), output, sizeof output, 0);
        std::string problem = ExpansionProblem(result, expansion.field);
        if (!problem.empty()) return {BatchRunStart::EXPANSION_FAILED, problem};
        expansion.value = output;
    }
    const std::string& stdinPath = expansions[0].value;
    const std::string& arguments = expansions[2].value;
    std::string commandLine = fields.program + " " + arguments;
    if (commandLine.size() >= sizeof runner_.commandLine) {
        return {BatchRunStart::EXPANSION_FAILED,
                "The command line is longer than " +
                    std::to_string(sizeof runner_.commandLine - 1) + " characters once expanded"};
    }

    std::string problem = CommandLineProblem(commandLine.c_str());
    if (!problem.empty()) return {BatchRunStart::START_FAILED, problem};

    UniqueFd input;
    if (!stdinPath.empty()) {
        input.Reset(open(stdinPath.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info;
        int error = input.IsOpen() ? 0 : errno;
        if (input.IsOpen() && fstat(input.Get(), &info) == 0 && S_ISDIR(info.st_mode))
            error = EISDIR;
        if (error != 0) return {BatchRunStart::STDIN_UNOPENED, stdinPath + ": " + strerror(error)};
    }
    runner_.inputSource = std::move(input);
    runner_.workingDirectory = expansions[1].value;

    log_->Header(LOG_HEADER_STARTING);
    definition->CopyIntoTree(fields);
    definition->WriteToLog(log_->Stream());

    runner_.environment.clear();
    ImportEnvironment(&runner_.environment);
    PutEnvironmentPieces(&runner_.environment, fields.environment);
    log_->Header(LOG_HEADER_VARIABLES);
    DumpEnvironment(runner_.environment, log_->Stream());
    log_->Flush();

    summary_ = BatchRunSummary();
    summary_.definitionPath = definitionPath;
    summary_.program = fields.program;
    summary_.arguments = arguments;
    summary_.logPath = log_->IsOpen() ? log_->Path() : "";
    for (int stream : {RUN_STDOUT, RUN_STDERR}) {
        kept_[stream].Clear();
        counts_[stream] = 0;
        logDropped_[stream] = 0;
    }
    logBudget_ = limits_.logBytes != 0 ? limits_.logBytes : UINT64_MAX;
    stdoutHeaderWritten_ = false;
    if (spool_ != nullptr) fclose(spool_);
    spool_ = log_->IsOpen() ? OpenSpool() : nullptr;
    startedAt_ = time(nullptr);
    inProgress_ = true;
    if (!runner_.Start(commandLine.c_str())) {
        inProgress_ = false;
        return {BatchRunStart::START_FAILED, runner_.createErrorText};
    }
    return {BatchRunStart::STARTED, ""};
}

void BatchRun::LineArrived(RunnerStream* stream, std::string_view line) {
    auto* run = static_cast<BatchRun*>(stream->userContext);
    RunStreamId id = stream == &run->runner_.output ? RUN_STDOUT : RUN_STDERR;
    ++run->counts_[id];
    if (run->limits_.keptLines != 0) run->kept_[id].Add(line);
    run->LogLine(id, line);
    if (run->onLine) run->onLine(id, line);
}

void BatchRun::AfterRead(RunnerStream* stream) {
    auto* run = static_cast<BatchRun*>(stream->userContext);
    if (run->onAfterRead)
        run->onAfterRead(stream == &run->runner_.output ? RUN_STDOUT : RUN_STDERR);
}

// Reader threads: standard output goes straight into the log behind its header, written
// before its first line; standard error waits in the spool until the run is over.
void BatchRun::LogLine(RunStreamId stream, std::string_view line) {
    if (!log_->IsOpen()) return;
    uint64_t size = line.size() + 1;
    uint64_t left = logBudget_.load();
    do {
        if (left < size) {
            logBudget_ = 0;  // a shorter line later would make the section read as whole
            ++logDropped_[stream];
            return;
        }
    } while (!logBudget_.compare_exchange_weak(left, left - size));
    if (stream == RUN_STDOUT) {
        if (!stdoutHeaderWritten_) {
            log_->Header(LOG_HEADER_STDOUT);
            stdoutHeaderWritten_ = true;
        }
        log_->Line(line);
    } else if (spool_ != nullptr) {
        fwrite_unlocked(line.data(), 1, line.size(), spool_);
        putc_unlocked('\n', spool_);
    }
}

// Runner thread, once every line has been delivered.
void BatchRun::FinishLog() {
    auto droppedNote = [this](RunStreamId stream, const char* name) {
        if (logDropped_[stream] == 0) return;
        log_->Text("[%llu lines of %s left out: the log takes at most %s of output per run]",
                   static_cast<unsigned long long>(logDropped_[stream]), name,
                   SizeText(limits_.logBytes).c_str());
    };
    if (!stdoutHeaderWritten_) log_->Header(LOG_HEADER_STDOUT);
    droppedNote(RUN_STDOUT, "standard output");
    log_->Header(LOG_HEADER_STDERR);
    if (spool_ != nullptr) {
        if (fflush(spool_) == 0) log_->AppendReleasing(fileno(spool_));
        fclose(spool_);
        spool_ = nullptr;
    }
    droppedNote(RUN_STDERR, "standard error");
    log_->Header(LOG_HEADER_ENDED);
    log_->Text("Return Code was %u", summary_.exitCode);
    log_->Text("Cancelled: %s", summary_.cancelled ? "yes" : "no");
    log_->Text("Runtime %u seconds", summary_.seconds);
}

void BatchRun::Completed(ProcessRunner* runner, uint32_t exitCode, uint32_t seconds) {
    auto* run = static_cast<BatchRun*>(runner->userContext);
    BatchRunSummary& summary = run->summary_;
    summary.started = true;
    summary.exitCode = exitCode;
    summary.cancelled = runner->cancelled;
    summary.seconds = seconds;
    summary.startTime = static_cast<time_t>(runner->startTime);
    summary.endTime = static_cast<time_t>(runner->endTime);
    run->FinishLog();
    run->End();
}

void BatchRun::FailedStart(ProcessRunner* runner, int error, const char* errorText) {
    auto* run = static_cast<BatchRun*>(runner->userContext);
    BatchRunSummary& summary = run->summary_;
    summary.startFailure = runner->startFailure;
    summary.startError = error;
    summary.startFailureText = errorText != nullptr ? errorText : "";
    summary.startTime = summary.endTime = time(nullptr);
    if (run->spool_ != nullptr) {
        fclose(run->spool_);
        run->spool_ = nullptr;
    }
    run->log_->Header(LOG_HEADER_FAILED);
    run->log_->Text("%s", summary.startFailureText.c_str());
    run->End();
}

void BatchRun::End() {
    summary_.stdoutLines = counts_[RUN_STDOUT];
    summary_.stderrLines = counts_[RUN_STDERR];
    summary_.logDroppedLines = logDropped_[RUN_STDOUT] + logDropped_[RUN_STDERR];
    if (!log_->Flush()) {
        summary_.logProblem = log_->WriteProblem();
        log_->NoteIncomplete();
    }
    // The hooks get a copy: once the run no longer counts as in progress, the owner may
    // start the next one while they still run.
    BatchRunSummary summary = summary_;
    inProgress_ = false;
    if (historyHook) historyHook(summary);
    if (onEnd) onEnd(summary);
}

int ExitStatusOf(const BatchRunSummary& summary) {
    if (summary.started) return static_cast<int>(summary.exitCode & 0xFF);
    return summary.startFailure == StartFailure::PROGRAM_NOT_FOUND ? 127 : 126;
}

RunRecord HistoryRecordOf(const BatchRunSummary& summary) {
    RunRecord record;
    record.definitionPath = summary.definitionPath;
    record.program = summary.program;
    record.arguments = summary.arguments;
    record.startTime = summary.startTime;
    record.endTime = summary.endTime;
    record.exitStatus = ExitStatusOf(summary);
    record.cancelled = summary.cancelled;
    record.stdoutLines = summary.stdoutLines;
    record.stderrLines = summary.stderrLines;
    record.logPath = summary.logPath;
    return record;
}
