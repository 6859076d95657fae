// The runner with real child processes: line splitting, volume and order, standard input,
// environment, working directory, failed starts, pause, resume and cancel.
#include "batch/process_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// What one run delivered, gathered from the reader and runner threads.
struct Collected {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines[2];  // output, error
    bool ended = false;
    bool failed = false;
    uint32_t exitCode = 0;
    int error = 0;
    std::string errorText;
    int callbacksAfterEnd = 0;
};

void Line(RunnerStream* stream, std::string_view line) {
    auto* collected = static_cast<Collected*>(stream->userContext);
    std::lock_guard<std::mutex> guard(collected->mutex);
    if (collected->ended) ++collected->callbacksAfterEnd;
    collected->lines[stream == &stream->runner->output ? 0 : 1].emplace_back(line);
    EXPECT_EQ(line.data()[line.size()], '\0');
}

void Completed(ProcessRunner* runner, uint32_t exitCode, uint32_t) {
    auto* collected = static_cast<Collected*>(runner->userContext);
    std::lock_guard<std::mutex> guard(collected->mutex);
    collected->ended = true;
    collected->exitCode = exitCode;
    collected->changed.notify_all();
}

void FailedStart(ProcessRunner* runner, int error, const char* text) {
    auto* collected = static_cast<Collected*>(runner->userContext);
    std::lock_guard<std::mutex> guard(collected->mutex);
    collected->ended = true;
    collected->failed = true;
    collected->error = error;
    collected->errorText = text;
    collected->changed.notify_all();
}

class Runner : public ::testing::Test {
  protected:
    void SetUp() override {
        Wire(&collected_);
        ImportEnvironment(&runner_.environment);
    }
    void TearDown() override { runner_.Destroy(); }

    void Wire(Collected* collected) {
        runner_.userContext = collected;
        runner_.completedCallback = Completed;
        runner_.failedStartCallback = FailedStart;
        runner_.output.userContext = collected;
        runner_.output.lineCallback = Line;
        runner_.error.userContext = collected;
        runner_.error.lineCallback = Line;
    }

    // Starts the command line; false when Start refused it.
    bool Start(const std::string& commandLine) { return runner_.Start(commandLine.c_str()) == 1; }
    // Waits for the end of the run; false after the time-out.
    bool WaitForEnd(int seconds = 60) {
        std::unique_lock<std::mutex> lock(collected_.mutex);
        return collected_.changed.wait_for(lock, std::chrono::seconds(seconds),
                                           [&] { return collected_.ended; });
    }
    bool Run(const std::string& commandLine) { return Start(commandLine) && WaitForEnd(); }
    const std::vector<std::string>& Output() { return collected_.lines[0]; }
    const std::vector<std::string>& Errors() { return collected_.lines[1]; }
    // The first output line, once it has arrived (the child's process id, say).
    std::string FirstOutputLine() {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> guard(collected_.mutex);
                if (!collected_.lines[0].empty()) return collected_.lines[0][0];
            }
            usleep(10000);
        }
        return "";
    }

    ProcessRunner runner_;
    Collected collected_;
};

// The state letter of a process in /proc, or 0 when it is gone.
char ProcessState(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

bool GroupIsGone(pid_t group) {
    for (int i = 0; i < 200; ++i) {
        if (kill(-group, 0) != 0 && errno == ESRCH) return true;
        usleep(10000);
    }
    return false;
}

TEST_F(Runner, SplitsCrLfAndLfLinesAndJoinsLinesSplitAcrossReads) {
    ASSERT_TRUE(
        Run("sh -c 'printf \"a\\r\\nb\\n\"; printf \"hel\"; sleep 0.2; "
            "printf \"lo\\r\"; sleep 0.2; printf \"\\n\"; printf wor >&2; sleep 0.2; "
            "printf \"ld\\n\\n\" >&2; printf \"last\"'"));
    EXPECT_FALSE(collected_.failed) << collected_.errorText;
    EXPECT_EQ(Output(), (std::vector<std::string>{"a", "b", "hello", "last"}));
    EXPECT_EQ(Errors(), (std::vector<std::string>{"world", ""}));
    EXPECT_EQ(collected_.exitCode, 0u);
    EXPECT_EQ(collected_.callbacksAfterEnd, 0);
}

TEST_F(Runner, AMillionLinesOnEachStreamArriveCompleteAndInOrder) {
    // Checked as they arrive rather than kept: counts and the first line out of order.
    struct Check {
        long next[2] = {1, 1};
        long wrong[2] = {0, 0};
    } check;
    runner_.output.userContext = runner_.error.userContext = &check;
    auto count = [](RunnerStream* stream, std::string_view line) {
        auto* c = static_cast<Check*>(stream->userContext);
        int which = stream == &stream->runner->output ? 0 : 1;
        if (line != std::to_string(c->next[which])) ++c->wrong[which];
        ++c->next[which];
    };
    runner_.output.lineCallback = count;
    runner_.error.lineCallback = count;
    ASSERT_TRUE(Run("sh -c 'seq 1000000 >&2 & seq 1000000; wait'"));
    EXPECT_EQ(collected_.exitCode, 0u);
    EXPECT_EQ(check.next[0], 1000001);
    EXPECT_EQ(check.next[1], 1000001);
    EXPECT_EQ(check.wrong[0], 0);
    EXPECT_EQ(check.wrong[1], 0);
}

TEST_F(Runner, FeedsAStdinFileLargerThanThePipeWholeThenEndOfFile) {
    TempDir dir;
    std::string content;
    content.reserve(10 << 20);
    for (int i = 0; content.size() < (10u << 20); ++i)
        content += "line " + std::to_string(i) + "\n";
    content.resize(10 << 20);
    WriteFile(dir / "input", content);
    std::string expected =
        testsupport::RunProgram("/bin/sh", {{"-c", "cksum < '" + (dir / "input") + "'"}}).out;

    runner_.inputSource.Reset(open((dir / "input").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(runner_.inputSource.IsOpen());
    // cksum ends only at end of file, so its answer shows the whole file and the end.
    ASSERT_TRUE(Run("cksum"));
    ASSERT_EQ(Output().size(), 1u);
    EXPECT_EQ(Output()[0] + "\n", expected);
    EXPECT_EQ(collected_.exitCode, 0u);
}

TEST_F(Runner, ChildThatStopsReadingItsInputEndsTheRunNormally) {
    TempDir dir;
    WriteFile(dir / "input", std::string(10 << 20, 'x'));
    runner_.inputSource.Reset(open((dir / "input").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(Run("sh -c 'head -c 3; echo; exit 3'"));
    EXPECT_EQ(Output(), std::vector<std::string>{"xxx"});
    EXPECT_EQ(collected_.exitCode, 3u);
}

TEST_F(Runner, WithoutInputTheChildReadsEndOfFileAtOnce) {
    ASSERT_TRUE(Run("wc -c"));
    EXPECT_EQ(Output(), std::vector<std::string>{"0"});
}

TEST_F(Runner, EnvironmentAdditionsReplaceByExactNameAndSkipPiecesWithoutEquals) {
    EnvironmentTable* table = &runner_.environment;
    EXPECT_TRUE(PutEnvironment(table, "PATH=/custom:/usr/bin:/bin"));
    EXPECT_TRUE(PutEnvironment(table, "Path=second entry"));
    EXPECT_TRUE(PutEnvironment(table, "ZYMB_EMPTY="));
    EXPECT_TRUE(PutEnvironment(table, "ZYMB_EQUALS=a=b"));
    EXPECT_FALSE(PutEnvironment(table, "NOEQUALS"));
    PutEnvironmentPieces(table, ";ZYMB_PIECE=one;;NOEQUALS2;ZYMB_SPACE=two words");
    ASSERT_TRUE(Run("env"));
    auto has = [&](const std::string& line) {
        return std::find(Output().begin(), Output().end(), line) != Output().end();
    };
    EXPECT_TRUE(has("PATH=/custom:/usr/bin:/bin"));
    EXPECT_TRUE(has("Path=second entry"));
    EXPECT_TRUE(has("ZYMB_EMPTY="));
    EXPECT_TRUE(has("ZYMB_EQUALS=a=b"));
    EXPECT_TRUE(has("ZYMB_PIECE=one"));
    EXPECT_TRUE(has("ZYMB_SPACE=two words"));
    for (const std::string& line : Output()) EXPECT_NE(line.rfind("NOEQUALS", 0), 0u);
}

TEST(Environment, IsDumpedAndBuiltInByteOrder) {
    EnvironmentTable table;
    for (const char* entry : {"b=2", "a=1", "B=3", "=empty name", "\xC3\xA9=e", "a=replaced"}) {
        PutEnvironment(&table, entry);
    }
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&text, &size);
    DumpEnvironment(table, stream);
    fclose(stream);
    EXPECT_EQ(std::string(text, size), "=empty name\nB=3\na=replaced\nb=2\n\xC3\xA9=e\n");
    free(text);

    EnvironmentArray array(table);
    std::vector<std::string> entries;
    for (char** entry = array.Get(); *entry != nullptr; ++entry) entries.emplace_back(*entry);
    EXPECT_EQ(entries,
              (std::vector<std::string>{"=empty name", "B=3", "a=replaced", "b=2", "\xC3\xA9=e"}));
}

TEST_F(Runner, CommandLineIsSplitLikeAShellButNothingIsInterpreted) {
    TempDir dir;
    std::string marker = dir / "injected";
    ASSERT_TRUE(Run("printf '%s\\n' \"a b\" 'c  d' e\\ f \"x; touch " + marker + "\" '$(id)' "));
    EXPECT_EQ(Output(),
              (std::vector<std::string>{"a b", "c  d", "e f", "x; touch " + marker, "$(id)"}));
    EXPECT_EQ(access(marker.c_str(), F_OK), -1);
}

TEST_F(Runner, UnbalancedQuotesAreRefusedBeforeAnythingStarts) {
    EXPECT_FALSE(Start("printf 'unclosed"));
    EXPECT_NE(std::string(runner_.createErrorText).find("cannot be split"), std::string::npos);
    EXPECT_FALSE(runner_.flags & RUNNER_IN_PROGRESS);
    ASSERT_TRUE(Run("true "));  // and the runner is still usable
    EXPECT_EQ(collected_.exitCode, 0u);
}

TEST_F(Runner, RunsInTheWorkingDirectory) {
    TempDir dir;
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir.Path().c_str(), real), nullptr);
    runner_.workingDirectory = dir.Path();
    ASSERT_TRUE(Run("pwd -P"));
    EXPECT_EQ(Output(), std::vector<std::string>{real});
}

TEST_F(Runner, FailedStartsNameTheirCause) {
    TempDir dir;
    WriteFile(dir / "not-executable", "#!/bin/sh\n");
    struct Case {
        std::string commandLine;
        std::string workingDirectory;
        StartFailure failure;
        int error;
        std::string text;
    } cases[] = {
        {"zymb-no-such-program-anywhere --flag", "", StartFailure::PROGRAM_NOT_FOUND, ENOENT,
         "zymb-no-such-program-anywhere not found in PATH ("},
        {dir / "missing/program", "", StartFailure::PROGRAM_NOT_FOUND, ENOENT,
         "The program " + (dir / "missing/program") + " does not exist"},
        {dir / "not-executable", "", StartFailure::CANNOT_EXECUTE, EACCES,
         (dir / "not-executable") + " cannot be started: Permission denied"},
        // A missing working folder is its own cause, not a missing program.
        {"true", dir / "no-such-folder", StartFailure::WORKING_DIRECTORY, ENOENT,
         "The working folder " + (dir / "no-such-folder") + " does not exist"},
        {"true", dir / "not-executable", StartFailure::WORKING_DIRECTORY, ENOTDIR,
         "The working folder " + (dir / "not-executable") + " cannot be entered: Not a directory"},
    };
    for (const Case& c : cases) {
        Collected collected;
        Wire(&collected);
        runner_.workingDirectory = c.workingDirectory;
        ASSERT_TRUE(runner_.Start(c.commandLine.c_str()));
        std::unique_lock<std::mutex> lock(collected.mutex);
        ASSERT_TRUE(collected.changed.wait_for(lock, std::chrono::seconds(30),
                                               [&] { return collected.ended; }));
        EXPECT_TRUE(collected.failed) << c.commandLine;
        EXPECT_EQ(runner_.startFailure, c.failure) << c.commandLine;
        EXPECT_EQ(collected.error, c.error) << c.commandLine;
        EXPECT_EQ(collected.errorText.rfind(c.text, 0), 0u) << collected.errorText;
    }
    runner_.workingDirectory.clear();
    Wire(&collected_);
}

TEST_F(Runner, ExitCodesAndSignals) {
    struct Case {
        const char* commandLine;
        uint32_t exitCode;
    } cases[] = {{"true", 0}, {"sh -c 'exit 7'", 7}, {"sh -c 'kill -TERM $$'", 128 + SIGTERM}};
    for (const Case& c : cases) {
        Collected collected;
        Wire(&collected);
        ASSERT_TRUE(runner_.Start(c.commandLine));
        std::unique_lock<std::mutex> lock(collected.mutex);
        ASSERT_TRUE(collected.changed.wait_for(lock, std::chrono::seconds(30),
                                               [&] { return collected.ended; }));
        EXPECT_EQ(collected.exitCode, c.exitCode) << c.commandLine;
    }
    Wire(&collected_);
}

TEST_F(Runner, OnlyOneRunAtATime) {
    ASSERT_TRUE(Start("sh -c 'echo $$; sleep 30'"));
    ASSERT_FALSE(FirstOutputLine().empty());
    EXPECT_FALSE(Start("true"));
    EXPECT_STREQ(runner_.createErrorText, "A run is already in progress");
    runner_.Cancel();
    ASSERT_TRUE(WaitForEnd());
}

TEST_F(Runner, PausedThenResumedRunCompletesNormally) {
    // The sleep is started before the line: stopped while the shell is still starting it, the
    // shell would wait for it uninterruptibly instead of showing as stopped.
    ASSERT_TRUE(Start("sh -c 'sleep 2 & echo $$; wait; echo done'"));
    pid_t child = std::stoi(FirstOutputLine());
    runner_.Pause();
    EXPECT_TRUE(runner_.flags & RUNNER_PAUSED);
    for (int i = 0; i < 100 && ProcessState(child) != 'T'; ++i) usleep(10000);
    EXPECT_EQ(ProcessState(child), 'T');
    EXPECT_FALSE(WaitForEnd(1));  // stopped: its sleep cannot end the run meanwhile
    runner_.Resume();
    EXPECT_FALSE(runner_.flags & RUNNER_PAUSED);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(collected_.exitCode, 0u);
    EXPECT_EQ(Output().back(), "done");
}

TEST_F(Runner, CancelGives100AndLeavesNoProcessOfTheGroup) {
    for (bool paused : {false, true}) {
        Collected collected;
        Wire(&collected);
        ASSERT_TRUE(Start("sh -c 'echo $$; sleep 100 & sleep 100 & wait'"));
        std::string first;
        for (int i = 0; i < 1000 && first.empty(); ++i) {
            {
                std::lock_guard<std::mutex> guard(collected.mutex);
                if (!collected.lines[0].empty()) first = collected.lines[0][0];
            }
            usleep(10000);
        }
        pid_t group = std::stoi(first);
        if (paused) runner_.Pause();
        runner_.Cancel();
        std::unique_lock<std::mutex> lock(collected.mutex);
        ASSERT_TRUE(collected.changed.wait_for(lock, std::chrono::seconds(30),
                                               [&] { return collected.ended; }));
        EXPECT_EQ(collected.exitCode, RUNNER_CANCEL_EXIT_CODE);
        EXPECT_TRUE(GroupIsGone(group)) << (paused ? "paused" : "running");
        EXPECT_FALSE(runner_.flags & (RUNNER_IN_PROGRESS | RUNNER_PAUSED));
    }
    Wire(&collected_);
}

TEST_F(Runner, GrandchildHoldingThePipesDoesNotKeepTheRunGoing) {
    ASSERT_TRUE(Start("sh -c 'echo $$; sleep 60 & echo started'"));
    ASSERT_TRUE(WaitForEnd(20)) << "the run waited for the grandchild";
    EXPECT_EQ(Output(), (std::vector<std::string>{Output()[0], "started"}));
    EXPECT_EQ(collected_.exitCode, 0u);
    kill(-std::stoi(Output()[0]), SIGKILL);  // the grandchild, left running on purpose
}

}  // namespace
