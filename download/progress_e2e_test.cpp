// The progress line of a download: on a terminal one line updated in place, with no line
// per section; on a standard error that is no terminal, and in the redirect file, every
// "Downloading section" line as before.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devserver/test_server.h"
#include "tests/support/test_support.h"

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;

// Variables of the machine that would change where the log goes.
const char* const kCleared[] = {"REQUEST_URI",       "ZYMBSTDERRDIR",       "ZYMBSTDERRTERMINAL",
                                "ZYMBSTDERRNOCOLOR", "ZYMBPROGRESSDISABLE", "ZYMBSLACKURL",
                                "ZYMBSERVERPROXY",   "ZYMBRETRY",           "ZYMBKERBEROS"};

struct TerminalResult {
    int exitStatus = -1;
    std::string screen;  // every byte the terminal received
};

// Runs the program with its standard streams on a new 120-column pseudo-terminal.
TerminalResult RunOnTerminal(const std::vector<std::string>& arguments,
                             const Environment& environment, const std::string& folder) {
    std::vector<std::string> words = {DOWNLOAD_PROGRAM};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 120;
    int master = -1;
    fflush(nullptr);
    pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        for (const char* name : kCleared) unsetenv(name);
        for (const auto& [name, value] : environment) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (chdir(folder.c_str()) != 0) _exit(126);
        execv(DOWNLOAD_PROGRAM, argv.data());
        _exit(127);
    }
    TerminalResult result;
    if (pid < 0) return result;
    testsupport::ReadTerminal(master, &result.screen, "", 60000);
    close(master);
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Progress drawings: a carriage return that starts a line of its own, not the one the
// terminal puts before every line feed.
std::vector<std::string> ProgressDrawings(const std::string& screen) {
    std::vector<std::string> drawings;
    for (size_t at = screen.find('\r'); at != std::string::npos; at = screen.find('\r', at + 1)) {
        if (at + 1 >= screen.size() || screen[at + 1] == '\n' || screen[at + 1] == '\x1b') continue;
        size_t end = screen.find_first_of("\r\x1b", at + 1);
        drawings.push_back(screen.substr(at + 1, end == std::string::npos ? end : end - at - 1));
    }
    return drawings;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class Progress : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_ != nullptr && server_->Running()) << "development server did not start";
        logon_ = "batch:-secret@127.0.0.1:" + server_->Port();
    }
    static void SetUpTestSuite() { server_ = new DevServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    std::vector<std::string> Download(const std::string& output) const {
        return {"-C", "ACME", "-f", "big.bin", "-o", output, "-S", logon_};
    }

    static DevServer* server_;
    std::string logon_;
    testsupport::TempDir work_;
};
DevServer* Progress::server_ = nullptr;

// big.bin is two full sections and the empty one that ends it.
const char* const kSectionLines[] = {"Downloading section 1 of 3", "Downloading section 2 of 3",
                                     "Downloading section 3 of 3"};

TEST_F(Progress, TerminalShowsOneLineUpdatedInPlace) {
    TerminalResult run = RunOnTerminal(Download("out.bin"), {}, work_.Path());
    ASSERT_EQ(run.exitStatus, 0) << run.screen;
    EXPECT_EQ(run.screen.find("Downloading section"), std::string::npos) << run.screen;
    EXPECT_NE(run.screen.find("Downloading file big.bin"), std::string::npos) << run.screen;
    std::vector<std::string> drawings = ProgressDrawings(run.screen);
    ASSERT_GE(drawings.size(), 2u) << run.screen;
    EXPECT_EQ(drawings.front().rfind("0 B of 127.0 KiB (  0%)", 0), 0u) << drawings.front();
    EXPECT_EQ(drawings.back().rfind("127.0 KiB of 127.0 KiB (100%)", 0), 0u) << drawings.back();
    EXPECT_NE(drawings.back().find("big.bin"), std::string::npos) << drawings.back();
    // Cleared at the end: the next log line starts on a clean line.
    EXPECT_NE(run.screen.find("\r\x1b[K"), std::string::npos) << run.screen;
    EXPECT_EQ(testsupport::ReadFile(work_ / "out.bin"), server_->Data().bigContent);
}

TEST_F(Progress, EveryLineWhereNoTerminalShowsThem) {
    // Standard error to a pipe: every line, no progress drawing.
    testsupport::ChildResult piped = testsupport::RunProgram(
        DOWNLOAD_PROGRAM,
        {.arguments = Download(work_ / "piped.bin"),
         .environment = {{"ZYMBSTDERRDIR", std::nullopt}, {"REQUEST_URI", std::nullopt}}});
    ASSERT_EQ(piped.exitStatus, 0) << piped.err;
    for (const char* line : kSectionLines) EXPECT_EQ(Count(piped.err, line), 1u) << line;
    EXPECT_TRUE(ProgressDrawings(piped.err).empty()) << piped.err;

    // The redirect file keeps every line while the terminal beside it shows the progress.
    testsupport::TempDir logs;
    TerminalResult run =
        RunOnTerminal(Download("redirected.bin"),
                      {{"ZYMBSTDERRDIR", logs.Path()}, {"ZYMBSTDERRTERMINAL", "1"}}, work_.Path());
    ASSERT_EQ(run.exitStatus, 0) << run.screen;
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(logs.Path()))
        log += testsupport::ReadFile(entry.path());
    for (const char* line : kSectionLines) EXPECT_EQ(Count(log, line), 1u) << line << "\n" << log;
    EXPECT_EQ(log.find('\r'), std::string::npos) << "no drawing in the file";
    EXPECT_EQ(run.screen.find("Downloading section"), std::string::npos) << run.screen;
    EXPECT_FALSE(ProgressDrawings(run.screen).empty()) << run.screen;

    // ZYMBPROGRESSDISABLE: the terminal gets every line, as before the progress line.
    TerminalResult plain =
        RunOnTerminal(Download("plain.bin"), {{"ZYMBPROGRESSDISABLE", ""}}, work_.Path());
    ASSERT_EQ(plain.exitStatus, 0) << plain.screen;
    for (const char* line : kSectionLines)
        EXPECT_EQ(Count(plain.screen, line), 1u) << line << "\n" << plain.screen;
    EXPECT_TRUE(ProgressDrawings(plain.screen).empty()) << plain.screen;
}

TEST_F(Progress, ErrorMidDownloadStartsOnAClearedLine) {
    // Logon is request 1, ID-Server 2, the list 3: the second section is request 5.
    DevServer failing({"--fault", "rc=19@5"});
    ASSERT_TRUE(failing.Running());
    std::vector<std::string> arguments = Download("failed.bin");
    arguments.back() = "batch:-secret@127.0.0.1:" + failing.Port();
    TerminalResult run = RunOnTerminal(arguments, {}, work_.Path());
    EXPECT_EQ(run.exitStatus, 1) << run.screen;
    size_t failure = run.screen.find("Failed to get section");
    ASSERT_NE(failure, std::string::npos) << run.screen;
    ASSERT_FALSE(ProgressDrawings(run.screen.substr(0, failure)).empty()) << run.screen;
    // From the last carriage return before the error line to the line itself only control
    // sequences may stand: the progress text was cleared away, not written over.
    size_t lineStart = run.screen.rfind("ZBT", failure);
    size_t lastReturn = run.screen.rfind('\r', lineStart);
    ASSERT_NE(lastReturn, std::string::npos);
    std::string between = run.screen.substr(lastReturn + 1, lineStart - lastReturn - 1);
    std::string visible;
    for (size_t at = 0; at < between.size(); ++at) {
        if (between[at] == '\x1b') {
            at = between.find_first_of("mK", at);
            if (at == std::string::npos) break;
            continue;
        }
        visible += between[at];
    }
    EXPECT_EQ(visible, "") << run.screen;
    EXPECT_EQ(run.screen.find("Downloading section"), std::string::npos) << run.screen;
}

}  // namespace
