// End-to-end cases of the download program against the development server. Each file in
// cases/ names the server's options, the command line and what must come of it:
//
//   server: <development server options>   (added to --data, --users, --port, --quiet)
//   args:   <program arguments>            (split at blanks; '...' keeps blanks)
//   setup:  mkdir <path> | write <path> <text>   (in the working folder, before the run)
//   env:    NAME=value             set in the program's environment (NAME= sets it empty)
//   status: <exit status>
//   log:    <text>        must appear in standard error, in this order
//   nolog:  <text>        must not appear in standard error
//   out:    <text>        must appear in standard output
//   file:   <path> = <sample path>   the file exists and equals the sample file
//   file:   <path> == <text>         the file exists and holds exactly the text
//   nofile: <path>        no such file (also checks that no partial file is left)
//   temporaries: <n>      files named ZYM* left in the temporary folder
//
// {PORT}, {SAMPLES}, {WORK} and {LOGON} (the server string of the sample user) are
// replaced in every value.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;

namespace {

std::string Replace(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) {
        for (size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    }
    return text;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : text) {
        if (c == '\'') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

struct Samples {
    testsupport::TempDir folder;
    Samples() {
        std::string source = std::string(ZYMB_SOURCE) + "/samples/make-samples.py";
        auto result =
            testsupport::RunProgram("/usr/bin/python3", {.arguments = {source, folder.Path()}});
        if (result.exitStatus != 0) ADD_FAILURE() << "sample data: " << result.err;
    }
};

Samples& SampleData() {
    static Samples* samples = new Samples;
    return *samples;
}

class DownloadCase : public ::testing::TestWithParam<std::string> {};

TEST_P(DownloadCase, Run) {
    const std::string casePath =
        std::string(ZYMB_SOURCE) + "/download/cases/" + GetParam() + ".case";
    std::ifstream file(casePath);
    ASSERT_TRUE(file) << casePath;
    const std::string samples = SampleData().folder.Path();
    testsupport::TempDir work;
    fs::create_directory(work / "tmp");
    int port = testsupport::FreeLoopbackPort();
    std::map<std::string, std::string> values = {
        {"{PORT}", std::to_string(port)},
        {"{SAMPLES}", samples},
        {"{WORK}", work.Path()},
        {"{LOGON}", "batch:" + samples + "/pw/batch@127.0.0.1:" + std::to_string(port)},
    };

    std::vector<std::string> serverArguments = {
        "--data", samples + "/data",    "--users", samples + "/users",
        "--port", std::to_string(port), "--quiet"};
    std::vector<std::string> arguments;
    std::map<std::string, std::optional<std::string>> environment = {
        {"TMPDIR", work / "tmp"},
        {"ZYMBPWPATH", std::nullopt},
        {"ZYMBSERVERPROXY", std::nullopt},
        {"ZYMBKEEPTEMP", std::nullopt},
        {"REQUEST_URI", std::nullopt}};
    std::vector<std::pair<std::string, std::string>> checks;
    bool startServer = true;
    int status = -1;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t colon = line.find(": ");
        ASSERT_NE(colon, std::string::npos) << line;
        std::string key = line.substr(0, colon), value = Replace(line.substr(colon + 2), values);
        if (key == "server") {
            if (value == "none") startServer = false;
            for (const std::string& word : SplitWords(value))
                if (value != "none") serverArguments.push_back(word);
        } else if (key == "args") {
            arguments = SplitWords(value);
        } else if (key == "setup") {
            auto words = SplitWords(value);
            ASSERT_GE(words.size(), 2u) << line;
            if (words[0] == "mkdir")
                fs::create_directories(work / words[1]);
            else if (words[0] == "write")
                testsupport::WriteFile(work / words[1], words.size() > 2 ? words[2] : "");
            else
                FAIL() << "unknown setup " << line;
        } else if (key == "env") {
            size_t equals = value.find('=');
            ASSERT_NE(equals, std::string::npos) << line;
            environment[value.substr(0, equals)] = value.substr(equals + 1);
        } else if (key == "status") {
            status = std::stoi(value);
        } else {
            checks.emplace_back(key, value);
        }
    }

    testsupport::BackgroundProcess server;
    if (startServer) {
        ASSERT_TRUE(server.Start(DEVSERVER_PROGRAM, serverArguments, {}, work / "server.log"));
        ASSERT_TRUE(testsupport::WaitForPort(port)) << ReadFile(work / "server.log");
    }
    auto result = testsupport::RunProgram(DOWNLOAD_PROGRAM, {.arguments = arguments,
                                                             .environment = environment,
                                                             .workingDirectory = work.Path(),
                                                             .timeoutSeconds = 60});
    server.Stop();
    SCOPED_TRACE("standard error:\n" + result.err);
    EXPECT_EQ(result.exitStatus, status);
    size_t logAt = 0;
    for (const auto& [key, value] : checks) {
        if (key == "log") {
            size_t found = result.err.find(value, logAt);
            EXPECT_NE(found, std::string::npos) << "missing log text (in order): " << value;
            if (found != std::string::npos) logAt = found + value.size();
        } else if (key == "nolog") {
            EXPECT_EQ(result.err.find(value), std::string::npos)
                << "unexpected log text: " << value;
        } else if (key == "out") {
            EXPECT_NE(result.out.find(value), std::string::npos)
                << "missing output: " << value << "\n"
                << result.out;
        } else if (key == "file") {
            size_t equals = value.find(" == ");
            bool literal = equals != std::string::npos;
            if (!literal) equals = value.find(" = ");
            ASSERT_NE(equals, std::string::npos) << value;
            std::string path = value.substr(0, equals);
            std::string expected = literal ? value.substr(equals + 4)
                                           : ReadFile(samples + "/" + value.substr(equals + 3));
            ASSERT_TRUE(fs::exists(work / path)) << path;
            EXPECT_TRUE(ReadFile(work / path) == expected) << path << " differs";
        } else if (key == "nofile") {
            EXPECT_FALSE(fs::exists(work / value)) << value;
            for (const auto& entry : fs::recursive_directory_iterator(work.Path()))
                EXPECT_EQ(entry.path().filename().string().rfind(".ZYMpart", 0), std::string::npos)
                    << "partial file left: " << entry.path();
        } else if (key == "temporaries") {
            size_t count = 0;
            for (const auto& entry : fs::directory_iterator(work / "tmp"))
                if (entry.path().filename().string().rfind("ZYM", 0) == 0) ++count;
            EXPECT_EQ(count, std::stoul(value));
        } else {
            FAIL() << "unknown check " << key;
        }
    }
}

std::vector<std::string> CaseNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(std::string(ZYMB_SOURCE) + "/download/cases"))
        if (entry.path().extension() == ".case") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadCase, ::testing::ValuesIn(CaseNames()),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace

namespace {

// Downloads ledger.txt to output from a server that answers every request from the fifth
// on 300 ms late, and returns once the second section is under way: a run to interrupt or
// kill in the middle.
void StartDownloadInTheMiddle(const std::string& samples, const std::string& output,
                              const std::map<std::string, std::optional<std::string>>& environment,
                              const std::string& log, testsupport::BackgroundProcess* server,
                              testsupport::BackgroundProcess* download) {
    int port = testsupport::FreeLoopbackPort();
    ASSERT_TRUE(server->Start(DEVSERVER_PROGRAM,
                              {"--data", samples + "/data", "--users", samples + "/users", "--port",
                               std::to_string(port), "--quiet", "--fault", "delay=300@5+"}));
    ASSERT_TRUE(testsupport::WaitForPort(port));
    ASSERT_TRUE(
        download->Start(DOWNLOAD_PROGRAM,
                        {"-C", "ACME", "-f", "ledger.txt", "-o", output, "-S",
                         "batch:" + samples + "/pw/batch@127.0.0.1:" + std::to_string(port)},
                        environment, log));
    for (int i = 0; i < 500 && ReadFile(log).find("Downloading section 2 of") == std::string::npos;
         ++i)
        usleep(10000);
    ASSERT_NE(ReadFile(log).find("Downloading section 2 of"), std::string::npos) << ReadFile(log);
}

// An interrupt in the middle of a download ends the run at once with 128 + the signal,
// as the shell reports a killed program, and leaves neither a half-unpacked hidden file
// beside the destination nor the temporary download file.
TEST(DownloadInterrupt, EndsWithTheSignalsStatusAndLeavesNothing) {
    const std::string samples = SampleData().folder.Path();
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signalNumber));
        testsupport::TempDir work;
        fs::create_directory(work / "tmp");
        testsupport::BackgroundProcess server;
        testsupport::BackgroundProcess download;
        const std::string log = work / "download.log";
        ASSERT_NO_FATAL_FAILURE(StartDownloadInTheMiddle(
            samples, work / "ledger.txt",
            {{"TMPDIR", work / "tmp"}, {"ZYMBKEEPTEMP", std::nullopt}}, log, &server, &download));
        auto filesIn = [](const std::string& folder, const std::string& prefix) {
            size_t count = 0;
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
            return count;
        };
        // Neither the file under way nor the copy of the data has a name.
        ASSERT_EQ(filesIn(work.Path(), ".ZYMpart"), 0u);
        ASSERT_EQ(filesIn(work / "tmp", "ZYM"), 0u);
        download.Signal(signalNumber);
        int status = download.Stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signalNumber) << status;
        EXPECT_NE(ReadFile(log).find("Control-C Entered Program Terminating"), std::string::npos);
        EXPECT_EQ(filesIn(work.Path(), ".ZYMpart"), 0u);
        EXPECT_EQ(filesIn(work / "tmp", "ZYM"), 0u);
        EXPECT_FALSE(fs::exists(work / "ledger.txt"));
    }
}

}  // namespace

namespace {

// A literal password given with -S is not left for every local user to read in the
// process's argument list while the run goes on.
TEST(DownloadArguments, LiteralPasswordLeavesTheArgumentList) {
    const std::string samples = SampleData().folder.Path();
    testsupport::TempDir work;
    int port = testsupport::FreeLoopbackPort();
    testsupport::BackgroundProcess server;
    ASSERT_TRUE(server.Start(DEVSERVER_PROGRAM,
                             {"--data", samples + "/data", "--users", samples + "/users", "--port",
                              std::to_string(port), "--quiet", "--fault", "delay=1500@1"}));
    ASSERT_TRUE(testsupport::WaitForPort(port));
    testsupport::BackgroundProcess download;
    const std::string log = work / "download.log";
    ASSERT_TRUE(download.Start(
        DOWNLOAD_PROGRAM,
        {"-C", "ACME", "-f", "x", "-l", "-S", "batch:-corvantix@127.0.0.1:" + std::to_string(port)},
        {}, log));
    for (int i = 0; i < 500 && ReadFile(log).find("Logging on") == std::string::npos; ++i)
        usleep(10000);
    std::string arguments = ReadFile("/proc/" + std::to_string(download.Pid()) + "/cmdline");
    std::replace(arguments.begin(), arguments.end(), '\0', ' ');
    EXPECT_EQ(arguments.find("corvantix"), std::string::npos) << arguments;
    EXPECT_NE(arguments.find(" batch:-xxxxxxxxx@127.0.0.1:"), std::string::npos) << arguments;
    for (int i = 0; i < 500 && ReadFile(log).find("List returned") == std::string::npos; ++i)
        usleep(10000);
    EXPECT_NE(ReadFile(log).find("List returned 7 items"), std::string::npos) << ReadFile(log);
}

}  // namespace

namespace {

// A temporary folder that fills up ends the download as a failure with the reason, and
// the partial copy does not stay to keep the folder full. The folder is a small tmpfs in
// a mount namespace of the run's own, where the machine allows one.
TEST(DownloadFullDisk, FailsAndLeavesTheTemporaryFolderEmpty) {
    const std::string unshare = testsupport::FindProgram("unshare");
    testsupport::TempDir work;
    fs::create_directory(work / "tmp");
    auto probe = testsupport::RunProgram(
        unshare.empty() ? "/usr/bin/unshare" : unshare,
        {.arguments = {"-m", "sh", "-c", "mount -t tmpfs -o size=64k tmpfs " + work / "tmp"}});
    if (unshare.empty() || probe.exitStatus != 0)
        GTEST_SKIP() << "a tmpfs cannot be mounted here (needs unshare -m and mount rights): "
                     << probe.err;
    const std::string samples = SampleData().folder.Path();
    int port = testsupport::FreeLoopbackPort();
    testsupport::BackgroundProcess server;
    ASSERT_TRUE(
        server.Start(DEVSERVER_PROGRAM, {"--data", samples + "/data", "--users", samples + "/users",
                                         "--port", std::to_string(port), "--quiet"}));
    ASSERT_TRUE(testsupport::WaitForPort(port));
    // 128 KiB hold two sections of the 430 KB file; the listing is taken before the
    // namespace, and the tmpfs with it, goes away.
    const std::string script =
        "mount -t tmpfs -o size=128k tmpfs \"$TMPDIR\" || exit 99; \"$0\" \"$@\"; status=$?; "
        "ls -A \"$TMPDIR\" > \"$LISTING\"; exit $status";
    auto result = testsupport::RunProgram(
        unshare,
        {.arguments = {"-m", "sh", "-c", script, DOWNLOAD_PROGRAM, "-C", "ACME", "-f", "ledger.txt",
                       "-S", "batch:" + samples + "/pw/batch@127.0.0.1:" + std::to_string(port)},
         .environment = {{"TMPDIR", work / "tmp"},
                         {"LISTING", work / "listing"},
                         {"ZYMBKEEPTEMP", std::nullopt}},
         .workingDirectory = work.Path()});
    ASSERT_NE(result.exitStatus, 99) << result.err;
    EXPECT_EQ(result.exitStatus, 1) << result.err;
    EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(work / "listing"));
    EXPECT_EQ(ReadFile(work / "listing"), "") << "left in the temporary folder";
    EXPECT_FALSE(fs::exists(work / "ledger.txt"));
}

// A run killed outright, which can clean nothing up, leaves nothing beside the destination
// and no copy of the data in the temporary folder.
TEST(DownloadKill, LeavesNothingBesideTheDestinationNorInTheTemporaryFolder) {
    const std::string samples = SampleData().folder.Path();
    testsupport::TempDir work;
    fs::create_directory(work / "tmp");
    fs::create_directory(work / "out");
    testsupport::BackgroundProcess server;
    testsupport::BackgroundProcess download;
    ASSERT_NO_FATAL_FAILURE(StartDownloadInTheMiddle(samples, work / "out/ledger.txt",
                                                     {{"TMPDIR", work / "tmp"}},
                                                     work / "download.log", &server, &download));
    download.Signal(SIGKILL);
    int status = download.Stop();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_TRUE(fs::is_empty(work / "out"));
    EXPECT_TRUE(fs::is_empty(work / "tmp"));
}

}  // namespace

namespace {

// A stored name that holds terminal controls (an OSC 52 clipboard write, a carriage return,
// a C1 CSI in UTF-8) reaches no log line raw: each control shows as "?", while the file
// keeps the name it was stored under.
TEST(DownloadLog, ControlCharactersOfStoredNamesShowAsQuestionMarks) {
    const std::string samples = SampleData().folder.Path();
    testsupport::TempDir work;
    int port = testsupport::FreeLoopbackPort();
    testsupport::BackgroundProcess server;
    ASSERT_TRUE(
        server.Start(DEVSERVER_PROGRAM, {"--data", samples + "/data", "--users", samples + "/users",
                                         "--port", std::to_string(port), "--quiet"}));
    ASSERT_TRUE(testsupport::WaitForPort(port));
    const std::string logon = "batch:" + samples + "/pw/batch@127.0.0.1:" + std::to_string(port);
    const std::string shown = "?]52;c;ZXZpbA==?clip??2J.txt";
    const std::string stored =
        "\x1b]52;c;ZXZpbA==\x07"
        "clip\r\xc2\x9b"
        "2J.txt";
    auto run = testsupport::RunProgram(DOWNLOAD_PROGRAM,
                                       {.arguments = {"-C", "TERM", "-f", "*clip*", "-S", logon},
                                        .environment = {{"REQUEST_URI", std::nullopt},
                                                        {"ZYMBSTDERRDIR", std::nullopt},
                                                        {"ZYMBSERVERPROXY", std::nullopt}},
                                        .workingDirectory = work.Path()});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.err.find("Downloading file " + shown + "\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Saved " + work.Path() + "/" + shown +
                           " (5 bytes, size and CRC "
                           "checked)\n"),
              std::string::npos)
        << run.err;
    for (const char control : {'\x1b', '\x07', '\r', '\x7f'})
        EXPECT_EQ(run.err.find(control), std::string::npos) << static_cast<int>(control);
    EXPECT_EQ(run.err.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(ReadFile(work / stored), "clip\n");
}

}  // namespace
