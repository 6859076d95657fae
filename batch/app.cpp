// The start routine and the services of the application object.
#include "batch/app.h"

#include <curl/curl.h>
#include <sys/random.h>
#include <unistd.h>
#include <wx/filename.h>

#include <cstdio>
#include <ctime>

#include "batch/crash_handler.h"
#include "batch/task_dialog.h"
#include "batch/update_check.h"
#include "platform/system_info.h"

namespace {
const char* const kOptions = "Options";
const char* const kRuntime = "Runtime";

wxString LocalTimeText() {
    time_t now = time(nullptr);
    struct tm local;
    char text[128] = "";
    if (localtime_r(&now, &local) != nullptr)
        strftime(text, sizeof text, "%A, %B %d, %Y - %H:%M:%S", &local);
    return wxString::FromUTF8(text);
}
}  // namespace

wxString MakeUpperCaseGuid() {
    unsigned char bytes[16] = {};
    size_t have = 0;
    while (have < sizeof bytes) {
        ssize_t n = getrandom(bytes + have, sizeof bytes - have, 0);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    char text[37];
    snprintf(text, sizeof text,
             "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
             bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
             bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

ZYMBApp* ZYMBApp_Current() {
    return dynamic_cast<ZYMBApp*>(wxApp::GetInstance());
}

ZYMBApp::ZYMBApp() = default;

ZYMBApp::~ZYMBApp() {
    if (updateThread_.joinable()) updateThread_.join();
}

SettingsFile& ZYMBApp::Settings() {
    if (!settings_)
        settings_ = std::make_unique<SettingsFile>(Settings_UserFile(GetAppName()), false);
    return *settings_;
}

bool ZYMBApp::InitApplication(const wxString& name, const char* buildDate) {
    BatchCrash_Install();
    SetVendorName("Brindlemoor");
    settings_ = std::make_unique<SettingsFile>(Settings_UserFile(GetAppName()), false);
    SettingsFile& profile = *settings_;
    updateSent_ = false;

    wxString message = profile.ReadText(kOptions, "StartMessage");
    if (!message.empty()) {
        TaskDialog notice(nullptr, "Special Notice", "Please take note.", message,
                          "If you no longer want to see this message please contact your "
                          "Administrator.");
        notice.ShowModal();
    } else {
        profile.WriteText(kOptions, "StartMessage", wxString());
    }

    runCount_ = profile.ReadNumber(kRuntime, "RunCount") + 1;
    profile.WriteNumber(kRuntime, "RunCount", runCount_);

    name_ = name;
    buildDate_ = buildDate;

    guid_ = profile.ReadText(kRuntime, "GUID");
    if (guid_.empty()) {
        guid_ = MakeUpperCaseGuid();
        profile.WriteText(kRuntime, "GUID", guid_);
    }

    // The working folder stays the one the user started the program in: every relative
    // path a user gives is taken from there.
    SettingsFile machine(Settings_SystemFile(GetAppName()), true);
    bool disabled = false;
    if (!machine.ReadSwitch(wxString(), "DisableUpdateCheck", &disabled) || !disabled)
        StartUpdateCheck(buildDate);

    long indicator = profile.ReadNumber(kRuntime, "CrashIndicator");
    long crashes = profile.ReadNumber(kRuntime, "CrashCount");
    if (indicator != 0) {
        profile.WriteText(kRuntime, "LastCrashTime", profile.ReadText(kRuntime, "LastRunTime"));
        ++crashes;
    }
    profile.WriteNumber(kRuntime, "CrashIndicator", 1);
    profile.WriteNumber(kRuntime, "CrashCount", crashes);
    profile.WriteText(kRuntime, "LastRunTime", LocalTimeText());
    ended_ = false;
    return true;
}

void ZYMBApp::StartUpdateCheck(const char* buildDate) {
    // A start never waits for the network: the check runs beside the window, and with no
    // update host configured it sends nothing at all.
    std::string host = UpdateCheck_Host(Settings().ReadText(kOptions, "UpdateHost").utf8_str());
    if (host.empty()) return;
    if (updateThread_.joinable()) updateThread_.join();
    char agent[512];
    UpdateCheck_MachineAgentText(agent, sizeof agent, name_.utf8_str(), buildDate);
    curl_global_init(CURL_GLOBAL_DEFAULT);  // here, before any other thread uses libcurl
    updateSent_ = true;
    updateRunning_ = true;
    updateThread_ = std::thread([this, host, agentText = std::string(agent)] {
        char location[1024];
        UpdateCheck_Run(host.c_str(), agentText.c_str(), location, sizeof location);
        std::lock_guard<std::mutex> guard(updateMutex_);
        updateLocation_ = location;
        updateRunning_ = false;
    });
}

std::string ZYMBApp::WaitForUpdateCheck() {
    if (updateThread_.joinable()) updateThread_.join();
    std::lock_guard<std::mutex> guard(updateMutex_);
    return updateLocation_;
}

void ZYMBApp::ShowNotification(wxWindow* parent, const wxString& title, const wxString& firstLine,
                               const wxString& secondLine, int icon, int firstButtonIcon,
                               int secondButtonIcon, int displayMs, int secondButtonId) {
    notifications_.Show(parent, title, firstLine, secondLine, icon, firstButtonIcon,
                        secondButtonIcon, displayMs, secondButtonId);
}

void ZYMBApp::EndApplication() {
    if (ended_ || !settings_) return;
    ended_ = true;
    notifications_.CloseAll();
    settings_->WriteNumber(kRuntime, "CrashIndicator", 0);
    if (updateThread_.joinable()) updateThread_.join();
}

int ZYMBApp::OnExit() {
    EndApplication();
    return wxApp::OnExit();
}
