// ZYMBBatch's command line: --history as a table and as JSON lines, options it does not
// know, and a start without the window installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "batch/run_history.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ChildOptions;
using testsupport::ChildResult;
using testsupport::TempDir;

namespace {

ChildResult Batch(const std::vector<std::string>& arguments, const TempDir& home,
                  const std::string& program = BATCH_PROGRAM) {
    ChildOptions options;
    options.arguments = arguments;
    options.environment["XDG_STATE_HOME"] = home / "state";
    options.environment["XDG_CONFIG_HOME"] = home / "config";
    options.environment["HOME"] = home.Path();
    options.environment["TZ"] = "UTC";
    options.environment["DISPLAY"] = std::nullopt;
    options.workingDirectory = home.Path();
    return testsupport::RunProgram(program, options);
}

RunRecord Record(const std::string& definition, int status, bool cancelled, time_t start,
                 time_t seconds) {
    RunRecord record;
    record.definitionPath = definition;
    record.program = "/bin/sh";
    record.arguments = "-c 'exit " + std::to_string(status) + "'";
    record.startTime = start;
    record.endTime = start + seconds;
    record.exitStatus = status;
    record.cancelled = cancelled;
    record.stdoutLines = 12;
    record.stderrLines = 1;
    record.logPath = "/tmp/BRMabc.log";
    return record;
}

TEST(CommandLine, HistoryAsTableAndJsonLines) {
    TempDir home;
    ChildResult empty = Batch({"--history"}, home);
    EXPECT_EQ(0, empty.exitStatus);
    EXPECT_NE(std::string::npos, empty.out.find("No runs recorded yet")) << empty.out;

    std::string path = home / "state/zymb/history.jsonl";
    std::string reason;
    ASSERT_TRUE(AppendRunRecordTo(path, Record("/srv/αβγ/nightly.cvbatch", 0, false, 1780000000, 7),
                                  kRunHistoryLimit, &reason));
    ASSERT_TRUE(AppendRunRecordTo(path, Record("/srv/夜間.cvbatch", 3, false, 1780003600, 3725),
                                  kRunHistoryLimit, &reason));
    ASSERT_TRUE(
        AppendRunRecordTo(path, Record("", 100, true, 1780007200, 65), kRunHistoryLimit, &reason));

    ChildResult table = Batch({"--history"}, home);
    ASSERT_EQ(0, table.exitStatus) << table.err;
    std::vector<std::string> lines = testsupport::Lines(table.out);
    ASSERT_EQ(4u, lines.size()) << table.out;
    EXPECT_EQ(0u, lines[0].find("START ")) << lines[0];
    struct Row {
        const char* start;
        const char* duration;
        const char* status;
        const char* definition;
    } rows[] = {{"2026-05-28 20:26:40", "0:07", " 0 ", "/srv/αβγ/nightly.cvbatch"},
                {"2026-05-28 21:26:40", "1:02:05", " 3 ", "/srv/夜間.cvbatch"},
                {"2026-05-28 22:26:40", "1:05", "cancelled", "(not saved)"}};
    for (size_t i = 0; i < 3; ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(0u, line.find(rows[i].start)) << line;
        EXPECT_NE(std::string::npos, line.find(rows[i].duration)) << line;
        EXPECT_NE(std::string::npos, line.find(rows[i].status)) << line;
        EXPECT_NE(std::string::npos, line.find(rows[i].definition)) << line;
    }

    // The last N; as JSON, one parseable record per line with its status.
    ChildResult last = Batch({"--history", "2", "--json"}, home);
    ASSERT_EQ(0, last.exitStatus) << last.err;
    lines = testsupport::Lines(last.out);
    ASSERT_EQ(2u, lines.size()) << last.out;
    RunRecord record;
    ASSERT_TRUE(ParseRunRecord(lines[0], &record)) << lines[0];
    EXPECT_EQ(3, record.exitStatus);
    EXPECT_EQ("/srv/夜間.cvbatch", record.definitionPath);
    EXPECT_NE(std::string::npos, lines[0].find("\"start\":\"2026-05-28T21:26:40+00:00\""));
    ASSERT_TRUE(ParseRunRecord(lines[1], &record));
    EXPECT_TRUE(record.cancelled);
    EXPECT_EQ(100, record.exitStatus);

    // A damaged line is a warning, not a failure.
    std::string text = testsupport::ReadFile(path);
    testsupport::WriteFile(path, "{\"definition\": tru\n" + text);
    ChildResult warned = Batch({"--history", "--json"}, home);
    EXPECT_EQ(0, warned.exitStatus);
    EXPECT_EQ(3u, testsupport::Lines(warned.out).size());
    EXPECT_NE(std::string::npos, warned.err.find(path + ":1: damaged run record skipped"))
        << warned.err;
}

TEST(CommandLine, UnusableCommandLinesEndWithStatus2AndOneLine) {
    TempDir home;
    struct Case {
        std::vector<std::string> arguments;
        const char* said;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x", "a.cvbatch"}, "unknown option '-x'"},
        {{"--run"}, "--run needs a FILE.cvbatch"},
        {{"--run", "a.cvbatch", "b.cvbatch"}, "only one definition"},
        {{"--history", "0"}, "--history takes a number"},
        {{"--history=many"}, "--history takes a number"},
        {{"--json"}, "--json goes with --history"},
        {{"--schedule", "a.cvbatch"}, "--schedule needs --on-calendar"},
        {{"--on-calendar", "daily"}, "--on-calendar goes with --schedule"},
        {{"--run", "a.cvbatch", "--history"}, "cannot be given together"},
        {{"--schedules", "a.cvbatch"}, "unexpected argument 'a.cvbatch'"},
    };
    for (const Case& c : cases) {
        ChildResult result = Batch(c.arguments, home);
        EXPECT_EQ(2, result.exitStatus) << c.arguments[0];
        EXPECT_EQ("", result.out);
        EXPECT_NE(std::string::npos, result.err.find(c.said)) << result.err;
        EXPECT_NE(std::string::npos, result.err.find("see ZYMBBatch --help")) << result.err;
        EXPECT_EQ(1, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
    }
}

TEST(CommandLine, WithoutTheWindowModuleNamesItsPackage) {
    // The program alone, as the package without the window installs it.
    TempDir home;
    fs::create_directories(home / "bin");
    fs::copy_file(BATCH_PROGRAM, home / "bin/ZYMBBatch");
    ChildResult result = Batch({}, home, home / "bin/ZYMBBatch");
    EXPECT_EQ(2, result.exitStatus);
    EXPECT_NE(std::string::npos, result.err.find("apt install zymb-batch-window")) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("ZYMBBatch --run FILE.cvbatch")) << result.err;
    // --help still answers, and runs need no window.
    EXPECT_EQ(0, Batch({"--help"}, home, home / "bin/ZYMBBatch").exitStatus);
}

}  // namespace
