// The batch dialog, the utility's only window: a property grid with the batch definition,
// Load / Save / Open Log, the child's standard output and standard error in two tabbed
// lists, a status line, Run and Cancel. It owns the definition, the batch log and the run
// controller, and shows what the controller reports; the settings it keeps its own values
// in and the notifications it shows are handed in, and belong to the caller, who keeps
// them for the dialog's whole life.
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
class SettingsFile;
class NotificationService;

// The questions the dialog asks the user. The window's own defaults use the desktop's
// message boxes, file dialogs and default opener; tests answer them themselves.
struct BatchDialogPrompts {
    // A message box; returns wxYES, wxNO or wxOK as wxMessageBox does.
    std::function<int(const wxString& text, const wxString& caption, long style)> messageBox;
    // An open (save false) or save (save true) dialog for batch files, opening in folder
    // with fileName proposed (may be ""); returns the chosen path, "" when cancelled.
    std::function<wxString(bool save, const wxString& folder, const wxString& fileName)>
        chooseBatchFile;
    // Opens a file with the desktop's default program.
    std::function<void(const wxString& path)> openWithDefaultProgram;
    // Closing or loading with unsaved edits: "Save changes to NAME before closing?" with
    // Save (wxYES), Close without Saving (wxNO, its label given) and Cancel (wxCANCEL).
    std::function<int(const wxString& text, const wxString& discardLabel)> askToSaveChanges;
    // A save dialog for a list's lines as text; "" when cancelled.
    std::function<wxString(const wxString& initialFile)> chooseOutputFile;
};

// The property names, as the grid shows them.
extern const char* const kPropertyExecutablePath;
extern const char* const kPropertyExecutableProgram;
extern const char* const kPropertyArguments;
extern const char* const kPropertyStdinFile;
extern const char* const kPropertyEnvironment;
extern const char* const kPropertyWorkingDirectory;
extern const char* const kPropertyLogFile;

class ZYMBBatchWindow : public wxDialog {
  public:
    // The ids of the dialog's controls, above the toolkit's own ids.
    enum {
        ID_RUN = wxID_HIGHEST + 1,
        ID_CLOSE,
        ID_LOAD,
        ID_SAVE,
        ID_OPEN_LOG,
        ID_GRID,
        ID_TABS,
        ID_OUTPUT_LIST,
        ID_MESSAGES_LIST,
        ID_SCHEDULE,
    };

    // initialFile: a batch file to load once the window is up ("" for none); a relative
    // path is taken from the folder the program was started in, as every path is.
    // settings: where Load's last file and the window's size and place are kept;
    // notifier: where results are shown.
    ZYMBBatchWindow(wxWindow* parent, const wxString& initialFile, SettingsFile* settings,
                    NotificationService* notifier);
    ~ZYMBBatchWindow() override;

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

    // The file the properties were last loaded from or saved to ("" for none), and whether
    // a property differs from what that load or save left.
    const wxString& CurrentFile() const { return currentFile_; }
    bool HasUnsavedEdits() const;
    // The folder the program was started in: relative paths and the file dialogs start here.
    const wxString& StartingFolder() const { return startingFolder_; }
    // The size the window opens with, which is also its smallest.
    wxSize DefaultSize() const { return defaultSize_; }

  private:
    void BuildControls();
    void BuildProperties();
    void SetRunControlsEnabled(bool enabled);
    BatchFields FieldsFromProperties() const;
    void Notify(const wxString& title, const wxString& firstLine, const wxString& secondLine,
                int icon);
    void ConnectRun();
    void HandleEnded(const BatchRunSummary& summary);
    void OnTakeLines(wxTimerEvent& event);
    void OnPropertyChanged(wxPropertyGridEvent& event);
    void OnTabChanging(wxBookCtrlEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    // The window side: layout, title, unsaved edits, keys.
    void LayOut();
    void RestorePlacement();
    void RememberPlacement();
    void OnCharHook(wxKeyEvent& event);
    void MarkSaved(const wxString& path);
    void UpdateTitle();
    bool SaveTo(const wxString& path);
    // Asks about unsaved edits before the window closes; false keeps it open.
    bool MayClose();
    // Asks about unsaved edits before they would be lost (question, and the label of the
    // answer that drops them); false when the user keeps them.
    bool MayDropEdits(const wxString& question, const wxString& discardLabel);
    // The file's name for those questions, "Untitled" for none.
    wxString EditedName() const;
    wxString FileDialogFolder() const;
    void SaveListOutput(OutputList* list);

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

    // The window side: the settings and the notifier handed in, the file shown in the
    // title and what it held, the starting folder.
    SettingsFile* settings_ = nullptr;
    NotificationService* notifier_ = nullptr;
    wxString currentFile_;
    BatchFields savedFields_;
    wxString startingFolder_;
    wxSize defaultSize_;
    bool closeConfirmed_ = false;  // the unsaved-edits question has been answered
};
