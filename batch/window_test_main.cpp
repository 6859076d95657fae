// The window tests' main: starts a private Xvfb, sets up the application object on it with
// settings and temporary files in a folder of its own, then runs the tests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/stopwatch.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "batch/window_test_support.h"
#include "tests/support/test_support.h"

namespace windowtest {
namespace {
TestDisplay display;
std::unique_ptr<testsupport::TempDir> folder;
int settingsCount = 0;
int assertCount = 0;
}  // namespace

int AssertCount() {
    return assertCount;
}

TestDisplay& Display() {
    return display;
}
ZYMBApp& App() {
    return *ZYMBApp_Current();
}
const std::string& Folder() {
    return folder->Path();
}

std::string FreshSettings() {
    std::string base = Folder() + "/settings" + std::to_string(++settingsCount);
    mkdir(base.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", (base + "/user").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (base + "/system").c_str(), 1);
    return base + "/user/Brindlemoor/ZYMBBatch.conf";
}

bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    wxStopWatch clock;
    while (!condition()) {
        if (clock.Time() > timeoutMs) return false;
        wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
        wxMilliSleep(2);
    }
    return true;
}

void Pump(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

void MaybeScreenshot(const std::string& name) {
    const char* directory = getenv("ZYMBSCREENSHOTDIR");
    if (directory == nullptr || *directory == 0) return;
    display.Screenshot(std::string(directory) + "/" + name + ".png");
}

}  // namespace windowtest

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string reason;
    if (!windowtest::display.Start(1280, 1024, &reason)) {
        if (testsupport::PeersRequired()) {
            fprintf(stderr, "FAILED: the window tests need Xvfb: %s\n", reason.c_str());
            return 1;
        }
        printf("Window tests not run: %s\n", reason.c_str());
        return 0;
    }
    windowtest::folder = std::make_unique<testsupport::TempDir>();
    setenv("DISPLAY", windowtest::display.Name().c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus on a private display
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("ZYMBUPDATEHOST");
    unsetenv("ZYMBVARFILE");
    std::string temporary = windowtest::folder->Path() + "/tmp";
    mkdir(temporary.c_str(), 0700);
    setenv("TMPDIR", temporary.c_str(), 1);
    // The run history of the windows under test stays in the test's folder.
    setenv("XDG_STATE_HOME", (windowtest::folder->Path() + "/state").c_str(), 1);
    windowtest::FreshSettings();

    wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& cond,
                          const wxString& message) {
        ++windowtest::assertCount;
        fprintf(stderr, "toolkit assertion %s:%d: %s %s\n", file.utf8_str().data(), line,
                cond.utf8_str().data(), message.utf8_str().data());
    });
    auto* app = new ZYMBApp();
    wxApp::SetInstance(app);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        fprintf(stderr, "FAILED: the window toolkit does not start on %s\n",
                windowtest::display.Name().c_str());
        return 1;
    }
    app->SetAppName("ZYMBBatch");
    wxGUIEventLoop loop;
    wxEventLoopBase::SetActive(&loop);
    int result = RUN_ALL_TESTS();
    app->EndApplication();
    wxEventLoopBase::SetActive(nullptr);
    wxEntryCleanup();
    windowtest::folder.reset();
    return result;
}
