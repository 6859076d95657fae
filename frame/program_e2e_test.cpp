// The frame as users meet it: real programs run as children, their banner and completion
// lines, exit status, CRC line, interrupt, crash report and standard-error redirect.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>

#include "tests/support/test_support.h"

using testsupport::ChildOptions;
using testsupport::Lines;
using testsupport::RunProgram;

namespace {

const std::string kTime = "\\d\\d:\\d\\d:\\d\\d";

// Lines written before the line numbered 991, with their line ends, as the log wrote them.
struct LogSummary {
    uint32_t crc = 0;
    uint32_t bytes = 0;
    uint32_t records = 0;
    std::vector<std::string> lines;
};

LogSummary Summarise(const std::string& log, const std::string& prefix) {
    LogSummary summary;
    for (const std::string& line : Lines(log)) {
        if (line.rfind(prefix + "991N-", 0) == 0) break;
        std::string written = line + "\n";
        summary.crc =
            static_cast<uint32_t>(crc32(summary.crc, reinterpret_cast<const Bytef*>(written.data()),
                                        static_cast<uInt>(written.size())));
        summary.bytes += static_cast<uint32_t>(written.size());
        ++summary.records;
        summary.lines.push_back(line);
    }
    return summary;
}

std::string Grouped(uint64_t value) {
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

TEST(ProgramRun, BannerAndCompletionOfTheDownloadProgram) {
    testsupport::TempDir work;
    ChildOptions options;
    options.workingDirectory = work.Path();
    // Without its required options the program still starts and ends through the frame.
    auto result = RunProgram(DOWNLOAD_PROGRAM, options);
    ASSERT_EQ(result.exitStatus, 1) << result.err;
    auto lines = Lines(result.err);
    const std::vector<std::string> expected = {
        "ZBT001N-" + kTime + " ZYMB10DownloadFile .+",
        "ZBT002N-" + kTime + " Compiled [A-Z][a-z][a-z] [ \\d]\\d \\d{4} at " + kTime,
        "ZBT010I-" + kTime + " this program will download a file",
        "ZBT006N-" + kTime + " Running Under Linux \\(.+ .+\\) on platform \\S+",
        "ZBT000N-" + kTime + " Host is Little Endian",
        "ZBT000N-" + kTime + " Host is ASCII",
        "ZBT000N-" + kTime + " Binary is 64 bit",
        "ZBT000N-" + kTime + " Current Working Directory is " + work.Path(),
        "ZBT000N-" + kTime + " Executing Module is " + std::string(DOWNLOAD_PROGRAM),
        "ZBT004N-" + kTime + " Today is [A-Z][a-z]+day, [A-Z][a-z]+ \\d\\d, \\d{4}",
        "ZBT005N-" + kTime + " Running on .+",
        "ZBT006N-" + kTime + " Process ID \\d+",
    };
    ASSERT_GE(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << lines[i];

    const std::vector<std::string> ending = {
        "ZBT900N-" + kTime + " Program Complete",
        "ZBT901N-" + kTime + " Elapsed time 0 minutes and [01] seconds",
        "ZBT000N-" + kTime + " Total Read Operations \\d+ \\([\\d,]+ bytes\\)",
        "ZBT000N-" + kTime + " Total Write Operations \\d+ \\([\\d,]+ bytes\\)",
        "ZBT991N-" + kTime + " CRC values for this session: 0x[0-9a-f]+ \\(0x[0-9a-f]+\\)",
        "ZBT992N-" + kTime + " Number of records written: [\\d,]+",
        "ZBT993N-" + kTime + " Number of bytes written: [\\d,]+",
        "ZBT999N-" + kTime + " Program ended with RC=1 \\(Failure\\)",
    };
    ASSERT_GE(lines.size(), ending.size());
    for (size_t i = 0; i < ending.size(); ++i) {
        const std::string& line = lines[lines.size() - ending.size() + i];
        EXPECT_TRUE(std::regex_match(line, std::regex(ending[i]))) << line;
    }
}

TEST(ProgramRun, CrcAndCountsCoverEveryLineBeforeThem) {
    for (int status : {0, 1}) {
        auto result = RunProgram(FRAME_DRIVER, {.arguments = {"complete", std::to_string(status)}});
        ASSERT_EQ(result.exitStatus, status);
        LogSummary summary = Summarise(result.err, "TST");
        uint32_t continued =
            static_cast<uint32_t>(crc32(summary.crc, reinterpret_cast<const Bytef*>("DOF"), 3));
        char crcLine[128];
        snprintf(crcLine, sizeof crcLine, " CRC values for this session: %#lx (%#lx)",
                 static_cast<unsigned long>(summary.crc), static_cast<unsigned long>(continued));
        std::string log = result.err;
        EXPECT_NE(log.find(crcLine), std::string::npos) << log;
        EXPECT_NE(log.find(" Number of records written: " + Grouped(summary.records) + "\n"),
                  std::string::npos);
        EXPECT_NE(log.find(" Number of bytes written: " + Grouped(summary.bytes) + "\n"),
                  std::string::npos);
        EXPECT_NE(log.find(status == 0 ? "Program ended with RC=0 (Success)\n"
                                       : "Program ended with RC=1 (Failure)\n"),
                  std::string::npos);
    }
}

// An interrupt ends the run as the shell reports a killed program: 128 + the signal.
TEST(ProgramRun, InterruptEndsWithTheSignalsStatusAndNoCompletion) {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signalNumber));
        testsupport::TempDir work;
        testsupport::BackgroundProcess driver;
        std::string log = work / "log";
        ASSERT_TRUE(driver.Start(FRAME_DRIVER, {"wait"}, {}, log));
        for (int i = 0; i < 500 && testsupport::ReadFile(log).find("Waiting") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        driver.Signal(signalNumber);
        int status = driver.Stop();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signalNumber);
        std::string written = testsupport::ReadFile(log);
        EXPECT_TRUE(std::regex_search(
            written,
            std::regex("\nTST001I-" + kTime + " Control-C Entered Program Terminating\n$")))
            << written;
        EXPECT_EQ(written.find("Program Complete"), std::string::npos);
    }
}

TEST(ProgramRun, CrashWritesTheReportAndDies) {
    testsupport::TempDir work;
    // The sanitizer runtime must leave the fault to the program's own handler.
    auto result = RunProgram(
        FRAME_DRIVER, {.arguments = {"crash"},
                       .environment = {{"ASAN_OPTIONS", "handle_segv=0:allow_user_segv_handler=1"}},
                       .workingDirectory = work.Path()});
    EXPECT_EQ(result.signal, SIGSEGV);
    EXPECT_NE(
        result.err.find("An abnormal termination condition has occured.\r\n"
                        "A debugging dump file will be created. This dump file can be sent to "
                        "support for diagnosis.\r\nFile name is: XNP10-"),
        std::string::npos)
        << result.err;
    EXPECT_TRUE(result.err.ends_with("Program terminating\r\n"));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.err, match,
                                  std::regex("File name is: (XNP10-\\d{4}-\\d+-\\d+\\.dmp)")));
    std::string report = testsupport::ReadFile(work / match[1].str());
    EXPECT_TRUE(report.starts_with("signal 11 ")) << report;
    EXPECT_NE(report.find("backtrace:"), std::string::npos);
    struct stat status;
    ASSERT_EQ(stat((work / match[1].str()).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "a crash report is for its owner only";
}

// The redirect file is always a new file of its own: a symbolic link planted under its
// name is not followed (the run takes a numbered name), a run started in the same
// second does not share it, and other users cannot read it.
TEST(ProgramRun, RedirectFileIsNewAndPrivate) {
    testsupport::TempDir logs, work;
    const std::string victim = work / "victim";
    testsupport::WriteFile(victim, "keep me\n");
    // Links under the names of the next few seconds, whichever the run starts in.
    std::vector<std::string> planted;
    for (time_t second = time(nullptr); second < time(nullptr) + 4; ++second) {
        char stamp[32];
        struct tm local;
        localtime_r(&second, &local);
        strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
        planted.push_back(logs / ("FrameDriver-" + std::string(stamp)));
        ASSERT_EQ(symlink(victim.c_str(), planted.back().c_str()), 0);
    }
    auto result = RunProgram(FRAME_DRIVER, {.arguments = {"complete", "0"},
                                            .environment = {{"ZYMBSTDERRDIR", logs.Path()}}});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(testsupport::ReadFile(victim), "keep me\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.err, match, std::regex("Writing to '([^']+)'")))
        << result.err;
    const std::string written = match[1].str();
    EXPECT_TRUE(std::regex_match(written, std::regex(".*/FrameDriver-\\d{14}-1"))) << written;
    struct stat status;
    ASSERT_EQ(lstat(written.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_NE(testsupport::ReadFile(written).find("Program ended with RC=0"), std::string::npos);

    // Two runs at once keep two logs.
    std::filesystem::remove_all(logs.Path());
    std::filesystem::create_directory(logs.Path());
    auto run = [&logs] {
        RunProgram(FRAME_DRIVER, {.arguments = {"complete", "0"},
                                  .environment = {{"ZYMBSTDERRDIR", logs.Path()}}});
    };
    std::thread first(run), second(run);
    first.join();
    second.join();
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(logs.Path())) {
        ++files;
        EXPECT_NE(testsupport::ReadFile(entry.path()).find("Program ended with RC=0"),
                  std::string::npos)
            << entry.path();
    }
    EXPECT_EQ(files, 2u);
}

TEST(ProgramRun, RedirectFileAndConsoleCopy) {
    testsupport::TempDir logs;
    for (bool terminalCopy : {false, true}) {
        std::filesystem::remove_all(logs.Path());
        std::filesystem::create_directory(logs.Path());
        ChildOptions options{.arguments = {"complete", "0"},
                             .environment = {{"ZYMBSTDERRDIR", logs.Path()}}};
        if (terminalCopy) options.environment["ZYMBSTDERRTERMINAL"] = "";
        auto result = RunProgram(FRAME_DRIVER, options);
        ASSERT_EQ(result.exitStatus, 0);
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(logs.Path()))
            files.push_back(entry.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(
            std::regex_match(files[0].filename().string(), std::regex("FrameDriver-\\d{14}")));
        std::string file = testsupport::ReadFile(files[0]);
        std::string announcement =
            "Variable ZYMBSTDERRDIR set. Writing to '" + files[0].string() + "'\n";
        EXPECT_TRUE(result.err.starts_with(announcement)) << result.err;
        EXPECT_NE(file.find("Program ended with RC=0 (Success)"), std::string::npos);
        EXPECT_EQ(file.find("\x1b["), std::string::npos) << "no colours in the file";
        // With the terminal copy every file line also reaches standard error.
        EXPECT_EQ(result.err == announcement + file, terminalCopy) << result.err;
        // The CRC in the file covers the file's own lines.
        LogSummary summary = Summarise(file, "TST");
        char crc[32];
        snprintf(crc, sizeof crc, "%#lx", static_cast<unsigned long>(summary.crc));
        EXPECT_NE(file.find(std::string("session: ") + crc + " "), std::string::npos);
    }
}

TEST(ProgramRun, BadRedirectDirectoriesKeepTheConsole) {
    testsupport::TempDir work;
    testsupport::WriteFile(work / "plain", "x");
    std::filesystem::create_directory(work / "locked");
    chmod((work / "locked").c_str(), 0500);
    // Root writes into any folder of its own; sysfs refuses new files even to root.
    const std::string locked = geteuid() == 0 ? "/sys" : work / "locked";
    const std::pair<std::string, std::string> cases[] = {
        {work / "missing", "000E-" + kTime + " Variable ZYMBSTDERRDIR set. Directory error '" +
                               work / "missing" + "' \\(No such file or directory\\)"},
        {work / "plain", "000E-" + kTime + " Variable ZYMBSTDERRDIR set. '" + work / "plain" +
                             "' is not a directory"},
        {locked, "000E-" + kTime + " Variable ZYMBSTDERRDIR set. Unable to open '" + locked +
                     "/FrameDriver-\\d{14}' for stderr \\(Permission denied\\)"},
    };
    for (const auto& [directory, line] : cases) {
        auto result = RunProgram(FRAME_DRIVER, {.arguments = {"complete", "0"},
                                                .environment = {{"ZYMBSTDERRDIR", directory}}});
        EXPECT_EQ(result.exitStatus, 0);
        auto lines = Lines(result.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_match(lines[0], std::regex(line))) << lines[0];
        EXPECT_NE(result.err.find("TST999N-"), std::string::npos)
            << "log must stay on standard error";
    }
}

// Runs the driver with standard error on a pseudo-terminal and returns what it showed.
std::string RunOnTerminal(const std::vector<std::pair<const char*, const char*>>& environment) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        for (const auto& [name, value] : environment) setenv(name, value, 1);
        execl(FRAME_DRIVER, FRAME_DRIVER, "complete", "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string shown;
    char buffer[4096];
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0)
        shown.append(buffer, static_cast<size_t>(n));
    close(master);
    waitpid(pid, nullptr, 0);
    return shown;
}

TEST(ProgramRun, ColoursOnATerminalOnly) {
    std::string coloured = RunOnTerminal({});
    EXPECT_NE(coloured.find("\x1b[32mTST001N-"), std::string::npos) << coloured;  // info green
    EXPECT_NE(coloured.find("\x1b[2mTST010I-"), std::string::npos);               // notice dim
    EXPECT_NE(coloured.find("Program ended with RC=0 (Success)\r\n\x1b[0m"), std::string::npos);
    EXPECT_EQ(RunOnTerminal({{"ZYMBSTDERRNOCOLOR", "1"}}).find("\x1b["), std::string::npos);

    testsupport::TempDir logs;
    std::string redirected = RunOnTerminal({{"ZYMBSTDERRDIR", logs.Path().c_str()}});
    EXPECT_EQ(redirected.find("\x1b["), std::string::npos) << "redirected alone: no colours";
    EXPECT_EQ(redirected.find("TST001N-"), std::string::npos);
    std::string copied =
        RunOnTerminal({{"ZYMBSTDERRDIR", logs.Path().c_str()}, {"ZYMBSTDERRTERMINAL", "1"}});
    EXPECT_NE(copied.find("\x1b[32mTST001N-"), std::string::npos) << copied;
}

}  // namespace
