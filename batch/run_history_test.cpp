// The run history: whole records under concurrent appends, damaged lines skipped, the
// bound kept, and the times and folders it uses.
#include "batch/run_history.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace {

RunRecord Sample(int number, const std::string& arguments = "--all") {
    RunRecord record;
    record.definitionPath = "/srv/jobs/Ημερήσια ночь 夜間.cvbatch";
    record.program = "/usr/bin/ZYMB10DownloadFile";
    record.arguments = arguments + " #" + std::to_string(number);
    record.startTime = 1780000000 + number * 60;
    record.endTime = record.startTime + 3;
    record.exitStatus = number % 7;
    record.cancelled = number % 5 == 0;
    record.stdoutLines = static_cast<uint64_t>(number) * 1000;
    record.stderrLines = 2;
    record.logPath = "/tmp/BRM" + std::to_string(number) + ".log";
    return record;
}

void ExpectSame(const RunRecord& expected, const RunRecord& actual) {
    EXPECT_EQ(expected.definitionPath, actual.definitionPath);
    EXPECT_EQ(expected.program, actual.program);
    EXPECT_EQ(expected.arguments, actual.arguments);
    EXPECT_EQ(expected.startTime, actual.startTime);
    EXPECT_EQ(expected.endTime, actual.endTime);
    EXPECT_EQ(expected.exitStatus, actual.exitStatus);
    EXPECT_EQ(expected.cancelled, actual.cancelled);
    EXPECT_EQ(expected.stdoutLines, actual.stdoutLines);
    EXPECT_EQ(expected.stderrLines, actual.stderrLines);
    EXPECT_EQ(expected.logPath, actual.logPath);
}

TEST(RunHistory, RecordsReadBackWholeAndDamagedLinesAreSkipped) {
    testsupport::TempDir dir;
    // The folder is made on the first append.
    std::string path = dir / "state/zymb/history.jsonl";
    std::string reason;
    ASSERT_TRUE(AppendRunRecordTo(path, Sample(1), kRunHistoryLimit, &reason)) << reason;
    // A line of something else, a record cut short and a record missing a field.
    std::string text = testsupport::ReadFile(path);
    std::string cut = RunRecordJson(Sample(2));
    testsupport::WriteFile(path, text + "not json\n" + cut.substr(0, cut.size() / 2) + "\n" +
                                     R"({"definition":"/x.cvbatch","status":0})" + "\n\n");
    ASSERT_TRUE(AppendRunRecordTo(path, Sample(3), kRunHistoryLimit, &reason)) << reason;

    RunHistory history = ReadRunHistory(path, 0);
    ASSERT_TRUE(history.ok) << history.reason;
    ASSERT_EQ(2u, history.records.size());
    ExpectSame(Sample(1), history.records[0]);
    ExpectSame(Sample(3), history.records[1]);
    ASSERT_EQ(3u, history.warnings.size());
    EXPECT_EQ(path + ":2: damaged run record skipped", history.warnings[0]);
    EXPECT_NE(std::string::npos, history.warnings[2].find(":4:"));

    // The last N, oldest first.
    history = ReadRunHistory(path, 1);
    ASSERT_EQ(1u, history.records.size());
    ExpectSame(Sample(3), history.records[0]);
    // A history never written is empty, not an error.
    history = ReadRunHistory(dir / "none.jsonl", 20);
    EXPECT_TRUE(history.ok);
    EXPECT_TRUE(history.records.empty());
}

// A record cut short at the very end of the file (a crash, a full disk) has no line feed:
// the next record still starts on a line of its own and is read back.
TEST(RunHistory, ARecordAfterALineCutShortIsKept) {
    testsupport::TempDir dir;
    std::string path = dir / "history.jsonl";
    std::string cut = RunRecordJson(Sample(1));
    testsupport::WriteFile(path, cut.substr(0, cut.size() / 2));
    std::string reason;
    ASSERT_TRUE(AppendRunRecordTo(path, Sample(2), kRunHistoryLimit, &reason)) << reason;
    RunHistory history = ReadRunHistory(path, 0);
    ASSERT_EQ(1u, history.records.size());
    ExpectSame(Sample(2), history.records[0]);
    EXPECT_EQ(1u, history.warnings.size());
}

// Appends kRecords records from each of kProcesses processes at once, with a limit.
void AppendFromProcesses(const std::string& path, int processes, int records, size_t limit,
                         const std::string& arguments) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string reason;
            for (int r = 0; r < records; ++r)
                if (!AppendRunRecordTo(path, Sample(p * 1000 + r, arguments), limit, &reason))
                    _exit(1);
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST(RunHistory, ConcurrentAppendsGiveOneWholeRecordEach) {
    // Records longer than a pipe's atomic write, from several processes at once: first
    // with room for all, then with trims of the file going on between the appends.
    const int kProcesses = 6, kRecords = 150;
    const std::string longArguments(9000, 'a');
    for (size_t limit : {size_t(100000), size_t(400)}) {
        testsupport::TempDir dir;
        std::string path = dir / "history.jsonl";
        AppendFromProcesses(path, kProcesses, kRecords, limit, longArguments);
        RunHistory history = ReadRunHistory(path, 0);
        ASSERT_TRUE(history.ok);
        EXPECT_TRUE(history.warnings.empty()) << history.warnings[0];
        size_t total = static_cast<size_t>(kProcesses * kRecords);
        if (limit > total)
            ASSERT_EQ(total, history.records.size());
        else
            ASSERT_LE(history.records.size(), limit);
        // What is kept of each process: whole records, in its own order, without gaps.
        std::vector<int> next(kProcesses, -1);
        for (const RunRecord& record : history.records) {
            int number = std::stoi(record.arguments.substr(record.arguments.find('#') + 1));
            int process = number / 1000;
            if (next[process] >= 0 || limit > total) {
                ASSERT_EQ(std::max(next[process], 0), number % 1000) << "limit " << limit;
            }
            next[process] = number % 1000 + 1;
            ExpectSame(Sample(number, longArguments), record);
        }
        for (int p = 0; p < kProcesses; ++p) {
            if (next[p] >= 0) {
                EXPECT_EQ(kRecords, next[p]) << "the newest of process " << p;
            }
        }
    }
}

TEST(RunHistory, OldestRecordsAreDroppedPastTheLimit) {
    testsupport::TempDir dir;
    std::string path = dir / "history.jsonl";
    std::string reason;
    const size_t kLimit = 40;
    for (int i = 0; i < 130; ++i) {
        ASSERT_TRUE(AppendRunRecordTo(path, Sample(i), kLimit, &reason)) << reason;
        RunHistory history = ReadRunHistory(path, 0);
        ASSERT_LE(history.records.size(), kLimit) << "after record " << i;
        // The newest are kept, in order, without gaps.
        ASSERT_EQ(i, std::stoi(history.records.back().arguments.substr(7)));
        int first = std::stoi(history.records.front().arguments.substr(7));
        ASSERT_EQ(static_cast<size_t>(i - first + 1), history.records.size());
    }
    EXPECT_TRUE(ReadRunHistory(path, 0).warnings.empty());
}

TEST(RunHistory, TimesAreIsoTextsInLocalTimeWithTheirOffset) {
    const char* saved = getenv("TZ");
    std::string savedZone = saved != nullptr ? saved : "";
    struct Case {
        const char* zone;
        time_t when;
        const char* text;
    } cases[] = {
        {"UTC", 1780000000, "2026-05-28T20:26:40+00:00"},
        {"Asia/Tokyo", 1780000000, "2026-05-29T05:26:40+09:00"},
        {"America/St_Johns", 1780000000, "2026-05-28T17:56:40-02:30"},
    };
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(c.text, IsoTimeText(c.when)) << c.zone;
        time_t back = 0;
        ASSERT_TRUE(ParseIsoTime(c.text, &back));
        EXPECT_EQ(c.when, back);
    }
    time_t back = 0;
    EXPECT_TRUE(ParseIsoTime("2026-05-28T20:26:40Z", &back));
    EXPECT_EQ(1780000000, back);
    for (const char* bad : {"", "2026-05-28 20:26:40+00:00", "2026-05-28T20:26:40", "yesterday",
                            "2026-05-28T20:26:40+0000"})
        EXPECT_FALSE(ParseIsoTime(bad, &back)) << bad;
    if (saved != nullptr)
        setenv("TZ", savedZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(RunHistory, FileIsUnderTheStateFolder) {
    std::string home = getenv("HOME") != nullptr ? getenv("HOME") : "/root";
    setenv("HOME", "/home/λ", 1);
    setenv("XDG_STATE_HOME", "/var/state/", 1);
    EXPECT_EQ("/var/state/zymb/history.jsonl", RunHistoryPath());
    // A relative XDG folder is ignored, as the XDG rules say.
    setenv("XDG_STATE_HOME", "state", 1);
    EXPECT_EQ("/home/λ/.local/state/zymb/history.jsonl", RunHistoryPath());
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ("/home/λ/.local/state/zymb/history.jsonl", RunHistoryPath());
    unsetenv("HOME");
    EXPECT_EQ("", RunHistoryPath());
    std::string reason;
    EXPECT_FALSE(AppendRunRecord(Sample(1), &reason));
    EXPECT_NE(std::string::npos, reason.find("XDG_STATE_HOME")) << reason;
    setenv("HOME", home.c_str(), 1);
}

}  // namespace
