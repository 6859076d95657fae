// A crash of the real program: the report file, the message shown by a fresh process (its
// path on the clipboard), and the next start counting the crash.
#include "platform/crash.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/clipbrd.h>

#include <cstring>
#include <ctime>

#include "batch/crash_handler.h"
#include "batch/window_test_support.h"
#include "tests/support/test_support.h"

using testsupport::ReadFile;

namespace {
std::vector<std::string> FilesIn(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* directory = opendir(folder.c_str())) {
        while (dirent* entry = readdir(directory))
            if (std::string(entry->d_name).rfind(prefix, 0) == 0) names.push_back(entry->d_name);
        closedir(directory);
    }
    return names;
}

std::string ClipboardText() {
    std::string text;
    if (wxTheClipboard->Open()) {
        wxTextDataObject data;
        if (wxTheClipboard->IsSupported(wxDF_UNICODETEXT) && wxTheClipboard->GetData(data))
            text = data.GetText().utf8_string();
        wxTheClipboard->Close();
    }
    return text;
}

// The process that shows the message for this report: found by its command line.
pid_t ReporterOf(const std::string& reportPath) {
    for (const std::string& name : FilesIn("/proc", "")) {
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string commandLine = ReadFile("/proc/" + name + "/cmdline");
        if (commandLine.find(std::string(kCrashReportOption) + '\0' + reportPath) !=
            std::string::npos)
            return static_cast<pid_t>(std::stol(name));
    }
    return -1;
}
}  // namespace

TEST(CrashPath, NamesTheYearTheDayCountedFromZeroAndTheProcess) {
    char path[256];
    // 2025-01-01 12:00 UTC, the first day of the year: day 0.
    BatchCrash_ReportPath(path, sizeof path, "/tmp", 1735732800, 0, 4242);
    EXPECT_STREQ(path, "/tmp/ZYMB-2025-0-4242.dmp");
    BatchCrash_ReportPath(path, sizeof path, "/var/tmp/", 1735732800 + 364 * 86400, 0, 7);
    EXPECT_STREQ(path, "/var/tmp/ZYMB-2025-364-7.dmp");
}

TEST(Crash, AFatalSignalLeavesAReportShowsItAndIsCountedAtTheNextStart) {
    std::string profile = windowtest::FreshSettings();
    std::string reports = windowtest::Folder() + "/crash-reports";
    mkdir(reports.c_str(), 0700);
    testsupport::ChildOptions options;
    options.environment["ZYMBBATCHCRASHTEST"] = "1";
    options.environment["TMPDIR"] = reports;
    options.timeoutSeconds = 60;
    time_t started = time(nullptr);
    testsupport::ChildResult crashed = testsupport::RunProgram(BATCH_PROGRAM, options);
    EXPECT_EQ(crashed.signal, SIGSEGV) << crashed.err;

    std::vector<std::string> found = FilesIn(reports, "ZYMB-");
    ASSERT_EQ(found.size(), 1u);
    struct tm local;
    localtime_r(&started, &local);
    std::string expectedStart =
        "ZYMB-" + std::to_string(1900 + local.tm_year) + "-" + std::to_string(local.tm_yday) + "-";
    EXPECT_EQ(found[0].rfind(expectedStart, 0), 0u) << found[0];
    std::string reportPath = reports + "/" + found[0];
    struct stat status;
    ASSERT_EQ(stat(reportPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    std::string report = ReadFile(reportPath);
    EXPECT_EQ(report.rfind("signal 11 ", 0), 0u) << report.substr(0, 200);
    EXPECT_NE(report.find("\nbacktrace:\n"), std::string::npos);
    EXPECT_NE(report.find("\nmaps:\n"), std::string::npos);

    // The fresh process puts the path on the clipboard and shows the message.
    EXPECT_TRUE(windowtest::PumpUntil([&] { return ClipboardText() == reportPath; }, 20000))
        << "clipboard: " << ClipboardText();
    windowtest::MaybeScreenshot("crash-message");
    pid_t reporter = ReporterOf(reportPath);
    ASSERT_GT(reporter, 0);
    kill(reporter, SIGTERM);

    std::string lastRun;
    for (const std::string& line : testsupport::Lines(ReadFile(profile)))
        if (line.rfind("LastRunTime=", 0) == 0) lastRun = line.substr(12);
    ASSERT_FALSE(lastRun.empty());
    EXPECT_NE(ReadFile(profile).find("CrashIndicator=1"), std::string::npos);

    ASSERT_TRUE(windowtest::App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    std::string next = ReadFile(profile);
    EXPECT_NE(next.find("CrashCount=1"), std::string::npos) << next;
    EXPECT_NE(next.find("LastCrashTime=" + lastRun), std::string::npos) << next;
    windowtest::App().EndApplication();
}

TEST(Crash, AReportNeverGoesIntoAFileOrFifoPlantedUnderItsName) {
    windowtest::FreshSettings();
    std::string reports = windowtest::Folder() + "/planted-reports";
    mkdir(reports.c_str(), 0700);
    for (const char* planted : {"fifo", "file"}) {
        // The program waits for the plant before it starts, so its name is known in time.
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            char byte;
            if (read(go[0], &byte, 1) != 1) _exit(126);
            setenv("ZYMBBATCHCRASHTEST", "1", 1);
            setenv("TMPDIR", reports.c_str(), 1);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            execl(BATCH_PROGRAM, BATCH_PROGRAM, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(go[0]);
        char path[512];
        BatchCrash_ReportPath(path, sizeof path, reports.c_str(), time(nullptr),
                              Platform_LocalUtcOffset(), static_cast<unsigned>(pid));
        if (strcmp(planted, "fifo") == 0) {
            ASSERT_EQ(mkfifo(path, 0666), 0);
        } else {
            testsupport::WriteFile(path, "planted\n");
        }
        ASSERT_EQ(write(go[1], "g", 1), 1);
        close(go[1]);

        // It ends by its signal without waiting on the FIFO, and the report is beside it.
        int status = 0;
        bool ended =
            windowtest::PumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30000);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(ended) << planted << ": the crashed program hung on the planted name";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) << planted;
        struct stat info;
        ASSERT_EQ(lstat(path, &info), 0);
        if (strcmp(planted, "file") == 0) {
            EXPECT_EQ(ReadFile(path), "planted\n");
        }
        std::string other = std::string(path).insert(strlen(path) - 4, "-1");
        ASSERT_EQ(lstat(other.c_str(), &info), 0) << other;
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(ReadFile(other).rfind("signal 11 ", 0), 0u);
        // The message about it is not wanted here.
        pid_t reporter = -1;
        windowtest::PumpUntil([&] { return (reporter = ReporterOf(other)) > 0; }, 10000);
        if (reporter > 0) kill(reporter, SIGTERM);
        unlink(path);
    }
}
