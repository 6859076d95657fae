// The run controller with real child processes: the kept lines and their bounds, the log
// sections and the summary of a run, refused runs, and a log that cannot be written.
#include "batch/batch_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

TEST(KeptLines, KeepTheNewestLinesWithinBothBoundsAndNumberThemFromTheFirst) {
    KeptLines kept(3, 1 << 20);
    for (int i = 0; i < 5; ++i) kept.Add("line " + std::to_string(i));
    EXPECT_EQ(kept.First(), 2u);
    EXPECT_EQ(kept.End(), 5u);
    std::string text;
    EXPECT_FALSE(kept.Line(1, &text));
    ASSERT_TRUE(kept.Line(2, &text));
    EXPECT_EQ(text, "line 2");
    ASSERT_TRUE(kept.Line(4, &text));
    EXPECT_EQ(text, "line 4");
    EXPECT_FALSE(kept.Line(5, &text));

    // The byte bound: one long line pushes the older ones out, but the newest stays.
    KeptLines small(100, 200);
    small.Add("a");
    small.Add("b");
    small.Add(std::string(150, 'x'));
    EXPECT_EQ(small.End() - small.First(), 1u);
    small.Clear();
    EXPECT_EQ(small.First(), 0u);
    EXPECT_EQ(small.End(), 0u);
}

TEST(LogLimit, ReadsBytesAndSuffixesAndWarnsOfAnythingElse) {
    struct Case {
        const char* text;  // nullptr: unset
        uint64_t limit;
        bool warns;
    } cases[] = {
        {nullptr, DEFAULT_LOG_LIMIT, false},
        {"", DEFAULT_LOG_LIMIT, false},
        {"0", 0, false},
        {"12", 12, false},
        {"1K", 1024, false},
        {"5m", 5u << 20, false},
        {"2G", 2ull << 30, false},
        {"abc", DEFAULT_LOG_LIMIT, true},
        {"-1", DEFAULT_LOG_LIMIT, true},
        {"1KB", DEFAULT_LOG_LIMIT, true},
        {"99999999999999999999", DEFAULT_LOG_LIMIT, true},
        {"17179869184G", DEFAULT_LOG_LIMIT, true},
    };
    for (const Case& c : cases) {
        if (c.text != nullptr)
            setenv(LOG_LIMIT_VARIABLE, c.text, 1);
        else
            unsetenv(LOG_LIMIT_VARIABLE);
        std::string warning;
        EXPECT_EQ(LogLimitFromEnvironment(&warning), c.limit) << (c.text ? c.text : "unset");
        EXPECT_EQ(!warning.empty(), c.warns) << warning;
    }
    unsetenv(LOG_LIMIT_VARIABLE);
}

TEST(BatchLogSpool, IsAppendedWholeAndGivesItsBlocksBack) {
    TempDir work;
    std::string content;
    for (int i = 0; content.size() < (8u << 20); ++i)
        content += "error line " + std::to_string(i) + "\n";
    testsupport::WriteFile(work / "spool", content);
    int fd = open((work / "spool").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string oldTemporary = getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "";
    setenv("TMPDIR", work.Path().c_str(), 1);
    {
        BatchLog log;
        ASSERT_TRUE(log.Open());
        log.AppendReleasing(fd);
        ASSERT_TRUE(log.Flush());
        std::string logged = ReadFile(log.Path());
        EXPECT_EQ(logged.substr(logged.size() - content.size()), content);
    }
    if (oldTemporary.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", oldTemporary.c_str(), 1);
    struct stat info;
    ASSERT_EQ(fstat(fd, &info), 0);
    EXPECT_EQ(static_cast<size_t>(info.st_size), content.size());
    // Where the file system can make holes, next to nothing of the spool is left on disk.
    EXPECT_LT(info.st_blocks * 512, 1 << 20) << "the spool kept its blocks";
    close(fd);
}

class Run : public ::testing::Test {
  protected:
    void SetUp() override {
        oldTemporary_ = getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "";
        setenv("TMPDIR", work_.Path().c_str(), 1);
        ASSERT_TRUE(log_.Open());
    }
    void TearDown() override {
        if (oldTemporary_.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTemporary_.c_str(), 1);
    }

    // Runs the fields with the given limits and waits for the end.
    BatchRunSummary RunToEnd(const BatchFields& fields, RunLimits limits = {},
                             BatchRun** kept = nullptr) {
        run_ = std::make_unique<BatchRun>(&log_, limits);
        std::mutex mutex;
        std::condition_variable changed;
        bool ended = false;
        BatchRunSummary summary;
        run_->historyHook = [&](const BatchRunSummary& ending) {
            std::lock_guard<std::mutex> guard(mutex);
            EXPECT_FALSE(ended) << "the history hook comes before the end";
            history_.push_back(ending);
        };
        run_->onEnd = [&](const BatchRunSummary& ending) {
            std::lock_guard<std::mutex> guard(mutex);
            summary = ending;
            ended = true;
            changed.notify_all();
        };
        BatchRunStart start = run_->Start(&definition_, fields, "/jobs/job.cvbatch");
        EXPECT_EQ(start.outcome, BatchRunStart::STARTED) << start.reason;
        if (start.outcome != BatchRunStart::STARTED) return summary;
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return ended; }));
        if (kept != nullptr) *kept = run_.get();
        return summary;
    }

    TempDir work_;
    std::string oldTemporary_;
    BatchLog log_;
    BatchDefinition definition_;
    std::unique_ptr<BatchRun> run_;
    std::vector<BatchRunSummary> history_;
};

TEST_F(Run, TheSummaryAndTheLogTellHowTheRunWent) {
    setenv("ZYMBRUNTESTWORD", "expanded", 1);
    BatchRunSummary summary =
        RunToEnd({"sh", "-c 'seq 1 5; echo oops >&2; exit 3' %ZYMBRUNTESTWORD", "", "", ""},
                 RunLimits{3, 1 << 20, DEFAULT_LOG_LIMIT});
    EXPECT_TRUE(summary.started);
    EXPECT_EQ(summary.exitCode, 3u);
    EXPECT_FALSE(summary.cancelled);
    EXPECT_EQ(summary.definitionPath, "/jobs/job.cvbatch");
    EXPECT_EQ(summary.program, "sh");
    EXPECT_EQ(summary.arguments, "-c 'seq 1 5; echo oops >&2; exit 3' expanded");
    EXPECT_EQ(summary.stdoutLines, 5u);
    EXPECT_EQ(summary.stderrLines, 1u);
    EXPECT_EQ(summary.logPath, log_.Path());
    EXPECT_TRUE(summary.logProblem.empty());
    EXPECT_LE(summary.startTime, summary.endTime);
    ASSERT_EQ(history_.size(), 1u);
    EXPECT_EQ(history_[0].exitCode, 3u);

    // The window's lines: the newest three, numbered from the run's first.
    const KeptLines& lines = run_->Lines(RUN_STDOUT);
    EXPECT_EQ(lines.First(), 2u);
    std::string text;
    ASSERT_TRUE(lines.Line(4, &text));
    EXPECT_EQ(text, "5");

    std::string log = ReadFile(log_.Path());
    size_t at = 0;
    for (const char* expected :
         {":: Starting Program (", ":: Variables (", "ZYMBRUNTESTWORD=expanded\n", ":: Stdout (",
          "\n1\n2\n3\n4\n5\n", ":: Stderr (", "\noops\n", ":: Program Ended (",
          "\nReturn Code was 3\nCancelled: no\nRuntime "}) {
        size_t found = log.find(expected, at);
        ASSERT_NE(found, std::string::npos) << expected << " in order in:\n" << log;
        at = found;
    }
    unsetenv("ZYMBRUNTESTWORD");
}

TEST_F(Run, ARefusedRunStartsNothingAndKeepsTheLastRunsLines) {
    RunToEnd({"sh", "-c 'echo kept'", "", "", ""});
    std::string before = ReadFile(log_.Path());
    struct Case {
        BatchFields fields;
        BatchRunStart::Outcome outcome;
        std::string reason;
    } cases[] = {
        {{"", "x", "", "", ""}, BatchRunStart::EMPTY_PROGRAM, ""},
        {{"cat", "", "", "", work_ / "missing"},
         BatchRunStart::STDIN_UNOPENED,
         work_ / "missing: No such file or directory"},
        {{"echo", std::string(300, 'a'), "", "", ""},
         BatchRunStart::EXPANSION_FAILED,
         "Arguments is longer than 259 characters once expanded"},
        {{"echo", "", "", "", "%ZYMBRUNTESTLONG"},
         BatchRunStart::EXPANSION_FAILED,
         "The environment variable %ZYMBRUNTESTLONG does not fit in Stdin File (259 characters "
         "at most)"},
        {{"echo", "'unbalanced", "", "", ""},
         BatchRunStart::START_FAILED,
         "The command line cannot be split into words: "},
    };
    setenv("ZYMBRUNTESTLONG", std::string(300, 'l').c_str(), 1);
    for (const Case& c : cases) {
        BatchRunStart start = run_->Start(&definition_, c.fields, "");
        EXPECT_EQ(start.outcome, c.outcome) << c.fields.arguments;
        EXPECT_EQ(start.reason.substr(0, c.reason.size()), c.reason);
        EXPECT_FALSE(run_->InProgress());
    }
    unsetenv("ZYMBRUNTESTLONG");
    std::string text;
    ASSERT_TRUE(run_->Lines(RUN_STDOUT).Line(0, &text));
    EXPECT_EQ(text, "kept");
    // Nothing of a refused run reaches the log.
    EXPECT_EQ(ReadFile(log_.Path()), before);
}

TEST_F(Run, ACancelDuringTheWaitForAGrandchildEndsTheRunAt100) {
    run_ = std::make_unique<BatchRun>(&log_);
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    BatchRunSummary summary;
    run_->onEnd = [&](const BatchRunSummary& ending) {
        std::lock_guard<std::mutex> guard(mutex);
        summary = ending;
        ended = true;
        changed.notify_all();
    };
    ASSERT_EQ(
        run_->Start(&definition_,
                    {"sh", "-c '(while :; do echo tick; sleep 0.05; done) & exit 0'", "", "", ""},
                    "")
            .outcome,
        BatchRunStart::STARTED);
    for (int i = 0; i < 500 && run_->ChildRunning(); ++i) usleep(10000);
    ASSERT_FALSE(run_->ChildRunning());
    usleep(1500000);  // longer than the quiet time that would end the wait on its own
    EXPECT_TRUE(run_->InProgress());
    run_->Cancel();
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return ended; }));
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.exitCode, RUNNER_CANCEL_EXIT_CODE);
    EXPECT_NE(ReadFile(log_.Path()).find("Return Code was 100\nCancelled: yes\n"),
              std::string::npos);
}

TEST_F(Run, ALogThatCannotBeWrittenIsReportedInTheSummary) {
    // The file size limit stands in for a full disk: writes past it fail with EFBIG.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit limited = old;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    BatchRunSummary summary = RunToEnd({"seq", "1 100000", "", "", ""});
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(summary.exitCode, 0u);
    EXPECT_EQ(summary.stdoutLines, 100000u);
    EXPECT_EQ(summary.logProblem, strerror(EFBIG));
}

}  // namespace
