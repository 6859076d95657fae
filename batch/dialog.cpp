// The batch dialog's controls, its batch files, the unsaved-edits question and the program
// search. The layout and keys are in dialog_layout.cpp, running in dialog_run.cpp.
#include "batch/dialog.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/imaglist.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/propgrid/advprops.h>
#include <wx/propgrid/manager.h>
#include <wx/propgrid/props.h>
#include <wx/stattext.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include "batch/desktop_open.h"
#include "batch/history_panel.h"
#include "batch/icons.h"
#include "batch/notifications.h"
#include "batch/output_list.h"
#include "batch/program_search.h"
#include "batch/schedule_dialog.h"
#include "batch/settings.h"

const char* const kPropertyExecutablePath = "Executable Path";
const char* const kPropertyExecutableProgram = "Executable Program";
const char* const kPropertyArguments = "Arguments";
const char* const kPropertyStdinFile = "Stdin File";
const char* const kPropertyEnvironment = "Environment";
const char* const kPropertyWorkingDirectory = "Working Directory";
const char* const kPropertyLogFile = "Log File";

namespace {
const char* const kBatchFileFilter = "Corvantix Batch Files (*.cvbatch)|*.cvbatch";
const char* const kTitle = "Corvantix Batch Utility";
const int kNameColumnWidth = 180;

wxString FromUtf8(const std::string& text) {
    return OutputLineText(text);
}

bool SameFields(const BatchFields& a, const BatchFields& b) {
    return a.program == b.program && a.arguments == b.arguments &&
           a.workingDirectory == b.workingDirectory && a.environment == b.environment &&
           a.stdinFile == b.stdinFile;
}

BatchDialogPrompts DesktopPrompts(ZYMBBatchWindow* dialog, NotificationService* notifier) {
    BatchDialogPrompts prompts;
    prompts.messageBox = [dialog](const wxString& text, const wxString& caption, long style) {
        return wxMessageBox(text, caption, style, dialog);
    };
    prompts.chooseBatchFile = [dialog](bool save, const wxString& folder,
                                       const wxString& fileName) {
        long style = save ? wxFD_SAVE | wxFD_OVERWRITE_PROMPT : wxFD_OPEN | wxFD_FILE_MUST_EXIST;
        wxFileDialog chooser(dialog, save ? "Save" : "Open", folder, fileName, kBatchFileFilter,
                             style);
        if (chooser.ShowModal() != wxID_OK) return wxString();
        wxString path = chooser.GetPath();
        // The default extension, for a name typed without one.
        if (save && path.AfterLast('/').Find('.') == wxNOT_FOUND) path += ".cvbatch";
        return path;
    };
    prompts.openWithDefaultProgram = [dialog, notifier](const wxString& path) {
        // The openers end after a while; the window may be gone by then.
        wxWeakRef<wxWindow> parent(dialog);
        OpenAsText(path, [parent, notifier, path](const wxString& reason) {
            notifier->Show(parent.get(), "Log Not Opened", reason, path, kIconFailure,
                           kIconCloseButton, kIconOptionButton, 10000, -1);
        });
    };
    prompts.askToSaveChanges = [dialog](const wxString& text, const wxString& discardLabel) {
        wxMessageDialog question(dialog, text, kTitle,
                                 wxYES_NO | wxCANCEL | wxCANCEL_DEFAULT | wxICON_WARNING);
        question.SetYesNoCancelLabels("&Save", discardLabel, "Cancel");
        return question.ShowModal() == wxID_YES      ? wxYES
               : question.GetReturnCode() == wxID_NO ? wxNO
                                                     : wxCANCEL;
    };
    prompts.chooseOutputFile = [dialog](const wxString& initialFile) {
        wxFileDialog chooser(dialog, "Save Output As", wxFileName(initialFile).GetPath(),
                             wxFileName(initialFile).GetFullName(),
                             "Text files (*.txt)|*.txt|All files|*",
                             wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        return chooser.ShowModal() == wxID_OK ? chooser.GetPath() : wxString();
    };
    return prompts;
}
}  // namespace

ZYMBBatchWindow::ZYMBBatchWindow(wxWindow* parent, const wxString& initialFile,
                                 SettingsFile* settings, NotificationService* notifier)
    : wxDialog(parent, wxID_ANY, kTitle, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxRESIZE_BORDER | wxCLOSE_BOX),
      initialFile_(initialFile),
      run_(&log_),
      takeTimer_(this) {
    settings_ = settings;
    notifier_ = notifier;
    // The program never changes its working folder, so this is where it was started.
    startingFolder_ = wxGetCwd();
    if (!initialFile_.empty()) {
        wxFileName file(initialFile_);
        file.MakeAbsolute(startingFolder_);
        initialFile_ = file.GetFullPath();
    }
    SetIcons(BatchIcon_ApplicationBundle());
    std::string reason;
    if (!log_.Open(&reason)) logReason_ = wxString::FromUTF8(reason.c_str());
    prompts_ = DesktopPrompts(this, notifier_);
    BuildControls();
    BuildProperties();
    ConnectRun();
    RestorePlacement();
    // Once the window is up: a log that could not be made is said once, then the batch
    // file of the command line is loaded.
    CallAfter([this] {
        if (!log_.IsOpen())
            Notify("Log Not Created", "The batch log could not be created", logReason_,
                   kIconFailure);
        if (!initialFile_.empty()) LoadFile(initialFile_);
    });
}

void ZYMBBatchWindow::BuildControls() {
    // Dialog units follow the dialog's 8-point font, as the layout was drawn in them.
    SetFont(wxFontInfo(8));
    defaultSize_ = ConvertDialogToPixels(wxSize(653, 436));

    // The description box is laid out with the size the grid had before its first size
    // event: none, and GTK complains about the negative width loudly. So the grid gets its
    // first size event before it has a description box.
    grid_ = new wxPropertyGridManager(this, ID_GRID, wxDefaultPosition,
                                      ConvertDialogToPixels(wxSize(639, 167)),
                                      static_cast<long>(wxPG_BOLD_MODIFIED) | wxBORDER_SUNKEN);
    grid_->SendSizeEvent();
    grid_->SetWindowStyleFlag(grid_->GetWindowStyleFlag() | wxPG_DESCRIPTION);
    grid_->SetDescBoxHeight(grid_->GetCharHeight() * 3 + 10);

    const wxSize buttonSize = ConvertDialogToPixels(wxSize(50, 14));
    new wxButton(this, ID_LOAD, "&Load", wxDefaultPosition, buttonSize);
    new wxButton(this, ID_SAVE, "&Save", wxDefaultPosition, buttonSize);
    new wxButton(this, ID_OPEN_LOG, "&Open Log", wxDefaultPosition, buttonSize);
    new wxButton(this, ID_SCHEDULE, wxString::FromUTF8("S&chedule…"), wxDefaultPosition,
                 buttonSize);

    tabs_ = new wxNotebook(this, ID_TABS, wxDefaultPosition,
                           ConvertDialogToPixels(wxSize(639, 202)), wxNB_BOTTOM);
    auto* images = new wxImageList(16, 16, true, 1);
    images->Add(BatchIcon_Bitmap(kIconInformation, 16));
    tabs_->AssignImageList(images);
    wxFont listFont(wxFontInfo(8).FaceName("Courier New").Family(wxFONTFAMILY_TELETYPE));
    if (!listFont.IsOk()) listFont = wxFont(wxFontInfo(8).Family(wxFONTFAMILY_TELETYPE));
    outputList_ = new OutputList(tabs_, ID_OUTPUT_LIST, listFont);
    messagesList_ = new OutputList(tabs_, ID_MESSAGES_LIST, listFont);
    tabs_->AddPage(outputList_, "Program Output", true, 0);
    tabs_->AddPage(messagesList_, "Program Messages", false, 0);
    tabs_->AddPage(
        new HistoryPanel(tabs_,
                         [this](const wxString& path) { prompts_.openWithDefaultProgram(path); }),
        "History", false, 0);
    for (OutputList* list : {outputList_, messagesList_}) {
        list->SetSaveHandler([this](OutputList* from) { SaveListOutput(from); });
        // The list may be as small as the window makes it; the tabs must stay in view.
        list->SetMinSize(wxSize(40, 20));
    }

    // Under the tabs, beside Run and Cancel: the clock of a run, or how the last one ended.
    statusLine_ = new wxStaticText(this, wxID_ANY, wxString(), wxDefaultPosition,
                                   ConvertDialogToPixels(wxSize(530, 10)),
                                   wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    runButton_ = new wxButton(this, ID_RUN, "Run", wxDefaultPosition, buttonSize);
    runButton_->SetDefault();
    closeButton_ = new wxButton(this, ID_CLOSE, "Cancel", wxDefaultPosition, buttonSize);
    SetEscapeId(ID_CLOSE);
    SetAffirmativeId(ID_RUN);
    LayOut();

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnRun(); }, ID_RUN);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnClose(); }, ID_CLOSE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnLoad(); }, ID_LOAD);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); }, ID_SAVE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnOpenLog(); }, ID_OPEN_LOG);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { ShowScheduleDialog(this, currentFile_); },
        ID_SCHEDULE);
    Bind(wxEVT_PG_CHANGED, &ZYMBBatchWindow::OnPropertyChanged, this, ID_GRID);
    Bind(wxEVT_NOTEBOOK_PAGE_CHANGING, &ZYMBBatchWindow::OnTabChanging, this, ID_TABS);
    Bind(wxEVT_CLOSE_WINDOW, &ZYMBBatchWindow::OnCloseWindow, this);
    Bind(wxEVT_CHAR_HOOK, &ZYMBBatchWindow::OnCharHook, this);
    Bind(wxEVT_TIMER, &ZYMBBatchWindow::OnTakeLines, this, takeTimer_.GetId());
    // The name column keeps its width whatever the grid's size.
    grid_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        CallAfter([this] { grid_->SetSplitterPosition(kNameColumnWidth); });
    });
}

void ZYMBBatchWindow::BuildProperties() {
    wxPropertyGridPage* page = grid_->AddPage();
    auto text = [page](const char* name, const wxString& value, const char* help, bool readOnly) {
        wxPGProperty* property = page->Append(new wxStringProperty(name, wxPG_LABEL, value));
        if (help != nullptr) property->SetHelpString(help);
        if (readOnly) property->ChangeFlag(wxPG_PROP_READONLY, true);
        return property;
    };
    const char* programHelp = "Path to synchronization executable";
    // The groups have names of their own: a group and a property may share a label.
    page->Append(new wxPropertyCategory("Program", "group:Program"));
    programPathProperty_ = text(kPropertyExecutablePath, wxString(), programHelp, true);
    programProperty_ = text(kPropertyExecutableProgram, wxString(), programHelp, false);
    argumentsProperty_ = text(kPropertyArguments, wxString(), "Command Arguments", false);

    page->Append(new wxPropertyCategory("Environment", "group:Environment"));
    stdinProperty_ = page->Append(new wxFileProperty(kPropertyStdinFile, wxPG_LABEL, wxString()));
    stdinProperty_->SetHelpString("File to be processed by the Sync");
    stdinProperty_->SetAttribute(wxPG_FILE_DIALOG_STYLE,
                                 static_cast<long>(wxFD_OPEN | wxFD_FILE_MUST_EXIST));
    stdinProperty_->SetAttribute(wxPG_FILE_WILDCARD, "All files|*");
    stdinProperty_->SetAttribute(wxPG_FILE_SHOW_FULL_PATH, true);
    environmentProperty_ = text(kPropertyEnvironment, wxString(),
                                "Environmental variables to be merged with the existing "
                                "variables, Delimited by semicolons eg. VAR1=VAL1;VAR2=VAL2",
                                false);
    workingDirectoryProperty_ =
        page->Append(new wxDirProperty(kPropertyWorkingDirectory, wxPG_LABEL, wxString()));

    page->Append(new wxPropertyCategory("Logging", "group:Logging"));
    logFileProperty_ = text(kPropertyLogFile, wxString::FromUTF8(log_.Path().c_str()),
                            "Path to log file that will capture debugging information", true);
    grid_->ExpandAll();
    grid_->SetSplitterPosition(kNameColumnWidth);
}

ZYMBBatchWindow::~ZYMBBatchWindow() {
    // A run still going is cancelled by the controller's end, which waits for its threads
    // and completes its log sections, so no callback outlives us.
    closing_ = true;
    takeTimer_.Stop();
    run_.Cancel();
}

wxString ZYMBBatchWindow::PropertyText(const char* name) const {
    return grid_->GetPropertyValueAsString(name);
}

void ZYMBBatchWindow::EditProperty(const char* name, const wxString& text) {
    grid_->GetGrid()->ChangePropertyValue(name, text);
}

BatchFields ZYMBBatchWindow::FieldsFromProperties() const {
    BatchFields fields;
    fields.program = PropertyText(kPropertyExecutableProgram).utf8_string();
    fields.arguments = PropertyText(kPropertyArguments).utf8_string();
    fields.workingDirectory = PropertyText(kPropertyWorkingDirectory).utf8_string();
    fields.environment = PropertyText(kPropertyEnvironment).utf8_string();
    fields.stdinFile = PropertyText(kPropertyStdinFile).utf8_string();
    return fields;
}

void ZYMBBatchWindow::Notify(const wxString& title, const wxString& firstLine,
                             const wxString& secondLine, int icon) {
    notifier_->Show(this, title, firstLine, secondLine, icon, kIconCloseButton, kIconOptionButton,
                    10000, -1);
}

void ZYMBBatchWindow::OnPropertyChanged(wxPropertyGridEvent&) {
    SearchForProgram();
    UpdateTitle();
}

void ZYMBBatchWindow::SearchForProgram() {
    wxString program = PropertyText(kPropertyExecutableProgram);
    std::string found = SearchProgram(program.utf8_str());
    if (!found.empty()) {
        wxString path = FromUtf8(found);
        grid_->SetPropertyValue(kPropertyExecutablePath, path);
        Notify("Program Found", "Program found in path", "Found in " + path, kIconSuccess);
    } else {
        // Never the path of a program that is no longer the one named.
        grid_->SetPropertyValue(kPropertyExecutablePath, wxString());
        Notify("Invalid Program", program + " not found in path", wxString(), kIconFailure);
    }
}

void ZYMBBatchWindow::LoadFile(const wxString& path) {
    BatchReadResult result = definition_.Read(path.utf8_str(), true);
    if (!result.ok) {
        Notify("Config File Loaded", FromUtf8(result.errorText),
               wxString::Format("Error on line %u", static_cast<unsigned>(result.errorLine)),
               kIconFailure);
        return;
    }
    struct Loaded {
        const char* property;
        const std::optional<std::string>& value;
    };
    for (const Loaded& loaded : {Loaded{kPropertyExecutableProgram, result.program},
                                 Loaded{kPropertyArguments, result.arguments},
                                 Loaded{kPropertyWorkingDirectory, result.workingDirectory},
                                 Loaded{kPropertyEnvironment, result.environment},
                                 Loaded{kPropertyStdinFile, result.stdinFile}}) {
        // A setting the file leaves out is empty, as --run takes it: the window never runs
        // a value of the file loaded before under this file's name.
        grid_->SetPropertyValue(loaded.property,
                                loaded.value ? FromUtf8(*loaded.value) : wxString());
    }
    MarkSaved(path);
    Notify("Config File Loaded", "Parsed OK",
           "Program is " + PropertyText(kPropertyExecutableProgram), kIconSuccess);
    SearchForProgram();
}

wxString ZYMBBatchWindow::FileDialogFolder() const {
    // The folder of the file shown (loaded at start, by Load, or saved), else of the one
    // Load took last, else the starting folder.
    if (!currentFile_.empty() && wxFileName::DirExists(wxFileName(currentFile_).GetPath()))
        return wxFileName(currentFile_).GetPath();
    wxString last = settings_->ReadText("Runtime", "LastDirectory");
    wxString folder = last.empty() ? wxString() : wxFileName(last).GetPath();
    return !folder.empty() && wxFileName::DirExists(folder) ? folder : startingFolder_;
}

void ZYMBBatchWindow::OnLoad() {
    // Loading replaces every property: edits not yet saved are asked about first.
    if (!MayDropEdits("Save changes to " + EditedName() + " before loading another file?",
                      "Load &without Saving"))
        return;
    wxString last = settings_->ReadText("Runtime", "LastDirectory");
    wxString name = last.empty() ? wxString() : wxFileName(last).GetFullName();
    wxString path = prompts_.chooseBatchFile(false, FileDialogFolder(), name);
    if (path.empty()) return;
    LoadFile(path);
    settings_->WriteText("Runtime", "LastDirectory", path);
}

void ZYMBBatchWindow::OnSave() {
    wxString name = currentFile_.empty() ? wxString() : wxFileName(currentFile_).GetFullName();
    wxString path = prompts_.chooseBatchFile(true, FileDialogFolder(), name);
    if (path.empty()) return;
    SaveTo(path);
}

bool ZYMBBatchWindow::SaveTo(const wxString& path) {
    BatchFields fields = FieldsFromProperties();
    definition_.CopyIntoTree(fields);
    if (!definition_.Write(path.utf8_str())) {
        prompts_.messageBox("Failed to save file", "Save Failed", wxOK | wxICON_WARNING);
        return false;
    }
    MarkSaved(path);
    return true;
}

void ZYMBBatchWindow::MarkSaved(const wxString& path) {
    wxFileName file(path);
    file.MakeAbsolute(startingFolder_);
    currentFile_ = file.GetFullPath();
    savedFields_ = FieldsFromProperties();
    // The values are what the file holds now: none of them is shown as changed.
    grid_->ClearModifiedStatus();
    grid_->Refresh();
    UpdateTitle();
}

bool ZYMBBatchWindow::HasUnsavedEdits() const {
    return !SameFields(FieldsFromProperties(), savedFields_);
}

void ZYMBBatchWindow::UpdateTitle() {
    if (currentFile_.empty()) {
        SetTitle(kTitle);
        return;
    }
    wxString title =
        wxFileName(currentFile_).GetFullName() + wxString::FromUTF8(" \u2013 ") + kTitle;
    SetTitle(HasUnsavedEdits() ? "*" + title : title);
}

bool ZYMBBatchWindow::MayDropEdits(const wxString& question, const wxString& discardLabel) {
    if (!HasUnsavedEdits()) return true;
    int answer = prompts_.askToSaveChanges(question, discardLabel);
    if (answer == wxCANCEL) return false;
    if (answer == wxYES) {
        wxString path = currentFile_;
        if (path.empty()) path = prompts_.chooseBatchFile(true, FileDialogFolder(), wxString());
        if (path.empty() || !SaveTo(path)) return false;
    }
    return true;
}

wxString ZYMBBatchWindow::EditedName() const {
    return currentFile_.empty() ? wxString("Untitled") : wxFileName(currentFile_).GetFullName();
}

bool ZYMBBatchWindow::MayClose() {
    if (!closeConfirmed_ && !MayDropEdits("Save changes to " + EditedName() + " before closing?",
                                          "Close &without Saving"))
        return false;
    closeConfirmed_ = true;
    RememberPlacement();
    return true;
}

void ZYMBBatchWindow::OnOpenLog() {
    if (!log_.IsOpen()) return;
    log_.Flush();
    prompts_.openWithDefaultProgram(wxString::FromUTF8(log_.Path().c_str()));
}

void ZYMBBatchWindow::SaveListOutput(OutputList* list) {
    wxString name = list == outputList_ ? "output.txt" : "messages.txt";
    wxString path = prompts_.chooseOutputFile(startingFolder_ + "/" + name);
    if (path.empty()) return;
    wxString reason;
    if (!list->SaveLines(path, &reason))
        prompts_.messageBox("The output could not be saved to " + path + ": " + reason,
                            "Save Failed", wxOK | wxICON_WARNING);
}

void ZYMBBatchWindow::OnTabChanging(wxBookCtrlEvent& event) {
    int page = event.GetSelection();
    if (page == 0) outputList_->FitColumn();
    if (page == 1) messagesList_->FitColumn();
    event.Skip();  // the change is allowed
}
