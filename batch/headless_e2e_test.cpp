// End-to-end cases of ZYMBBatch --run. Each file in cases/ holds a batch definition and
// what must come of running it:
//
//   batch:  <a line of the .cvbatch file>          (several lines make the file)
//   vars:   <a line of the variable file>          (ZYMBVARFILE names it when present)
//   write:  <path> <text>                          (a file in the work folder; \n, \r)
//   script: <path> <text>                          (the same, made executable)
//   env:    NAME=VALUE                             (in ZYMBBatch's own environment)
//   status: <exit status>
//   out:    <text>   a line of standard output, in this order
//   err:    <text>   must appear in standard error
//   log:    <text>   must appear in the batch log, in this order
//   nolog:  <text>   must not appear in the batch log
//
// {WORK} is replaced by the work folder in every value. Interrupts are tested below.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Replace(std::string text, const std::string& name, const std::string& value) {
    for (size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
    }
    return text;
}

// The one batch log ZYMBBatch left in the folder.
std::string OnlyLog(const std::string& folder) {
    std::string found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename();
        if (name.rfind("BRM", 0) != 0) continue;
        EXPECT_TRUE(found.empty()) << "more than one file: " << found << ", " << name;
        EXPECT_EQ(fs::status(entry.path()).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        found = entry.path();
    }
    return found;
}

// No run of these tests lands in the user's own run history.
class PrivateRunHistory : public ::testing::Environment {
  public:
    void SetUp() override { setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1); }

  private:
    TempDir folder_;
};
const auto* const privateRunHistory = ::testing::AddGlobalTestEnvironment(new PrivateRunHistory);

class BatchCase : public ::testing::TestWithParam<std::string> {};

TEST_P(BatchCase, Runs) {
    std::ifstream file(std::string(ZYMB_SOURCE) + "/batch/cases/" + GetParam() + ".case");
    ASSERT_TRUE(file);
    TempDir work;
    fs::create_directory(work / "tmp");
    std::string batch, variables;
    std::vector<std::pair<std::string, std::string>> checks;
    testsupport::ChildOptions options;
    options.environment["TMPDIR"] = work / "tmp";
    options.environment["ZYMBVARFILE"] = std::nullopt;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t colon = line.find(':');
        ASSERT_NE(colon, std::string::npos) << line;
        std::string key = line.substr(0, colon);
        std::string value =
            Replace(line.substr(std::min(colon + 2, line.size())), "{WORK}", work.Path());
        if (key == "batch") {
            batch += value + "\n";
        } else if (key == "vars") {
            variables += value + "\n";
        } else if (key == "write" || key == "script") {
            size_t blank = value.find(' ');
            fs::path path = work / value.substr(0, blank);
            fs::create_directories(path.parent_path());
            WriteFile(path, Replace(Replace(value.substr(blank + 1), "\\n", "\n"), "\\r", "\r"));
            if (key == "script") fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
        } else if (key == "env") {
            size_t equals = value.find('=');
            options.environment[value.substr(0, equals)] = value.substr(equals + 1);
        } else {
            checks.emplace_back(key, value);
        }
    }
    WriteFile(work / "run.cvbatch", batch);
    if (!variables.empty()) {
        WriteFile(work / "vars.cfg", variables);
        options.environment["ZYMBVARFILE"] = work / "vars.cfg";
    }
    options.arguments = {"--run", work / "run.cvbatch"};
    options.workingDirectory = work.Path();
    testsupport::ChildResult result = testsupport::RunProgram(BATCH_PROGRAM, options);
    std::string log = ReadFile(OnlyLog(work / "tmp"));
    std::vector<std::string> outLines = testsupport::Lines(result.out);
    size_t outAt = 0, logAt = 0;
    for (const auto& [key, value] : checks) {
        if (key == "status") {
            EXPECT_EQ(result.exitStatus, std::stoi(value)) << result.err;
        } else if (key == "out") {
            while (outAt < outLines.size() && outLines[outAt] != value) ++outAt;
            EXPECT_LT(outAt, outLines.size()) << "no line \"" << value << "\" in order in:\n"
                                              << result.out;
            ++outAt;
        } else if (key == "err") {
            EXPECT_NE(result.err.find(value), std::string::npos) << value << " in:\n" << result.err;
        } else if (key == "log") {
            size_t found = log.find(value, logAt);
            EXPECT_NE(found, std::string::npos) << "\"" << value << "\" in order in:\n" << log;
            if (found != std::string::npos) logAt = found + value.size();
        } else if (key == "nolog") {
            EXPECT_EQ(log.find(value), std::string::npos) << value << " in:\n" << log;
        } else {
            FAIL() << "unknown check " << key;
        }
    }
    // The log's path is told at the end.
    EXPECT_NE(result.err.find("batch log " + OnlyLog(work / "tmp")), std::string::npos)
        << result.err;
}

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(std::string(ZYMB_SOURCE) + "/batch/cases")) {
        if (entry.path().extension() == ".case") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, BatchCase, ::testing::ValuesIn(CaseNames()), [](const auto& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
});

TEST(BatchInterrupt, SigintAndSigtermCancelTheChildGroupWith100) {
    for (int signalNumber : {SIGINT, SIGTERM}) {
        TempDir work;
        WriteFile(work / "run.cvbatch",
                  "options = { program = \"sh\"; arguments = \"-c 'echo $$ > " + (work / "pid") +
                      "; sleep 100 & sleep 100 & wait'\"; };\n");
        testsupport::BackgroundProcess batch;
        ASSERT_TRUE(batch.Start(BATCH_PROGRAM, {"--run", work / "run.cvbatch"},
                                {{"TMPDIR", work.Path()}}, work / "output"));
        std::string pid;
        for (int i = 0; i < 1000 && pid.empty(); ++i) {
            pid = ReadFile(work / "pid");
            if (pid.empty() || pid.back() != '\n') pid.clear();
            usleep(10000);
        }
        ASSERT_FALSE(pid.empty());
        batch.Signal(signalNumber);
        // It must end on its own; Stop would send a SIGTERM of its own after waiting.
        siginfo_t info = {};
        for (int i = 0; i < 1000; ++i) {
            info.si_pid = 0;
            if (waitid(P_PID, batch.Pid(), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid != 0)
                break;
            usleep(10000);
        }
        EXPECT_NE(info.si_pid, 0) << "still running after the signal";
        int status = batch.Stop();
        ASSERT_TRUE(WIFEXITED(status)) << ReadFile(work / "output");
        EXPECT_EQ(WEXITSTATUS(status), 100);
        pid_t group = std::stoi(pid);
        bool gone = false;
        for (int i = 0; i < 200 && !gone; ++i) {
            gone = kill(-group, 0) != 0 && errno == ESRCH;
            usleep(10000);
        }
        EXPECT_TRUE(gone) << "a process of the child's group survived";
    }
}

// Waits up to milliseconds for the process to end on its own (it is not reaped).
bool EndsWithin(pid_t pid, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        siginfo_t info = {};
        if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
            return true;
        usleep(10000);
    }
    return false;
}

// The first line a child wrote into path, once it is there.
std::string WaitForLine(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        std::string text = ReadFile(path);
        if (!text.empty() && text.back() == '\n') return text.substr(0, text.size() - 1);
        usleep(10000);
    }
    return "";
}

// Whether the process has ended within three seconds. A process whose parent died is
// left to the machine's first process to reap, which may be slow about it: ended and not
// yet reaped (a zombie) counts as gone.
bool ProcessIsGone(pid_t pid) {
    for (int i = 0; i < 300; ++i) {
        if (kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z')
            return true;
        usleep(10000);
    }
    return false;
}

TEST(BatchInterrupt, SignalsEndTheRunBeforeTheChildStartsWith128PlusN) {
    // A FIFO that nobody writes, as the definition or as the standard-input file: the
    // reading blocks, and a signal must still end the run at once.
    struct Case {
        bool definitionIsFifo;
        int signalNumber;
    } cases[] = {{true, SIGINT}, {false, SIGTERM}, {true, SIGHUP}};
    for (const Case& c : cases) {
        TempDir work;
        ASSERT_EQ(mkfifo((work / "fifo").c_str(), 0600), 0);
        std::string definition = work / "fifo";
        if (!c.definitionIsFifo) {
            definition = work / "run.cvbatch";
            WriteFile(definition,
                      "options = { program = \"cat\"; stdin = \"" + (work / "fifo") + "\"; };\n");
        }
        testsupport::BackgroundProcess batch;
        ASSERT_TRUE(batch.Start(BATCH_PROGRAM, {"--run", definition}, {{"TMPDIR", work.Path()}},
                                work / "output"));
        usleep(300000);  // blocked on the FIFO by now
        batch.Signal(c.signalNumber);
        EXPECT_TRUE(EndsWithin(batch.Pid(), 5000))
            << "still running after signal " << c.signalNumber;
        int status = batch.Stop();
        ASSERT_TRUE(WIFEXITED(status)) << ReadFile(work / "output");
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.signalNumber);
        EXPECT_NE(ReadFile(work / "output").find("before the program was started"),
                  std::string::npos)
            << ReadFile(work / "output");
    }
}

TEST(BatchInterrupt, ACancelEndsTheWaitForAGrandchildThatKeepsWriting) {
    // After the child exits, a grandchild that keeps writing keeps the pipes busy; one in
    // a session of its own cannot even be killed with the child's group.
    for (const char* start : {"", "setsid "}) {
        TempDir work;
        WriteFile(work / "run.cvbatch",
                  std::string("options = { program = \"sh\"; arguments = \"-c '") + start +
                      "sh -c \\\"while :; do echo tick; sleep 0.05; done\\\" & echo $! > " +
                      (work / "pid") + "; exit 0'\"; };\n");
        testsupport::BackgroundProcess batch;
        ASSERT_TRUE(batch.Start(BATCH_PROGRAM, {"--run", work / "run.cvbatch"},
                                {{"TMPDIR", work.Path()}}, work / "output"));
        std::string pid = WaitForLine(work / "pid");
        ASSERT_FALSE(pid.empty()) << ReadFile(work / "output");
        EXPECT_FALSE(EndsWithin(batch.Pid(), 1500));  // the grandchild is still writing
        batch.Signal(SIGTERM);
        EXPECT_TRUE(EndsWithin(batch.Pid(), 3000)) << start << "still waiting after SIGTERM";
        int status = batch.Stop();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 100) << start;
        EXPECT_NE(ReadFile(work / "output").find("Program Cancelled: Return Code was 100"),
                  std::string::npos)
            << ReadFile(work / "output");
        // With its pipes closed the grandchild ends at its next write.
        EXPECT_TRUE(ProcessIsGone(std::stoi(pid))) << start;
    }
}

TEST(BatchInterrupt, AKilledZymbBatchTakesTheChildsWholeGroupAlong) {
    TempDir work;
    WriteFile(work / "run.cvbatch",
              "options = { program = \"sh\"; arguments = \"-c 'sleep 100 & echo $$ $! > " +
                  (work / "pids") + "; wait'\"; };\n");
    testsupport::BackgroundProcess batch;
    ASSERT_TRUE(batch.Start(BATCH_PROGRAM, {"--run", work / "run.cvbatch"},
                            {{"TMPDIR", work.Path()}}, work / "output"));
    std::string pids = WaitForLine(work / "pids");
    ASSERT_FALSE(pids.empty());
    batch.Signal(SIGKILL);
    batch.Stop();
    size_t blank = pids.find(' ');
    EXPECT_TRUE(ProcessIsGone(std::stoi(pids.substr(0, blank)))) << "the child outlived ZYMBBatch";
    EXPECT_TRUE(ProcessIsGone(std::stoi(pids.substr(blank + 1))))
        << "the child's own child outlived ZYMBBatch";
}

TEST(BatchOutput, AReaderThatLeavesEarlyCostsTheEchoNotTheRunOrTheLog) {
    TempDir work;
    WriteFile(work / "run.cvbatch",
              "options = { program = \"seq\"; arguments = \"-f line%%g 1 200000\"; };\n");
    testsupport::ChildOptions options;
    options.arguments = {"-c",
                         "\"$0\" --run \"$1\" | head -1; echo \"status ${PIPESTATUS[0]}\" >&2",
                         BATCH_PROGRAM, work / "run.cvbatch"};
    options.environment["TMPDIR"] = work.Path();
    testsupport::ChildResult result = testsupport::RunProgram("/bin/bash", options);
    EXPECT_EQ(result.out, "line1\n");
    EXPECT_NE(result.err.find("status 0"), std::string::npos) << result.err;
    std::string log = ReadFile(OnlyLog(work.Path()));
    EXPECT_NE(log.find("\nline200000\n"), std::string::npos);
}

TEST(BatchOutput, ALogThatCannotBeWrittenIsReported) {
    TempDir work;
    WriteFile(work / "run.cvbatch",
              "options = { program = \"seq\"; arguments = \"1 100000\"; };\n");
    testsupport::ChildOptions options;
    // The file size limit stands in for a full disk: the log's writes fail with EFBIG.
    options.arguments = {"-c", "ulimit -f 64; exec \"$0\" --run \"$1\"", BATCH_PROGRAM,
                         work / "run.cvbatch"};
    options.environment["TMPDIR"] = work.Path();
    testsupport::ChildResult result = testsupport::RunProgram("/bin/bash", options);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.err.find("the batch log could not be written: File too large"),
              std::string::npos)
        << result.err;
}

TEST(BatchDefinitionFile, ADefinitionOverOneMebibyteIsRefusedUnread) {
    TempDir work;
    WriteFile(work / "big.cvbatch",
              "options = { program = \"true\"; };\n# " + std::string(2 << 20, 'x') + "\n");
    testsupport::ChildOptions options;
    options.arguments = {"--run", work / "big.cvbatch"};
    options.environment["TMPDIR"] = work.Path();
    testsupport::ChildResult result = testsupport::RunProgram(BATCH_PROGRAM, options);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("The batch file is larger than 1 MiB"), std::string::npos)
        << result.err;
}

TEST(BatchSample, TheSampleDefinitionRunsAsTheReadmeShows) {
    TempDir work;
    testsupport::ChildOptions options;
    options.arguments = {"--run", "samples/batch/sort-names.cvbatch"};
    options.workingDirectory = ZYMB_SOURCE;
    options.environment["ZYMBVARFILE"] = "samples/batch/variables.cfg";
    options.environment["TMPDIR"] = work.Path();
    options.environment["HOME"] = work.Path();
    testsupport::ChildResult result = testsupport::RunProgram(BATCH_PROGRAM, options);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    std::vector<std::string> lines = testsupport::Lines(result.out);
    ASSERT_EQ(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[0].rfind("Names of ACME on 2", 0), 0u) << lines[0];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
              (std::vector<std::string>{"Ada", "Bo", "Jonas", "Mira"}));
    EXPECT_NE(result.err.find("sorted in " + work.Path()), std::string::npos) << result.err;
}

TEST(BatchHistory, EveryRunIsKeptWithItsStatusForPeopleAndScripts) {
    TempDir work;
    WriteFile(work / "good.cvbatch", "options = { program = \"true\"; };\n");
    WriteFile(work / "bad.cvbatch",
              "options = { program = \"sh\"; arguments = \"-c 'echo x; exit 3'\"; };\n");
    testsupport::ChildOptions options;
    options.environment["TMPDIR"] = work.Path();
    options.environment["XDG_STATE_HOME"] = work / "state";
    options.workingDirectory = work.Path();
    for (auto [file, status] : {std::pair{"good.cvbatch", 0}, std::pair{"bad.cvbatch", 3}}) {
        options.arguments = {"--run", file};
        EXPECT_EQ(testsupport::RunProgram(BATCH_PROGRAM, options).exitStatus, status) << file;
    }

    options.arguments = {"--history"};
    testsupport::ChildResult table = testsupport::RunProgram(BATCH_PROGRAM, options);
    EXPECT_EQ(table.exitStatus, 0) << table.err;
    size_t good = table.out.find(work / "good.cvbatch");
    size_t bad = table.out.find(work / "bad.cvbatch");
    ASSERT_NE(good, std::string::npos) << table.out;
    ASSERT_NE(bad, std::string::npos) << table.out;
    EXPECT_LT(good, bad) << "oldest first";

    options.arguments = {"--history", "--json"};
    testsupport::ChildResult json = testsupport::RunProgram(BATCH_PROGRAM, options);
    EXPECT_EQ(json.exitStatus, 0) << json.err;
    std::vector<std::string> records = testsupport::Lines(json.out);
    ASSERT_EQ(records.size(), 2u) << json.out;
    EXPECT_NE(records[0].find("\"status\":0"), std::string::npos) << records[0];
    EXPECT_NE(records[1].find("\"status\":3"), std::string::npos) << records[1];
    EXPECT_NE(records[1].find("\"stdout_lines\":1"), std::string::npos) << records[1];
    EXPECT_NE(records[1].find("\"log\":\"" + work.Path() + "/BRM"), std::string::npos)
        << records[1];
}

// A closed standard stream never lets the log (or anything else) take its number: the
// echo would land in the log, past its limit.
TEST(BatchOutput, ClosedStandardStreamsAreNotTakenByTheLog) {
    TempDir work;
    WriteFile(work / "say.cvbatch",
              "options = { program = \"sh\"; arguments = \"-c 'echo to-stdout; echo to-stderr "
              ">&2'\"; };\n");
    std::string command = std::string("cd '") + work.Path() + "' && TMPDIR='" + work.Path() +
                          "' '" + BATCH_PROGRAM + "' --run say.cvbatch >&- 2>&-";
    ASSERT_EQ(system(command.c_str()), 0);
    std::string log = ReadFile(OnlyLog(work.Path()));
    std::vector<std::string> lines = testsupport::Lines(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "to-stdout"), 1) << log;  // no echo
    EXPECT_EQ(log.find("ZYMBBatch:"), std::string::npos) << log;
}

// Without a display the window says so in a sentence and points to --run, instead of the
// toolkit's abort.
TEST(BatchWindowStart, NoDisplayIsASentenceNotACrash) {
    TempDir work;
    testsupport::ChildOptions options;
    options.environment = {{"DISPLAY", std::nullopt},
                           {"WAYLAND_DISPLAY", std::nullopt},
                           {"TMPDIR", work.Path()},
                           {"XDG_CONFIG_HOME", work / "config"}};
    testsupport::ChildResult result = testsupport::RunProgram(BATCH_PROGRAM, options);
    EXPECT_EQ(result.exitStatus, 1) << result.err;
    EXPECT_NE(result.err.find("DISPLAY is not set; ZYMBBatch --run FILE.cvbatch"),
              std::string::npos)
        << result.err;
}

}  // namespace
