// The batch dialog's controls, its batch files and the program search. Running is in
// dialog_run.cpp.
#include "batch/dialog.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/imaglist.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/propgrid/advprops.h>
#include <wx/propgrid/manager.h>
#include <wx/propgrid/props.h>
#include <wx/utils.h>

#include "batch/app.h"
#include "batch/history_panel.h"
#include "batch/icons.h"
#include "batch/output_list.h"
#include "batch/program_search.h"
#include "batch/schedule_dialog.h"

const char* const kPropertyExecutablePath = "Executable Path";
const char* const kPropertyExecutableProgram = "Executable Program";
const char* const kPropertyArguments = "Arguments";
const char* const kPropertyStdinFile = "Stdin File";
const char* const kPropertyEnvironment = "Environent";
const char* const kPropertyWorkingDirectory = "Working Directory";
const char* const kPropertyLogFile = "Log File";

namespace {
const char* const kBatchFileFilter = "Corvantix Batch Files (*.cvbatch)|*.cvbatch";
const int kNameColumnWidth = 180;

wxString FromUtf8(const std::string& text) {
    return OutputLineText(text);
}

BatchDialogPrompts DesktopPrompts(wxWindow* parent) {
    BatchDialogPrompts prompts;
    prompts.messageBox = [parent](const wxString& text, const wxString& caption, long style) {
        return wxMessageBox(text, caption, style, parent);
    };
    prompts.chooseBatchFile = [parent](bool save, const wxString& initialFile) {
        long style = save ? wxFD_SAVE | wxFD_OVERWRITE_PROMPT : wxFD_OPEN | wxFD_FILE_MUST_EXIST;
        wxFileDialog chooser(parent, save ? "Save" : "Open", wxString(), wxString(),
                             kBatchFileFilter, style);
        if (!initialFile.empty()) chooser.SetPath(initialFile);
        if (chooser.ShowModal() != wxID_OK) return wxString();
        wxString path = chooser.GetPath();
        // The default extension, for a name typed without one.
        if (save && path.AfterLast('/').Find('.') == wxNOT_FOUND) path += ".cvbatch";
        return path;
    };
    prompts.openWithDefaultProgram = [](const wxString& path) { wxLaunchDefaultApplication(path); };
    return prompts;
}
}  // namespace

ZYMBBatchDlg::ZYMBBatchDlg(wxWindow* parent, const wxString& initialFile)
    : wxDialog(parent, wxID_ANY, "Corvantix Batch Utility", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxRESIZE_BORDER | wxCLOSE_BOX),
      initialFile_(initialFile),
      run_(&log_),
      takeTimer_(this) {
    SetIcons(BatchIcon_ApplicationBundle());
    std::string reason;
    if (!log_.Open(&reason)) logReason_ = wxString::FromUTF8(reason.c_str());
    prompts_ = DesktopPrompts(this);
    BuildControls();
    BuildProperties();
    BuildStatusLine();
    // Once the window is up: a log that could not be made is said once, then the batch
    // file of the command line is loaded.
    CallAfter([this] {
        if (!log_.IsOpen())
            Notify("Log Not Created", "The batch log could not be created", logReason_,
                   kIconFailure);
        if (!initialFile_.empty()) LoadFile(initialFile_);
    });
}

void ZYMBBatchDlg::BuildControls() {
    // Dialog units follow the dialog's 8-point font, as the layout was drawn in them.
    SetFont(wxFontInfo(8));
    auto rect = [this](int x, int y, int width, int height) {
        wxPoint corner = ConvertDialogToPixels(wxPoint(x, y));
        wxSize size = ConvertDialogToPixels(wxSize(width, height));
        return wxRect(corner, size);
    };
    SetClientSize(ConvertDialogToPixels(wxSize(653, 436)));

    wxRect gridRect = rect(7, 7, 639, 167);
    grid_ = new wxPropertyGridManager(this, ID_GRID, wxDefaultPosition, wxDefaultSize,
                                      wxPG_DESCRIPTION | wxPG_BOLD_MODIFIED | wxBORDER_SUNKEN);
    grid_->SetSize(gridRect);
    grid_->SetDescBoxHeight(grid_->GetCharHeight() * 3 + 10);

    struct ButtonPlace {
        int id;
        const char* caption;
        int x, y;
    };
    for (const ButtonPlace& place :
         {ButtonPlace{ID_LOAD, "&Load", 7, 180}, ButtonPlace{ID_SAVE, "&Save", 59, 180},
          ButtonPlace{ID_OPEN_LOG, "&Open Log", 111, 180},
          ButtonPlace{ID_SCHEDULE, "S&chedule…", 163, 180}}) {
        wxRect r = rect(place.x, place.y, 50, 14);
        new wxButton(this, place.id, wxString::FromUTF8(place.caption), r.GetPosition(),
                     r.GetSize());
    }

    wxRect tabsRect = rect(8, 200, 639, 202);
    tabs_ = new wxNotebook(this, ID_TABS, tabsRect.GetPosition(), tabsRect.GetSize(), wxNB_BOTTOM);
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

    wxRect runRect = rect(545, 416, 50, 14);
    runButton_ = new wxButton(this, ID_RUN, "Run", runRect.GetPosition(), runRect.GetSize());
    runButton_->SetDefault();
    wxRect closeRect = rect(597, 416, 50, 14);
    closeButton_ =
        new wxButton(this, ID_CLOSE, "Cancel", closeRect.GetPosition(), closeRect.GetSize());
    SetEscapeId(ID_CLOSE);
    SetAffirmativeId(ID_RUN);

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
        wxEVT_BUTTON, [this](wxCommandEvent&) { ShowScheduleDialog(this, initialFile_); },
        ID_SCHEDULE);
    Bind(wxEVT_PG_CHANGED, &ZYMBBatchDlg::OnPropertyChanged, this, ID_GRID);
    Bind(wxEVT_NOTEBOOK_PAGE_CHANGING, &ZYMBBatchDlg::OnTabChanging, this, ID_TABS);
    Bind(wxEVT_CLOSE_WINDOW, &ZYMBBatchDlg::OnCloseWindow, this);
    Bind(wxEVT_TIMER, &ZYMBBatchDlg::OnTakeLines, this, takeTimer_.GetId());
    // The name column keeps its width whatever the grid's size.
    grid_->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        CallAfter([this] { grid_->SetSplitterPosition(kNameColumnWidth); });
    });
}

void ZYMBBatchDlg::BuildProperties() {
    wxPropertyGridPage* page = grid_->AddPage();
    auto text = [page](const char* name, const wxString& value, const char* help, bool readOnly) {
        wxPGProperty* property = page->Append(new wxStringProperty(name, wxPG_LABEL, value));
        if (help != nullptr) property->SetHelpString(help);
        if (readOnly) property->ChangeFlag(wxPG_PROP_READONLY, true);
        return property;
    };
    const char* programHelp = "Path to synchronization executable";
    page->Append(new wxPropertyCategory("Program"));
    programPathProperty_ = text(kPropertyExecutablePath, wxString(), programHelp, true);
    programProperty_ = text(kPropertyExecutableProgram, wxString(), programHelp, false);
    argumentsProperty_ = text(kPropertyArguments, wxString(), "Command Arguments", false);

    page->Append(new wxPropertyCategory("Environment"));
    stdinProperty_ = page->Append(new wxFileProperty(kPropertyStdinFile, wxPG_LABEL, wxString()));
    stdinProperty_->SetHelpString("File to be processed by the Sync");
    stdinProperty_->SetAttribute(wxPG_FILE_DIALOG_STYLE,
                                 static_cast<long>(wxFD_OPEN | wxFD_FILE_MUST_EXIST));
    stdinProperty_->SetAttribute(wxPG_FILE_WILDCARD, "All files|*");
    stdinProperty_->SetAttribute(wxPG_FILE_SHOW_FULL_PATH, true);
    environmentProperty_ = text(kPropertyEnvironment, wxString(),
                                "Environmental variables to be merged with the existing "
                                "variables, Delimited by colons eg. VAR1=VAL1;VAR2=VAL2",
                                false);
    workingDirectoryProperty_ =
        page->Append(new wxDirProperty(kPropertyWorkingDirectory, wxPG_LABEL, wxString()));

    page->Append(new wxPropertyCategory("Logging"));
    logFileProperty_ = text(kPropertyLogFile, wxString::FromUTF8(log_.Path().c_str()),
                            "Path to log file that will capture debugging information", true);
    grid_->ExpandAll();
    grid_->SetSplitterPosition(kNameColumnWidth);
}

ZYMBBatchDlg::~ZYMBBatchDlg() {
    // A run still going is cancelled by the controller's end, which waits for its threads
    // and completes its log sections, so no callback outlives us.
    closing_ = true;
    takeTimer_.Stop();
    run_.Cancel();
}

wxString ZYMBBatchDlg::PropertyText(const char* name) const {
    return grid_->GetPropertyValueAsString(name);
}

void ZYMBBatchDlg::EditProperty(const char* name, const wxString& text) {
    grid_->GetGrid()->ChangePropertyValue(name, text);
}

BatchFields ZYMBBatchDlg::FieldsFromProperties() const {
    BatchFields fields;
    fields.program = PropertyText(kPropertyExecutableProgram).utf8_string();
    fields.arguments = PropertyText(kPropertyArguments).utf8_string();
    fields.workingDirectory = PropertyText(kPropertyWorkingDirectory).utf8_string();
    fields.environment = PropertyText(kPropertyEnvironment).utf8_string();
    fields.stdinFile = PropertyText(kPropertyStdinFile).utf8_string();
    return fields;
}

void ZYMBBatchDlg::Notify(const wxString& title, const wxString& firstLine,
                          const wxString& secondLine, int icon) {
    if (CZYMBWinApp* app = CZYMBWinApp_Current())
        app->ShowNotification(this, title, firstLine, secondLine, icon, kIconCloseButton,
                              kIconOptionButton, 10000, -1);
}

void ZYMBBatchDlg::OnPropertyChanged(wxPropertyGridEvent&) {
    SearchForProgram();
}

void ZYMBBatchDlg::SearchForProgram() {
    wxString program = PropertyText(kPropertyExecutableProgram);
    std::string found = SearchProgram(program.utf8_str());
    if (!found.empty()) {
        wxString path = FromUtf8(found);
        grid_->SetPropertyValue(kPropertyExecutablePath, path);
        Notify("Program Found", "Program found in path", "Found in " + path, kIconSuccess);
    } else {
        Notify("Invalid Program", program + " not found in path", wxString(), kIconFailure);
    }
}

void ZYMBBatchDlg::LoadFile(const wxString& path) {
    BatchReadResult result = definition_.Read(path.utf8_str());
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
        if (loaded.value) grid_->SetPropertyValue(loaded.property, FromUtf8(*loaded.value));
    }
    Notify("Config File Loaded", "Parsed OK",
           "Program is " + PropertyText(kPropertyExecutableProgram), kIconSuccess);
    SearchForProgram();
}

void ZYMBBatchDlg::OnLoad() {
    CZYMBWinApp* app = CZYMBWinApp_Current();
    wxString last =
        app != nullptr ? app->Profile().ReadText("Runtime", "LastDirectory") : wxString();
    wxString path = prompts_.chooseBatchFile(false, last);
    if (path.empty()) return;
    LoadFile(path);
    if (app != nullptr) app->Profile().WriteText("Runtime", "LastDirectory", path);
}

void ZYMBBatchDlg::OnSave() {
    wxString path = prompts_.chooseBatchFile(true, wxString());
    if (path.empty()) return;
    definition_.CopyIntoTree(FieldsFromProperties());
    if (!definition_.Write(path.utf8_str()))
        prompts_.messageBox("Failed to save file", "Save Failed", wxOK | wxICON_WARNING);
}

void ZYMBBatchDlg::OnOpenLog() {
    if (!log_.IsOpen()) return;
    log_.Flush();
    prompts_.openWithDefaultProgram(wxString::FromUTF8(log_.Path().c_str()));
}

void ZYMBBatchDlg::OnTabChanging(wxBookCtrlEvent& event) {
    int page = event.GetSelection();
    if (page == 0) outputList_->FitColumn();
    if (page == 1) messagesList_->FitColumn();
    event.Skip();  // the change is allowed
}
