// The start routine on a real display: profile values, the start message, the crash
// counting, and the update check against a local HTTP listener.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <wx/filename.h>
#include <wx/stattext.h>

#include <regex>

#include "batch/task_dialog.h"
#include "batch/update_check.h"
#include "batch/window_test_support.h"
#include "tests/support/http_listener.h"
#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::WriteFile;
using windowtest::App;

namespace {
// The profile as a map of "Section/Name" to text, read back from the file itself.
std::map<std::string, std::string> ProfileValues(const std::string& path) {
    std::map<std::string, std::string> values;
    std::string section;
    for (const std::string& line : testsupport::Lines(ReadFile(path))) {
        if (line.size() > 2 && line.front() == '[') {
            section = line.substr(1, line.size() - 2);
        } else if (size_t equals = line.find('='); equals != std::string::npos) {
            values[section + "/" + line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return values;
}

// A label as written, before the dialog wrapped it to its width.
wxString Unwrapped(wxStaticText* text) {
    wxString label = text->GetLabel();
    label.Replace("\n", " ");
    return label;
}

void WriteMachineSwitch(const std::string& text) {
    std::string folder = std::string(getenv("XDG_CONFIG_DIRS")) + "/Brindlemoor";
    wxFileName::Mkdir(folder, 0700, wxPATH_MKDIR_FULL);
    WriteFile(folder + "/ZYMBBatch.conf", text);
}
}  // namespace

TEST(StartRoutine, CountsStartsKeepsItsGuidAndClearsTheCrashIndicatorAtANormalEnd) {
    std::string profile = windowtest::FreshSettings();
    ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    auto first = ProfileValues(profile);
    EXPECT_EQ(first["Runtime/RunCount"], "1");
    EXPECT_EQ(first["Runtime/CrashIndicator"], "1");
    EXPECT_EQ(first["Runtime/CrashCount"], "0");
    EXPECT_EQ(first["Options/StartMessage"], "");
    EXPECT_TRUE(std::regex_match(
        first["Runtime/GUID"],
        std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << first["Runtime/GUID"];
    // "Thursday, December 10, 2026 - 02:52:14"
    EXPECT_TRUE(
        std::regex_match(first["Runtime/LastRunTime"],
                         std::regex("[A-Za-z]+, [A-Za-z]+ \\d\\d, \\d{4} - \\d\\d:\\d\\d:\\d\\d")))
        << first["Runtime/LastRunTime"];
    App().EndApplication();
    EXPECT_EQ(ProfileValues(profile)["Runtime/CrashIndicator"], "0");

    ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    auto second = ProfileValues(profile);
    EXPECT_EQ(second["Runtime/RunCount"], "2");
    EXPECT_EQ(second["Runtime/GUID"], first["Runtime/GUID"]);
    EXPECT_EQ(second["Runtime/CrashCount"], "0");
    EXPECT_EQ(second.count("Runtime/LastCrashTime"), 0u);
    App().EndApplication();
}

TEST(StartRoutine, AStartThatFindsTheIndicatorSetCountsACrash) {
    std::string profile = windowtest::FreshSettings();
    wxFileName::Mkdir(wxFileName(profile).GetPath(), 0700, wxPATH_MKDIR_FULL);
    WriteFile(profile,
              "[Runtime]\nRunCount=7\nCrashIndicator=1\nCrashCount=2\n"
              "LastRunTime=Monday, March 17, 2025 - 10:00:00\n");
    ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    auto values = ProfileValues(profile);
    EXPECT_EQ(values["Runtime/RunCount"], "8");
    EXPECT_EQ(values["Runtime/CrashCount"], "3");
    EXPECT_EQ(values["Runtime/LastCrashTime"], "Monday, March 17, 2025 - 10:00:00");
    EXPECT_EQ(values["Runtime/CrashIndicator"], "1");
    App().EndApplication();
}

TEST(StartRoutine, ShowsTheStartMessageInATaskDialogAtEveryStart) {
    std::string profile = windowtest::FreshSettings();
    wxFileName::Mkdir(wxFileName(profile).GetPath(), 0700, wxPATH_MKDIR_FULL);
    WriteFile(profile, "[Options]\nStartMessage=Server maintenance on Friday\n");
    for (int start = 0; start < 2; ++start) {
        std::vector<wxString> texts;
        wxString title;
        App().CallAfter([&] {
            for (wxWindow* window : wxTopLevelWindows) {
                auto* dialog = dynamic_cast<TaskDialog*>(window);
                if (dialog == nullptr || !dialog->IsModal()) continue;
                title = dialog->GetTitle();
                for (wxWindow* child : dialog->GetChildren())
                    if (auto* text = dynamic_cast<wxStaticText*>(child))
                        texts.push_back(Unwrapped(text));
                for (wxWindow* panel : dialog->GetChildren())
                    for (wxWindow* child : panel->GetChildren())
                        if (auto* text = dynamic_cast<wxStaticText*>(child))
                            texts.push_back(Unwrapped(text));
                if (start == 0 && getenv("ZYMBSCREENSHOTDIR") != nullptr) {
                    windowtest::Pump(300);  // drawn before the picture is taken
                    windowtest::MaybeScreenshot("start-message");
                }
                dialog->EndModal(wxID_OK);
            }
        });
        ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
        EXPECT_EQ(title, "Special Notice");
        std::vector<wxString> expected = {
            "If you no longer want to see this message please contact your Administrator.",
            "Please take note.", "Server maintenance on Friday"};
        std::sort(texts.begin(), texts.end());
        EXPECT_EQ(texts, expected);
        App().EndApplication();
    }
    EXPECT_EQ(ProfileValues(profile)["Options/StartMessage"], "Server maintenance on Friday");
}

TEST(UpdateCheck, AgentTextNamesTheProgramItsBuildDateAndTheSystem) {
    struct Case {
        const char* date;
        const char* expected;
    } cases[] = {
        {"Mar 17 2025", "Corvantix Batch Utility/2025-03-17 (Linux 6.1.0-28-amd64 Desktop)"},
        {"Dec  1 2026", "Corvantix Batch Utility/2026-12-01 (Linux 6.1.0-28-amd64 Desktop)"},
        {"Foo 17 2025", "Corvantix Batch Utility/0000-00-00 (Linux 6.1.0-28-amd64 Desktop)"},
    };
    for (const Case& c : cases) {
        char agent[256];
        UpdateCheck_AgentText(agent, sizeof agent, "Corvantix Batch Utility", c.date, "Linux",
                              "6.1.0-28-amd64", "Desktop");
        EXPECT_STREQ(agent, c.expected) << c.date;
    }
}

TEST(UpdateCheck, AsksTheConfiguredHostForVersionCgiAndKeepsTheRedirectTarget) {
    testsupport::HttpListener listener;
    listener.Answer(302, "Location: http://updates.example/batch-2.0.pkg\r\n", "moved");
    std::string host = "127.0.0.1:" + std::to_string(listener.Port());
    SettingsFile(windowtest::FreshSettings(), false).WriteText("Options", "UpdateHost", host);
    ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    EXPECT_EQ(App().WaitForUpdateCheck(), "http://updates.example/batch-2.0.pkg");
    auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/version.cgi");
    struct utsname name;
    uname(&name);
    EXPECT_EQ(requests[0].headers["user-agent"],
              std::string("Corvantix Batch Utility/2025-03-17 (") + name.sysname + " " +
                  name.release + " Desktop)");
    App().EndApplication();
}

TEST(UpdateCheck, SendsNothingWhenSwitchedOffMachineWideOrWithoutAHost) {
    testsupport::HttpListener listener;
    listener.Answer(302, "Location: http://updates.example/new\r\n");
    std::string host = "127.0.0.1:" + std::to_string(listener.Port());
    struct Case {
        const char* machineFile;  // nullptr: none
        bool withHost;
        bool sent;
    } cases[] = {
        {"DisableUpdateCheck=1\n", true, false},
        {"DisableUpdateCheck=0\n", true, true},
        {"DisableUpdateCheck=true\n", true, false},
        {"DisableUpdateCheck = Yes \n", true, false},
        {"DisableUpdateCheck=ON\n", true, false},
        {"DisableUpdateCheck=false\n", true, true},
        {"DisableUpdateCheck=no\n", true, true},
        {"DisableUpdateCheck=off\n", true, true},
        {"DisableUpdateCheck=perhaps\n", true, true},  // no switch at all: the check runs
        {"=x\nDisableUpdateCheck=1\n", true, false},   // a nameless value is passed over
        {nullptr, false, false},
    };
    size_t expectedRequests = 0;
    for (const Case& c : cases) {
        std::string profile = windowtest::FreshSettings();
        if (c.machineFile != nullptr) WriteMachineSwitch(c.machineFile);
        if (c.withHost) SettingsFile(profile, false).WriteText("Options", "UpdateHost", host);
        ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
        std::string location = App().WaitForUpdateCheck();
        EXPECT_EQ(App().UpdateCheckStarted(), c.sent) << (c.machineFile ? c.machineFile : "none");
        if (c.sent) ++expectedRequests;
        EXPECT_EQ(listener.Requests().size(), expectedRequests);
        App().EndApplication();
    }
}

TEST(UpdateCheck, AStartDoesNotWaitForAnUpdateServerThatNeverAnswers) {
    testsupport::HttpListener listener;
    listener.NeverAnswer();
    SettingsFile(windowtest::FreshSettings(), false)
        .WriteText("Options", "UpdateHost", "127.0.0.1:" + std::to_string(listener.Port()));
    ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    // The start is over while the request is still out: the window would be answering now.
    EXPECT_TRUE(windowtest::PumpUntil([&] { return listener.Requests().size() == 1; }, 5000));
    EXPECT_TRUE(App().UpdateCheckRunning());
    EXPECT_EQ(App().WaitForUpdateCheck(), "");  // the time-out ends it, silently
    App().EndApplication();
}

TEST(Settings, LinesWithoutMeaningAreIgnoredAndTheRestIsRead) {
    std::string profile = windowtest::FreshSettings();
    wxFileName::Mkdir(wxFileName(profile).GetPath(), 0700, wxPATH_MKDIR_FULL);
    WriteFile(profile,
              "=x\n[Runtime]\n = y\nRunCount=4\n# a comment\n[Options]\nStartMessage=\n"
              "[Runtime]\nGUID=ABC\n=\n");
    WriteMachineSwitch("=x\n[A]\n[A]\nDisableUpdateCheck=1\n");
    int assertsBefore = windowtest::AssertCount();
    ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    EXPECT_EQ(windowtest::AssertCount(), assertsBefore);
    auto values = ProfileValues(profile);
    EXPECT_EQ(values["Runtime/RunCount"], "5");
    EXPECT_EQ(values["Runtime/GUID"], "ABC");
    EXPECT_EQ(values.count("Runtime/"), 0u);
    EXPECT_NE(ReadFile(profile).find("# a comment"), std::string::npos);
    App().EndApplication();

    EXPECT_EQ(Settings_Tidy("a=1\r\n[S]\nb=2\n=3\n[T]\nc=4\n[S]\nd=5\n"),
              "a=1\n[S]\nb=2\nd=5\n[T]\nc=4\n");
}
