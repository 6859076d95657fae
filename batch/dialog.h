// The batch dialog, the utility's only window: a property grid with the batch definition,
// Load / Save / Open Log, the child's standard output and standard error in two tabbed
// lists, a status line, Run and Cancel. It owns the definition, the batch log and the run
// controller, and shows what the controller reports; the application object owns the
// notifications it shows.
#pragma once
#include <wx/dialog.h>
#include <wx/timer.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "batch/batch_definition.h"
#include "batch/batch_log.h"
#include "batch/batch_run.h"

class wxButton;
class wxNotebook;
class wxPGProperty;
class wxPropertyGridManager;
class wxPropertyGridEvent;
class wxBookCtrlEvent;
class wxStaticText;
class OutputList;

// The questions the dialog asks the user. The window's own defaults use the desktop's
// message boxes, file dialogs and default opener; tests answer them themselves.
struct BatchDialogPrompts {
    // A message box; returns wxYES, wxNO or wxOK as wxMessageBox does.
    std::function<int(const wxString& text, const wxString& caption, long style)> messageBox;
    // An open (save false) or save (save true) dialog for batch files; "" when cancelled.
    std::function<wxString(bool save, const wxString& initialFile)> chooseBatchFile;
    // Opens a file with the desktop's default program.
    std::function<void(const wxString& path)> openWithDefaultProgram;
};

// The property names, as the grid shows them.
extern const char* const kPropertyExecutablePath;
extern const char* const kPropertyExecutableProgram;
extern const char* const kPropertyArguments;
extern const char* const kPropertyStdinFile;
extern const char* const kPropertyEnvironment;
extern const char* const kPropertyWorkingDirectory;
extern const char* const kPropertyLogFile;

class ZYMBBatchDlg : public wxDialog {
  public:
    // Control ids, as the dialog has always numbered them.
    enum {
        ID_RUN = 1,
        ID_CLOSE = 2,
        ID_LOAD = 3,
        ID_SAVE = 4,
        ID_OPEN_LOG = 5,
        ID_GRID = 1000,
        ID_TABS = 1003,
        ID_OUTPUT_LIST = 1004,
        ID_MESSAGES_LIST = 1005,
    };

    // initialFile: a batch file to load once the window is up ("" for none).
    ZYMBBatchDlg(wxWindow* parent, const wxString& initialFile);
    ~ZYMBBatchDlg() override;

    BatchDialogPrompts& Prompts() { return prompts_; }

    // The commands, as the buttons give them.
    void OnRun();
    void OnClose();  // Cancel, the close box, Escape
    void OnLoad();
    void OnSave();
    void OnOpenLog();
    // Loads a batch file into the properties, with its notifications and the program search.
    void LoadFile(const wxString& path);
    // Looks for the program and tells where it was found (or that it was not).
    void SearchForProgram();

    // For the program's tests and tools: the controls and state.
    wxPropertyGridManager* Grid() const { return grid_; }
    wxString PropertyText(const char* name) const;
    // Sets a property as a user edit would, program search included.
    void EditProperty(const char* name, const wxString& text);
    OutputList* OutputLines() const { return outputList_; }
    OutputList* MessageLines() const { return messagesList_; }
    wxNotebook* Tabs() const { return tabs_; }
    wxButton* RunButton() const { return runButton_; }
    const BatchLog& Log() const { return log_; }
    // True from the Run command until the run's end has been handled.
    bool RunInProgress() const { return runActive_; }
    BatchRun& Run() { return run_; }
    ProcessRunner& Runner() { return run_.Runner(); }
    // The line under the tabs: the clock of a run in progress, or how the last run ended.
    wxString StatusText() const;

  private:
    void BuildControls();
    void BuildProperties();
    void SetRunControlsEnabled(bool enabled);
    BatchFields FieldsFromProperties() const;
    void Notify(const wxString& title, const wxString& firstLine, const wxString& secondLine,
                int icon);
    void BuildStatusLine();
    void HandleEnded(const BatchRunSummary& summary);
    void OnTakeLines(wxTimerEvent& event);
    void OnPropertyChanged(wxPropertyGridEvent& event);
    void OnTabChanging(wxBookCtrlEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    BatchDefinition definition_;
    wxString initialFile_;
    wxPropertyGridManager* grid_ = nullptr;
    wxButton* runButton_ = nullptr;
    wxButton* closeButton_ = nullptr;
    wxPGProperty* stdinProperty_ = nullptr;
    wxPGProperty* environmentProperty_ = nullptr;
    wxPGProperty* argumentsProperty_ = nullptr;
    wxPGProperty* workingDirectoryProperty_ = nullptr;
    wxPGProperty* programProperty_ = nullptr;
    wxPGProperty* programPathProperty_ = nullptr;
    wxPGProperty* logFileProperty_ = nullptr;
    wxString logReason_;  // why the log could not be created, or ""
    wxNotebook* tabs_ = nullptr;
    OutputList* outputList_ = nullptr;
    OutputList* messagesList_ = nullptr;
    wxStaticText* statusLine_ = nullptr;
    BatchLog log_;  // before the run, which writes to it until its end
    BatchRun run_;
    BatchDialogPrompts prompts_;
    bool runActive_ = false;
    wxString lastStatus_;  // how the last run ended, for the status line
    wxTimer takeTimer_;    // shows new lines and the run's clock while a run is in progress
    // Set while the window is being destroyed: the end of a run cancelled then is not
    // posted to it.
    std::atomic<bool> closing_{false};
};
