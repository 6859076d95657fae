// The application object of the suite's window programs: the start routine (start message,
// run statistics, crash indicator, update check), the notification service and the crash
// handler. The batch utility's own application adds only its dialog.
#pragma once
#include <wx/app.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "batch/notifications.h"
#include "batch/settings.h"

class ZYMBApp : public wxApp {
  public:
    ZYMBApp();
    ~ZYMBApp() override;

    // The start routine. name: the program's title; buildDate: the compiler's date form.
    // The profile is that of the application name (the program file's base name). Returns
    // true; a profile that cannot be written costs only the statistics. There is no about
    // window, and so no picture for one.
    bool InitApplication(const wxString& name, const char* buildDate);

    void ShowNotification(wxWindow* parent, const wxString& title, const wxString& firstLine,
                          const wxString& secondLine, int icon, int firstButtonIcon,
                          int secondButtonIcon, int displayMs, int secondButtonId);
    NotificationService& Notifications() { return notifications_; }

    // The per-user profile; opened by the start routine (before it, by the first call).
    SettingsFile& Settings();

    // Waits for a running update check to end (at most its time-outs) and returns the
    // location its 302 answer named, or "".
    std::string WaitForUpdateCheck();
    // Whether the start routine sent an update check, and whether it is still waiting.
    bool UpdateCheckStarted() const { return updateSent_; }
    bool UpdateCheckRunning() const { return updateRunning_; }

    const wxString& Name() const { return name_; }
    const wxString& Guid() const { return guid_; }
    long RunCount() const { return runCount_; }

    // The normal end: the crash indicator goes back to 0.
    int OnExit() override;
    // Ends the start routine's work: crash indicator 0, update check joined, toasts closed.
    void EndApplication();

  private:
    void StartUpdateCheck(const char* buildDate);

    wxString name_;
    wxString buildDate_;
    wxString guid_;
    long runCount_ = 0;
    std::unique_ptr<SettingsFile> settings_;
    NotificationService notifications_;
    std::thread updateThread_;
    bool updateSent_ = false;
    std::atomic<bool> updateRunning_{false};
    std::mutex updateMutex_;
    std::string updateLocation_;
    bool ended_ = false;
};

// The running application object, or null when it is of another kind.
ZYMBApp* ZYMBApp_Current();

// A new random UUID in its upper-case string form.
wxString MakeUpperCaseGuid();
