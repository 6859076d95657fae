// The batch utility's application: the start routine, then the batch dialog, shown modally
// until it closes. Also the crash message, shown by a fresh start of the program after a
// crash.
#include <signal.h>
#include <wx/clipbrd.h>
#include <wx/msgdlg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "batch/app.h"
#include "batch/crash_handler.h"
#include "batch/dialog.h"
#include "batch/display_check.h"
#include "batch/window_entry.h"

namespace {
class ZYMBBatchApp : public ZYMBApp {
  public:
    bool OnInit() override {
        // The command line is ours: one optional batch file, no options to parse.
        InitApplication("Corvantix Batch Utility", __DATE__);
        // A relative path is taken from the folder the program was started in, which
        // stays the working folder.
        if (argc > 1) initialFile_ = argv[1];
        return true;
    }

    int OnRun() override {
        ZYMBBatchWindow dialog(nullptr, initialFile_, &Settings(), &Notifications());
        SetTopWindow(&dialog);
        // A way for the tests to end the program by a fatal signal once it is up.
        if (getenv("ZYMBBATCHCRASHTEST") != nullptr) dialog.CallAfter([] { raise(SIGSEGV); });
        dialog.ShowModal();
        SetTopWindow(nullptr);
        return 0;
    }

  private:
    wxString initialFile_;
};

// The crash message with the report's path, which also goes to the clipboard.
int ShowCrashReport(int argc, char** argv, const char* reportPath) {
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(argc, argv)) return 1;
    wxTheApp->CallOnInit();
    wxString path = wxString::FromUTF8(reportPath);
    bool onClipboard = false;
    if (wxTheClipboard->Open()) {
        onClipboard = wxTheClipboard->SetData(new wxTextDataObject(path));
        wxTheClipboard->Close();
    }
    wxString text = wxString::Format(
        "This Program has terminated due to error.\n\nA debugging dump file has been created "
        "at %s.\n\nIf you send us this file we can use it to fix the problem.",
        path);
    if (onClipboard) text += "\n\nThe path to the dump file has been copied to the clipboard.";
    wxMessageBox(text, "Program Terminated", wxOK | wxICON_ERROR);
    // Leaves the text with a clipboard manager, where there is one, as we end.
    wxTheClipboard->Flush();
    wxEntryCleanup();
    return 0;
}
}  // namespace

int RunBatchWindow(int argc, char** argv) {
    if (!DisplayReachable()) {
        const char* name = getenv("DISPLAY");
        std::string why = name != nullptr && *name != '\0'
                              ? std::string("the display \"") + name + "\" cannot be opened"
                              : std::string("DISPLAY is not set");
        fprintf(stderr,
                "ZYMBBatch: the window needs a display, and %s; ZYMBBatch --run FILE.cvbatch "
                "runs a definition without one\n",
                why.c_str());
        return 1;
    }
    if (argc >= 3 && strcmp(argv[1], kCrashReportOption) == 0)
        return ShowCrashReport(1, argv, argv[2]);
    wxApp::SetInstance(new ZYMBBatchApp());
    return wxEntry(argc, argv);
}
