// The batch dialog as a real window on the test display, driven through its controls'
// events: loading, editing, running a child, pausing and cancelling it, saving.
#include "batch/dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/notebook.h>
#include <wx/propgrid/manager.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <fstream>
#include <regex>

#include "batch/desktop_open.h"
#include "batch/icons.h"
#include "batch/output_list.h"
#include "batch/window_test_support.h"
#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::WriteFile;
using windowtest::App;

namespace {
struct Asked {
    wxString text, caption;
    long style;
};

class BatchDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        settings_ = windowtest::FreshSettings();
        ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
        firstNotification_ = App().Notifications().Shown().size();
        OpenDialog(wxString());
    }

    void TearDown() override {
        CloseDialog();
        App().Notifications().CloseAll();
        App().EndApplication();
    }

    void OpenDialog(const wxString& initialFile) {
        dialog_ =
            new ZYMBBatchWindow(nullptr, initialFile, &App().Settings(), &App().Notifications());
        BatchDialogPrompts& prompts = dialog_->Prompts();
        prompts.messageBox = [this](const wxString& text, const wxString& caption, long style) {
            asked_.push_back({text, caption, style});
            if (answerHook_) answerHook_();
            return answer_;
        };
        prompts.chooseBatchFile = [this](bool save, const wxString& folder, const wxString& name) {
            chooserFolder_.push_back(folder);
            chooserName_.push_back(name);
            (void)save;
            return chosenFile_;
        };
        prompts.openWithDefaultProgram = [this](const wxString& path) { opened_ = path; };
        prompts.askToSaveChanges = [this](const wxString& text, const wxString&) {
            asked_.push_back({text, "save changes?", 0});
            return saveAnswer_;
        };
        prompts.chooseOutputFile = [this](const wxString& initial) {
            chooserName_.push_back(initial);
            return chosenFile_;
        };
        dialog_->Show();
        windowtest::Pump(100);
    }

    void CloseDialog() {
        if (dialog_ == nullptr) return;
        dialog_->Destroy();
        dialog_ = nullptr;
        windowtest::Pump(20);
    }

    void Click(int id) {
        wxWindow* button = dialog_->FindWindow(id);
        ASSERT_NE(button, nullptr) << id;
        wxCommandEvent click(wxEVT_BUTTON, id);
        click.SetEventObject(button);
        button->ProcessWindowEvent(click);
    }

    // Notifications shown since the test began, as "title | first | second".
    std::vector<std::string> Notifications() const {
        std::vector<std::string> texts;
        const auto& shown = App().Notifications().Shown();
        for (size_t i = firstNotification_; i < shown.size(); ++i)
            texts.push_back(
                (shown[i].title + " | " + shown[i].firstLine + " | " + shown[i].secondLine)
                    .utf8_string());
        return texts;
    }

    bool WaitForNotification(const std::string& title, size_t count = 1) {
        return windowtest::PumpUntil([&] {
            size_t seen = 0;
            for (const std::string& text : Notifications())
                if (text.rfind(title + " |", 0) == 0) ++seen;
            return seen >= count;
        });
    }

    std::vector<std::string> ListLines(OutputList* list) const {
        std::vector<std::string> lines;
        for (size_t i = 0; i < list->Count(); ++i) lines.push_back(list->Line(i));
        return lines;
    }

    void RunAndWait(size_t completedBefore) {
        Click(ZYMBBatchWindow::ID_RUN);
        ASSERT_TRUE(WaitForNotification("Output Statistics", completedBefore + 1));
    }

    std::string settings_;
    size_t firstNotification_ = 0;
    ZYMBBatchWindow* dialog_ = nullptr;
    std::vector<Asked> asked_;
    int answer_ = wxOK;
    std::function<void()> answerHook_;
    std::vector<wxString> chooserFolder_, chooserName_;
    wxString chosenFile_;
    int saveAnswer_ = wxCANCEL;
    wxString opened_;
};

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}
}  // namespace

TEST_F(BatchDialogTest, ShowsTheDefinitionInAGroupedGridAboveTwoOutputTabs) {
    EXPECT_EQ(dialog_->GetTitle(), "Corvantix Batch Utility");
    struct Row {
        const char* group;
        const char* name;
        bool readOnly;
        const char* help;
    } expected[] = {
        {"Program", kPropertyExecutablePath, true, "Path to synchronization executable"},
        {"Program", kPropertyExecutableProgram, false, "Path to synchronization executable"},
        {"Program", kPropertyArguments, false, "Command Arguments"},
        {"Environment", kPropertyStdinFile, false, "File to be processed by the Sync"},
        {"Environment", kPropertyEnvironment, false,
         "Environmental variables to be merged with the existing variables, Delimited by "
         "semicolons eg. VAR1=VAL1;VAR2=VAL2"},
        {"Environment", kPropertyWorkingDirectory, false, ""},
        {"Logging", kPropertyLogFile, true,
         "Path to log file that will capture debugging information"},
    };
    size_t row = 0;
    for (wxPropertyGridIterator it =
             dialog_->Grid()->GetGrid()->GetIterator(wxPG_ITERATE_PROPERTIES);
         !it.AtEnd(); ++it, ++row) {
        wxPGProperty* property = *it;
        ASSERT_LT(row, std::size(expected));
        EXPECT_EQ(property->GetLabel(), expected[row].name);
        EXPECT_EQ(property->GetParent()->GetLabel(), expected[row].group);
        EXPECT_TRUE(property->GetParent()->IsExpanded());
        EXPECT_EQ(property->HasFlag(wxPG_PROP_READONLY) != 0, expected[row].readOnly)
            << expected[row].name;
        EXPECT_EQ(property->GetHelpString(), expected[row].help) << expected[row].name;
    }
    EXPECT_EQ(row, std::size(expected));
    EXPECT_EQ(dialog_->Grid()->GetGrid()->GetSplitterPosition(), 180);
    EXPECT_EQ(dialog_->PropertyText(kPropertyLogFile), dialog_->Log().Path());

    ASSERT_EQ(dialog_->Tabs()->GetPageCount(), 3u);
    EXPECT_EQ(dialog_->Tabs()->GetPageText(0), "Program Output");
    EXPECT_EQ(dialog_->Tabs()->GetPageText(1), "Program Messages");
    EXPECT_EQ(dialog_->Tabs()->GetPageText(2), "History");
    EXPECT_TRUE(dialog_->Tabs()->HasFlag(wxNB_BOTTOM));
    for (OutputList* list : {dialog_->OutputLines(), dialog_->MessageLines()}) {
        EXPECT_EQ(list->GetBackgroundColour(), *wxBLACK);
        EXPECT_EQ(list->GetTextColour(), *wxWHITE);
        EXPECT_TRUE(list->GetFont().IsFixedWidth());
        EXPECT_EQ(list->GetColumnCount(), 1);
    }
    auto* run = dynamic_cast<wxButton*>(dialog_->FindWindow(ZYMBBatchWindow::ID_RUN));
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->GetLabel(), "Run");
    EXPECT_EQ(dialog_->GetDefaultItem(), run);
    for (auto [id, caption] : {std::pair{ZYMBBatchWindow::ID_CLOSE, "Cancel"},
                               {ZYMBBatchWindow::ID_LOAD, "&Load"},
                               {ZYMBBatchWindow::ID_SAVE, "&Save"},
                               {ZYMBBatchWindow::ID_OPEN_LOG, "&Open Log"}})
        EXPECT_EQ(dialog_->FindWindow(id)->GetLabel(), caption);

    Click(ZYMBBatchWindow::ID_OPEN_LOG);
    EXPECT_EQ(opened_, dialog_->Log().Path());
    // What the desktop's program opens is up to date.
    EXPECT_NE(ReadFile(dialog_->Log().Path()).find(":: Opening Log ("), std::string::npos);
}

TEST_F(BatchDialogTest, LoadsEditsRunsAndSavesADefinition) {
    const std::string folder = windowtest::Folder();
    WriteFile(folder + "/input.txt", "a line from the input file\n");
    const std::string script =
        "read line; echo \"got $line\"; echo \"greeting $GREETING\"; echo \"in $(pwd)\"; "
        "echo warning one >&2; printf \"no line end\"";
    const std::string batchFile = folder + "/job.cvbatch";
    WriteFile(batchFile, "options :\n{\n  program = \"sh\";\n  arguments = \"-c '" +
                             Escaped(script) + "'\";\n  working_directory = \"" + folder +
                             "\";\n  environment = \"GREETING=hello there;EMPTY=\";\n  stdin = \"" +
                             folder + "/input.txt\";\n  extra = 5;\n};\n");
    chosenFile_ = batchFile;
    Click(ZYMBBatchWindow::ID_LOAD);
    // Nothing remembered yet: the dialog opens in the folder the program was started in.
    EXPECT_EQ(chooserFolder_.at(0), wxGetCwd());
    EXPECT_EQ(chooserName_.at(0), "");
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutableProgram), "sh");
    EXPECT_EQ(dialog_->PropertyText(kPropertyWorkingDirectory), folder);
    EXPECT_EQ(dialog_->PropertyText(kPropertyEnvironment), "GREETING=hello there;EMPTY=");
    std::string shell = testsupport::FindProgram("sh");
    EXPECT_EQ(Notifications(), (std::vector<std::string>{
                                   "Config File Loaded | Parsed OK | Program is sh",
                                   "Program Found | Program found in path | Found in " + shell}));
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutablePath), shell);
    EXPECT_NE(ReadFile(settings_).find("LastDirectory=" + batchFile), std::string::npos);
    Click(ZYMBBatchWindow::ID_LOAD);
    // The Load dialog starts at the last file.
    EXPECT_EQ(chooserFolder_.at(1), folder);
    EXPECT_EQ(chooserName_.at(1), "job.cvbatch");

    // Any edit repeats the program search.
    size_t before = Notifications().size();
    dialog_->EditProperty(kPropertyArguments, "-c '" + script + "'");
    ASSERT_EQ(Notifications().size(), before + 1);
    EXPECT_EQ(Notifications().back(), "Program Found | Program found in path | Found in " + shell);

    RunAndWait(0);
    EXPECT_EQ(ListLines(dialog_->OutputLines()),
              (std::vector<std::string>{"got a line from the input file", "greeting hello there",
                                        "in " + folder, "no line end"}));
    EXPECT_EQ(ListLines(dialog_->MessageLines()), (std::vector<std::string>{"warning one"}));
    std::vector<std::string> all = Notifications();
    ASSERT_GE(all.size(), 2u);
    EXPECT_TRUE(std::regex_match(
        all[all.size() - 2],
        std::regex("Program Completed \\| Return Code was 0 \\| Runtime \\d+ seconds")))
        << all[all.size() - 2];
    EXPECT_EQ(all.back(),
              "Output Statistics | 4 records written to stdout | 1 records written to stderr");
    EXPECT_TRUE(dialog_->RunButton()->IsEnabled());
    EXPECT_TRUE(dialog_->Grid()->IsEnabled());
    if (getenv("ZYMBSCREENSHOTDIR") != nullptr) {
        dialog_->Tabs()->SetSelection(0);
        windowtest::Pump(600);  // the toasts have slid in and everything is drawn
        windowtest::MaybeScreenshot("batch-dialog");
        // Enlarged, with the notifications closed so that Run and Cancel show.
        App().Notifications().CloseAll();
        dialog_->SetSize(wxRect(wxPoint(0, 0), wxDisplay(0u).GetClientArea().GetSize()));
        windowtest::Pump(600);
        windowtest::MaybeScreenshot("batch-dialog-large");
    }

    std::string log = ReadFile(dialog_->Log().Path());
    size_t starting = log.find(":: Starting Program (");
    size_t stdoutHeader = log.find(":: Stdout (");
    size_t stderrHeader = log.find(":: Stderr (");
    size_t ended = log.find(":: Program Ended (");
    ASSERT_NE(ended, std::string::npos) << log;
    EXPECT_LT(starting, stdoutHeader);
    EXPECT_LT(stdoutHeader, stderrHeader);
    EXPECT_LT(stderrHeader, ended);
    EXPECT_NE(log.find("GREETING=hello there\n"), std::string::npos);
    std::string outputSection = log.substr(stdoutHeader, stderrHeader - stdoutHeader);
    EXPECT_NE(outputSection.find("\ngot a line from the input file\ngreeting hello there\n"),
              std::string::npos);
    EXPECT_NE(log.substr(stderrHeader, ended - stderrHeader).find("\nwarning one\n"),
              std::string::npos);

    // Save: the grid's texts, the unknown setting carried along; LastDirectory unchanged.
    dialog_->EditProperty(kPropertyEnvironment, "GREETING=\"quoted\" \\ back");
    chosenFile_ = folder + "/saved.cvbatch";
    Click(ZYMBBatchWindow::ID_SAVE);
    BatchDefinition saved;
    BatchReadResult result = saved.Read((folder + "/saved.cvbatch").c_str());
    ASSERT_TRUE(result.ok) << result.errorText;
    EXPECT_EQ(result.program.value_or("?"), "sh");
    EXPECT_EQ(result.environment.value_or("?"), "GREETING=\"quoted\" \\ back");
    EXPECT_EQ(result.stdinFile.value_or("?"), folder + "/input.txt");
    EXPECT_NE(ReadFile(folder + "/saved.cvbatch").find("extra = 5;"), std::string::npos);
    EXPECT_NE(ReadFile(settings_).find("LastDirectory=" + batchFile), std::string::npos);
    EXPECT_TRUE(asked_.empty());
}

TEST_F(BatchDialogTest, AFileThatDoesNotParseLeavesThePropertiesAsTheyWere) {
    dialog_->EditProperty(kPropertyExecutableProgram, "before");
    const std::string path = windowtest::Folder() + "/broken.cvbatch";
    WriteFile(path,
              "options :\n{\n  program = \"x\";\n  arguments = \"y\";\n\n\n  stdin = oops\n};\n");
    chosenFile_ = path;
    saveAnswer_ = wxNO;  // the edit may go
    Click(ZYMBBatchWindow::ID_LOAD);
    ASSERT_FALSE(Notifications().empty());
    const NotificationRecord& last = App().Notifications().Shown().back();
    EXPECT_EQ(last.title, "Config File Loaded");
    EXPECT_EQ(last.secondLine, "Error on line 7");
    EXPECT_EQ(last.icon, kIconFailure);
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutableProgram), "before");
    EXPECT_EQ(dialog_->PropertyText(kPropertyArguments), "");
}

TEST_F(BatchDialogTest, CancelDuringARunPausesTheChildAndAsks) {
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyArguments,
                          "-c 'echo started; echo going >&2; sleep 1; echo finished'");
    // No: the child goes on and finishes.
    char stateAtQuestion = '?';
    answerHook_ = [&] {
        EXPECT_TRUE(dialog_->Runner().flags & RUNNER_PAUSED);
        // The stop signal is delivered a moment after it is sent.
        windowtest::PumpUntil(
            [&] {
                std::string stat =
                    ReadFile("/proc/" + std::to_string(dialog_->Runner().pid) + "/stat");
                size_t close = stat.rfind(')');
                if (close != std::string::npos && close + 2 < stat.size())
                    stateAtQuestion = stat[close + 2];
                return stateAtQuestion == 'T';
            },
            2000);
    };
    answer_ = wxNO;
    Click(ZYMBBatchWindow::ID_RUN);
    EXPECT_FALSE(dialog_->RunButton()->IsEnabled());
    EXPECT_FALSE(dialog_->Grid()->IsEnabled());
    ASSERT_TRUE(windowtest::PumpUntil([&] { return dialog_->OutputLines()->Count() == 1; }));
    Click(ZYMBBatchWindow::ID_CLOSE);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0].caption, "Process Paused");
    EXPECT_EQ(asked_[0].text,
              "The running process has been paused.\nDo you want to cancel the process?");
    EXPECT_EQ(asked_[0].style & (wxYES_NO | wxICON_QUESTION), wxYES_NO | wxICON_QUESTION);
    EXPECT_EQ(stateAtQuestion, 'T');
    EXPECT_FALSE(dialog_->Runner().flags & RUNNER_PAUSED);
    ASSERT_TRUE(WaitForNotification("Output Statistics"));
    EXPECT_EQ(ListLines(dialog_->OutputLines()), (std::vector<std::string>{"started", "finished"}));
    EXPECT_EQ(dialog_->Tabs()->GetSelection(), 1);  // chosen when the run began, both empty

    // Yes, through the close box this time: the child is killed and the run reports 100.
    dialog_->EditProperty(kPropertyArguments, "-c 'echo started; exec sleep 30'");
    answer_ = wxYES;
    Click(ZYMBBatchWindow::ID_RUN);
    ASSERT_TRUE(windowtest::PumpUntil([&] { return dialog_->OutputLines()->Count() == 1; }));
    EXPECT_FALSE(dialog_->Close());  // vetoed: the question comes instead
    ASSERT_EQ(asked_.size(), 2u);
    ASSERT_TRUE(WaitForNotification("Output Statistics", 2));
    std::vector<std::string> all = Notifications();
    // A cancelled run says so.
    EXPECT_EQ(all[all.size() - 2].rfind("Program Cancelled | Return Code was 100 | Runtime ", 0),
              0u)
        << all[all.size() - 2];
    EXPECT_TRUE(dialog_->IsShown());
    EXPECT_TRUE(dialog_->RunButton()->IsEnabled());
}

TEST_F(BatchDialogTest, RefusedRunsChangeNothingAndFailedStartsSayWhy) {
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyArguments, "-c 'echo kept'");
    RunAndWait(0);
    ASSERT_EQ(dialog_->OutputLines()->Count(), 1u);

    dialog_->EditProperty(kPropertyExecutableProgram, "");
    Click(ZYMBBatchWindow::ID_RUN);
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyStdinFile, windowtest::Folder() + "/no-such-input");
    Click(ZYMBBatchWindow::ID_RUN);
    ASSERT_EQ(asked_.size(), 2u);
    EXPECT_EQ(asked_[0].caption, "Empty Program Path");
    EXPECT_EQ(asked_[0].text, "The Program Path can not be an empty string");
    EXPECT_EQ(asked_[1].caption, "Invalid StdIn file");
    EXPECT_EQ(asked_[1].text, "The StdIn file could not be opened: " + windowtest::Folder() +
                                  "/no-such-input: No such file or directory");
    EXPECT_EQ(dialog_->OutputLines()->Count(), 1u);  // the last run's output is still shown
    EXPECT_TRUE(dialog_->RunButton()->IsEnabled());

    dialog_->EditProperty(kPropertyStdinFile, "");
    dialog_->EditProperty(kPropertyExecutableProgram, windowtest::Folder() + "/no-such-program");
    Click(ZYMBBatchWindow::ID_RUN);
    ASSERT_TRUE(WaitForNotification("Program Failed to Start"));
    EXPECT_EQ(Notifications().back(), "Program Failed to Start | Return Code was 2 | The program " +
                                          windowtest::Folder() + "/no-such-program does not exist");
    EXPECT_TRUE(dialog_->RunButton()->IsEnabled());
    EXPECT_TRUE(dialog_->Grid()->IsEnabled());

    chosenFile_ = windowtest::Folder() + "/no-such-folder/out.cvbatch";
    Click(ZYMBBatchWindow::ID_SAVE);
    ASSERT_EQ(asked_.size(), 3u);
    EXPECT_EQ(asked_[2].caption, "Save Failed");
    EXPECT_EQ(asked_[2].text, "Failed to save file");
}

TEST_F(BatchDialogTest, AFloodOfLinesIsShownAndLoggedWhole) {
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyArguments, "-c 'seq 1 200000; seq 1 3000 >&2'");
    RunAndWait(0);
    ASSERT_EQ(dialog_->OutputLines()->Count(), 200000u);
    EXPECT_EQ(dialog_->OutputLines()->Line(0), "1");
    EXPECT_EQ(dialog_->OutputLines()->Line(199999), "200000");
    EXPECT_EQ(dialog_->MessageLines()->Count(), 3000u);
    EXPECT_EQ(
        Notifications().back(),
        "Output Statistics | 200000 records written to stdout | 3000 records written to stderr");
    std::string log = ReadFile(dialog_->Log().Path());
    size_t from = log.find(":: Stdout (");
    size_t to = log.find(":: Stderr (");
    ASSERT_NE(to, std::string::npos);
    std::vector<std::string> logged = testsupport::Lines(log.substr(from, to - from));
    // ":: Stdout (...)", "::", the lines, then "::" that opens the next header
    ASSERT_EQ(logged.size(), 200000u + 3u);
    EXPECT_EQ(logged[2], "1");
    EXPECT_EQ(logged[200001], "200000");
}

TEST_F(BatchDialogTest, ABatchFileGivenAtStartIsLoadedOnceTheWindowIsUp) {
    CloseDialog();
    const std::string path = windowtest::Folder() + "/start.cvbatch";
    WriteFile(path, "options : { program = \"no-such-tool-anywhere\"; };\n");
    size_t before = App().Notifications().Shown().size();
    OpenDialog(path);
    ASSERT_TRUE(
        windowtest::PumpUntil([&] { return App().Notifications().Shown().size() >= before + 2; }));
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutableProgram), "no-such-tool-anywhere");
    std::vector<std::string> all = Notifications();
    EXPECT_EQ(all[all.size() - 2],
              "Config File Loaded | Parsed OK | Program is no-such-tool-anywhere");
    EXPECT_EQ(all.back(), "Invalid Program | no-such-tool-anywhere not found in path | ");
}

TEST_F(BatchDialogTest, WithoutABatchLogTheWindowGoesOnAndSaysSoOnce) {
    CloseDialog();
    std::string temporary = getenv("TMPDIR");
    setenv("TMPDIR", (windowtest::Folder() + "/no-such-folder").c_str(), 1);
    size_t before = App().Notifications().Shown().size();
    OpenDialog(wxString());
    setenv("TMPDIR", temporary.c_str(), 1);
    EXPECT_FALSE(dialog_->Log().IsOpen());
    ASSERT_EQ(App().Notifications().Shown().size(), before + 1);
    EXPECT_EQ(App().Notifications().Shown().back().title, "Log Not Created");
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyArguments, "-c 'echo still runs'");
    RunAndWait(0);
    EXPECT_EQ(ListLines(dialog_->OutputLines()), (std::vector<std::string>{"still runs"}));
    size_t logNotices = 0;
    for (const NotificationRecord& record : App().Notifications().Shown())
        if (record.title == "Log Not Created") ++logNotices;
    EXPECT_EQ(logNotices, 1u);
}

TEST_F(BatchDialogTest, UnsavedEditsShowInTheTitleAndAreAskedAboutBeforeClosing) {
    const std::string folder = windowtest::Folder();
    const std::string path = folder + "/Ελληνικά-ジョブ.cvbatch";
    WriteFile(path, "options : { program = \"sh\"; arguments = \"-c 'echo hi'\"; };\n");
    chosenFile_ = wxString::FromUTF8(path);
    Click(ZYMBBatchWindow::ID_LOAD);
    const wxString name = wxString::FromUTF8("Ελληνικά-ジョブ.cvbatch");
    const wxString title = name + wxString::FromUTF8(" – Corvantix Batch Utility");
    EXPECT_EQ(dialog_->GetTitle(), title);
    EXPECT_FALSE(dialog_->HasUnsavedEdits());

    dialog_->EditProperty(kPropertyArguments, wxString::FromUTF8("-c 'echo Привет'"));
    EXPECT_EQ(dialog_->GetTitle(), "*" + title);
    wxPGProperty* arguments = dialog_->Grid()->GetProperty(kPropertyArguments);
    EXPECT_TRUE(arguments->HasFlag(wxPG_PROP_MODIFIED));  // shown in bold

    // Cancel keeps the window and the edits; every way of closing asks.
    saveAnswer_ = wxCANCEL;
    Click(ZYMBBatchWindow::ID_CLOSE);
    EXPECT_FALSE(dialog_->Close());
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    dialog_->ProcessWindowEvent(escape);
    windowtest::Pump(20);
    ASSERT_EQ(asked_.size(), 3u);
    for (const Asked& asked : asked_)
        EXPECT_EQ(asked.text, "Save changes to " + name + " before closing?");
    EXPECT_TRUE(dialog_->IsShown());
    EXPECT_EQ(dialog_->PropertyText(kPropertyArguments), wxString::FromUTF8("-c 'echo Привет'"));

    // Save writes the file it came from; the values are no longer shown as changed.
    saveAnswer_ = wxYES;
    wxWeakRef<wxWindow> window(dialog_);
    Click(ZYMBBatchWindow::ID_CLOSE);
    windowtest::Pump(20);
    EXPECT_FALSE(window);  // closed
    dialog_ = nullptr;
    BatchDefinition saved;
    BatchReadResult result = saved.Read(path.c_str());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.arguments.value_or("?"), "-c 'echo Привет'");

    // Saving through Save: the name is offered, the title and the bold values go back.
    OpenDialog(wxString());
    EXPECT_EQ(dialog_->GetTitle(), "Corvantix Batch Utility");
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    EXPECT_EQ(dialog_->GetTitle(), "Corvantix Batch Utility");  // no file: the plain title
    chosenFile_ = folder + "/new.cvbatch";
    wxKeyEvent save(wxEVT_CHAR_HOOK);
    save.m_keyCode = 'S';
    save.m_controlDown = true;
    dialog_->ProcessWindowEvent(save);
    EXPECT_EQ(chooserName_.back(), "");
    EXPECT_EQ(dialog_->GetTitle(), wxString::FromUTF8("new.cvbatch – Corvantix Batch Utility"));
    EXPECT_FALSE(
        dialog_->Grid()->GetProperty(kPropertyExecutableProgram)->HasFlag(wxPG_PROP_MODIFIED));
    dialog_->ProcessWindowEvent(save);
    EXPECT_EQ(chooserName_.back(), "new.cvbatch");

    // Close without Saving closes and leaves the file as it was.
    dialog_->EditProperty(kPropertyExecutableProgram, "ls");
    saveAnswer_ = wxNO;
    window = dialog_;
    EXPECT_TRUE(dialog_->Close());
    windowtest::Pump(20);
    EXPECT_FALSE(window);
    dialog_ = nullptr;
    EXPECT_NE(ReadFile(folder + "/new.cvbatch").find("program = \"sh\""), std::string::npos);
    // Without edits closing asks nothing.
    size_t questions = asked_.size();
    OpenDialog(wxString());
    window = dialog_;
    Click(ZYMBBatchWindow::ID_CLOSE);
    windowtest::Pump(20);
    EXPECT_FALSE(window);
    dialog_ = nullptr;
    EXPECT_EQ(asked_.size(), questions);
}

TEST_F(BatchDialogTest, LoadingAnotherFileAsksBeforeDroppingUnsavedEdits) {
    const std::string folder = windowtest::Folder();
    WriteFile(folder + "/first.cvbatch", "options : { program = \"first\"; };\n");
    WriteFile(folder + "/second.cvbatch", "options : { program = \"second\"; };\n");
    chosenFile_ = wxString::FromUTF8(folder + "/first.cvbatch");
    Click(ZYMBBatchWindow::ID_LOAD);
    dialog_->EditProperty(kPropertyExecutableProgram, "edited");
    chosenFile_ = wxString::FromUTF8(folder + "/second.cvbatch");

    saveAnswer_ = wxCANCEL;  // the edits stay, nothing is loaded
    Click(ZYMBBatchWindow::ID_LOAD);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0].text, "Save changes to first.cvbatch before loading another file?");
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutableProgram), "edited");

    dialog_->EditProperty(kPropertyWorkingDirectory, "/somewhere");
    saveAnswer_ = wxYES;  // saved where they came from, then the other file loads
    Click(ZYMBBatchWindow::ID_LOAD);
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutableProgram), "second");
    // What the second file leaves out is empty, as --run would take it.
    EXPECT_EQ(dialog_->PropertyText(kPropertyWorkingDirectory), "");
    EXPECT_EQ(chooserFolder_.back(), wxString::FromUTF8(folder));
    EXPECT_NE(ReadFile(folder + "/first.cvbatch").find("program = \"edited\""), std::string::npos);
}

TEST_F(BatchDialogTest, GrowsTheGridAndTheListsAndRemembersItsSizeAndPlace) {
    auto rect = [&](int id) { return dialog_->FindWindow(id)->GetRect(); };
    auto dialogUnits = [&](int x, int y, int width, int height) {
        return wxRect(dialog_->ConvertDialogToPixels(wxPoint(x, y)),
                      dialog_->ConvertDialogToPixels(wxSize(width, height)));
    };
    // Dialog units become pixels with a rounding of their own at each edge.
    auto near = [](const wxRect& a, const wxRect& b) {
        return std::abs(a.x - b.x) <= 2 && std::abs(a.y - b.y) <= 2 &&
               std::abs(a.width - b.width) <= 2 && std::abs(a.height - b.height) <= 2;
    };
    // At the default size every control stands where the dialog units put it.
    EXPECT_TRUE(near(wxRect(dialog_->GetClientSize()),
                     wxRect(dialog_->ConvertDialogToPixels(wxSize(653, 436)))));
    struct Place {
        int id;
        wxRect expected;
    } places[] = {
        {ZYMBBatchWindow::ID_GRID, dialogUnits(7, 7, 639, 167)},
        {ZYMBBatchWindow::ID_LOAD, dialogUnits(7, 180, 50, 14)},
        {ZYMBBatchWindow::ID_SAVE, dialogUnits(59, 180, 50, 14)},
        {ZYMBBatchWindow::ID_OPEN_LOG, dialogUnits(111, 180, 50, 14)},
        {ZYMBBatchWindow::ID_TABS, dialogUnits(8, 200, 639, 202)},
        {ZYMBBatchWindow::ID_RUN, dialogUnits(545, 416, 50, 14)},
        {ZYMBBatchWindow::ID_CLOSE, dialogUnits(597, 416, 50, 14)},
    };
    for (const Place& place : places)
        EXPECT_TRUE(near(rect(place.id), place.expected))
            << place.id << ": " << rect(place.id).x << "," << rect(place.id).y << " "
            << rect(place.id).width << "x" << rect(place.id).height;
    windowtest::MaybeScreenshot("batch-window-default");

    // Larger: the grid gets the width, the lists both, Run and Cancel stay in the corner.
    const wxSize grow(100, 120);
    dialog_->SetSize(dialog_->GetSize() + grow);
    windowtest::Pump(100);
    for (const Place& place : places) {
        wxRect expected = place.expected;
        if (place.id == ZYMBBatchWindow::ID_GRID) expected.width += grow.x;
        if (place.id == ZYMBBatchWindow::ID_TABS) expected.SetSize(expected.GetSize() + grow);
        if (place.id == ZYMBBatchWindow::ID_RUN || place.id == ZYMBBatchWindow::ID_CLOSE)
            expected.Offset(grow.x, grow.y);
        EXPECT_TRUE(near(rect(place.id), expected)) << place.id;
    }
    // Never smaller than the default size, for the window manager too.
    EXPECT_EQ(dialog_->GetMinSize(), dialog_->DefaultSize());
    std::string xprop = testsupport::FindProgram("xprop");
    if (xprop.empty() && testsupport::PeersRequired())
        ADD_FAILURE() << "xprop is not installed (x11-utils)";
    if (!xprop.empty()) {
        testsupport::ChildOptions options;
        options.arguments = {"-display", windowtest::Display().Name(), "-name",
                             "Corvantix Batch Utility", "WM_NORMAL_HINTS"};
        std::string hints = testsupport::RunProgram(xprop, options).out;
        wxSize client = dialog_->DefaultSize();
        EXPECT_NE(hints.find("program specified minimum size: " + std::to_string(client.x) +
                             " by " + std::to_string(client.y)),
                  std::string::npos)
            << hints;
    }

    // Size and place are kept in the settings and come back at the next start.
    dialog_->Move(40, 30);
    windowtest::Pump(100);
    wxRect before = dialog_->GetRect();
    ASSERT_TRUE(dialog_->Close());
    windowtest::Pump(20);
    dialog_ = nullptr;
    std::string settings = ReadFile(settings_);
    EXPECT_NE(settings.find("[Window]"), std::string::npos) << settings;
    OpenDialog(wxString());
    EXPECT_EQ(dialog_->GetSize(), before.GetSize());
    EXPECT_EQ(dialog_->GetPosition(), before.GetPosition());
}

TEST_F(BatchDialogTest, KeysRunLoadAndSave) {
    auto press = [&](int key, bool control) {
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        event.m_keyCode = key;
        event.m_controlDown = control;
        dialog_->ProcessWindowEvent(event);
    };
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyArguments, "-c 'echo by key'");
    press(WXK_F5, false);
    ASSERT_TRUE(WaitForNotification("Output Statistics", 1));
    press('R', true);
    ASSERT_TRUE(WaitForNotification("Output Statistics", 2));
    EXPECT_EQ(ListLines(dialog_->OutputLines()), (std::vector<std::string>{"by key"}));
    chosenFile_ = "";
    saveAnswer_ = wxNO;  // the edits may go
    press('O', true);
    press('S', true);
    EXPECT_EQ(chooserFolder_.size(), 2u);
    // While a run is in progress Run is disabled, and so is its key.
    dialog_->EditProperty(kPropertyArguments, "-c 'sleep 1'");
    press(WXK_F5, false);
    ASSERT_TRUE(dialog_->RunInProgress());
    press(WXK_F5, false);
    ASSERT_TRUE(WaitForNotification("Output Statistics", 3));
    windowtest::Pump(200);
    size_t completed = 0;
    for (const std::string& text : Notifications())
        if (text.rfind("Program Completed |", 0) == 0) ++completed;
    EXPECT_EQ(completed, 3u);
}

TEST_F(BatchDialogTest, TheProgramPathIsClearedWhenTheProgramIsNotFound) {
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutablePath), testsupport::FindProgram("sh"));
    dialog_->EditProperty(kPropertyExecutableProgram, "no-such-program-anywhere");
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutablePath), "");
}

TEST_F(BatchDialogTest, OutputLinesCanBeSelectedCopiedAndSaved) {
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyArguments,
                          wxString::FromUTF8("-c 'echo one; echo два; echo 三'"));
    RunAndWait(0);
    OutputList* list = dialog_->OutputLines();
    ASSERT_EQ(list->Count(), 3u);
    // A click and a shift-click select lines; Ctrl+C copies them.
    list->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    list->SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    EXPECT_EQ(list->SelectedText(), "два\n三\n");
    auto key = [&](int code) {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = code;
        event.m_controlDown = true;
        event.SetEventObject(list);
        list->ProcessWindowEvent(event);
    };
    key('C');
    std::string copied;
    if (wxTheClipboard->Open()) {
        wxTextDataObject data;
        if (wxTheClipboard->GetData(data)) copied = data.GetText().utf8_string();
        wxTheClipboard->Close();
    }
    EXPECT_EQ(copied, "два\n三\n");
    key('A');
    EXPECT_EQ(list->SelectedText(), "one\nдва\n三\n");

    const std::string saved = windowtest::Folder() + "/Вывод.txt";
    wxString reason;
    ASSERT_TRUE(list->SaveLines(wxString::FromUTF8(saved), &reason)) << reason;
    EXPECT_EQ(ReadFile(saved), "one\nдва\n三\n");
    EXPECT_FALSE(list->SaveLines(windowtest::Folder() + "/no-such-folder/out.txt", &reason));
    EXPECT_EQ(reason, "No such file or directory");
}

TEST_F(BatchDialogTest, TheLogIsATextFileThatTheDesktopOpens) {
    std::string log = dialog_->Log().Path();
    std::string name = log.substr(log.rfind('/') + 1);
    EXPECT_EQ(name.rfind("BRM", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".log") << name;

    // Nothing to open it with: the user is told.
    std::string empty = windowtest::Folder() + "/empty-path";
    mkdir(empty.c_str(), 0700);
    std::string path = getenv("PATH");
    setenv("PATH", empty.c_str(), 1);
    unsetenv("VISUAL");
    unsetenv("EDITOR");
    wxString reason;
    OpenAsText(wxString::FromUTF8(log), [&](const wxString& why) { reason = why; });
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(reason, "No program could open the batch log");

    // The desktop's opener picks the default program for text.
    std::string gio = testsupport::FindProgram("gio");
    if (gio.empty()) {
        if (testsupport::PeersRequired()) FAIL() << "gio is not installed (libglib2.0-bin)";
        return;
    }
    std::string data = windowtest::Folder() + "/xdg-data";
    std::string record = windowtest::Folder() + "/opened.txt";
    std::string script = windowtest::Folder() + "/text-viewer.sh";
    WriteFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > " + record + "\n");
    chmod(script.c_str(), 0700);
    wxFileName::Mkdir(data + "/applications", 0700, wxPATH_MKDIR_FULL);
    WriteFile(data + "/applications/zymb-text-viewer.desktop",
              "[Desktop Entry]\nType=Application\nName=Text viewer\nExec=" + script +
                  " %f\nMimeType=text/plain;\n");
    WriteFile(data + "/applications/mimeapps.list",
              "[Default Applications]\ntext/plain=zymb-text-viewer.desktop\n");
    std::string dataHome = getenv("XDG_DATA_HOME") != nullptr ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    reason.clear();
    OpenAsText(wxString::FromUTF8(log), [&](const wxString& why) { reason = why; });
    bool opened = windowtest::PumpUntil([&] { return !ReadFile(record).empty(); }, 10000);
    if (dataHome.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    ASSERT_TRUE(opened) << reason;
    EXPECT_EQ(ReadFile(record), log);
}

namespace {
// The place of the program's window on the test display, from xwininfo; empty until the
// window with that text in its name is shown.
wxRect WindowWithName(const std::string& text) {
    testsupport::ChildOptions options;
    options.arguments = {"-display", windowtest::Display().Name(), "-root", "-tree"};
    for (const std::string& line : testsupport::Lines(
             testsupport::RunProgram(testsupport::FindProgram("xwininfo"), options).out)) {
        if (line.find(text) == std::string::npos) continue;
        int width = 0, height = 0, x = 0, y = 0;
        size_t geometry = line.rfind(")  ");
        if (geometry != std::string::npos &&
            sscanf(line.c_str() + geometry + 3, "%dx%d+%d+%d", &width, &height, &x, &y) == 4 &&
            width > 200)
            return wxRect(x, y, width, height);
    }
    return wxRect();
}

char ProcessState(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 'X';
}
}  // namespace

TEST(BatchWindowProgram, StartedElsewhereWithARelativeFileItRunsThereOnF5) {
    if (testsupport::FindProgram("xwininfo").empty()) {
        if (testsupport::PeersRequired()) FAIL() << "xwininfo is not installed (x11-utils)";
        return;
    }
    // A folder of its own, named in Greek, holding the definition and its input.
    const std::string start = windowtest::Folder() + "/начало-Ελληνικά";
    mkdir(start.c_str(), 0700);
    mkdir((start + "/tmp").c_str(), 0700);
    WriteFile(start + "/input.txt", "こんにちは from the input\n");
    WriteFile(start + "/job.cvbatch",
              "options : { program = \"sh\"; arguments = \"-c 'read line; echo \\\"$line\\\"; "
              "pwd'\"; stdin = \"input.txt\"; working_directory = \"\"; };\n");
    const std::string settings = windowtest::Folder() + "/program-settings";
    const std::string errors = windowtest::Folder() + "/program-errors.txt";
    testsupport::BackgroundProcess program;
    ASSERT_TRUE(program.Start("/bin/sh",
                              {"-c", "cd \"$0\" && exec \"$1\" job.cvbatch", start, BATCH_PROGRAM},
                              {{"TMPDIR", start + "/tmp"},
                               {"XDG_CONFIG_HOME", settings},
                               {"XDG_CONFIG_DIRS", settings + "/system"}},
                              errors));
    wxRect window;
    ASSERT_TRUE(windowtest::PumpUntil(
        [&] { return !(window = WindowWithName("job.cvbatch")).IsEmpty(); }, 30000))
        << ReadFile(errors);
    windowtest::Pump(500);  // the definition has been loaded and the window drawn

    // F5 on the real keyboard, as a user presses it.
    wxUIActionSimulator keyboard;
    keyboard.MouseMove(window.GetPosition() + wxPoint(window.width / 2, window.height / 2));
    windowtest::Pump(100);
    keyboard.Char(WXK_F5);
    std::string log;
    ASSERT_TRUE(windowtest::PumpUntil(
        [&] {
            for (const std::string& line : testsupport::Lines(
                     testsupport::RunProgram("/bin/ls", {{start + "/tmp"}, {}, "", "", 10}).out))
                if (line.rfind("BRM", 0) == 0) log = ReadFile(start + "/tmp/" + line);
            return log.find(":: Program Ended (") != std::string::npos;
        },
        30000))
        << log << ReadFile(errors);
    windowtest::MaybeScreenshot("batch-window-from-elsewhere");
    size_t output = log.find(":: Stdout (");
    ASSERT_NE(output, std::string::npos);
    // The input file and the child's folder are those of the folder it was started in.
    EXPECT_NE(log.find("\nこんにちは from the input\n" + start + "\n", output), std::string::npos)
        << log;

    // Escape closes it: nothing was edited, so nothing is asked.
    keyboard.Char(WXK_ESCAPE);
    EXPECT_TRUE(windowtest::PumpUntil([&] { return ProcessState(program.Pid()) == 'Z'; }, 10000));
    int status = program.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Nothing but our own lines on standard error: no toolkit complaints.
    EXPECT_EQ(ReadFile(errors).find("CRITICAL"), std::string::npos) << ReadFile(errors);
}

TEST(BatchWindowProgram, OnADisplayTooSmallForItsDefaultSizeTheWholeWindowFits) {
    if (testsupport::FindProgram("xwininfo").empty()) {
        if (testsupport::PeersRequired()) FAIL() << "xwininfo is not installed (x11-utils)";
        return;
    }
    // Twice the scale halves the display: 640 x 512 of the window's own pixels.
    const std::string settings = windowtest::Folder() + "/scaled-settings";
    const std::string errors = windowtest::Folder() + "/scaled-errors.txt";
    testsupport::BackgroundProcess program;
    ASSERT_TRUE(program.Start(BATCH_PROGRAM, {},
                              {{"GDK_SCALE", "2"},
                               {"GTK_THEME", "Adwaita:dark"},
                               {"XDG_CONFIG_HOME", settings},
                               {"XDG_CONFIG_DIRS", settings + "/system"}},
                              errors));
    wxRect window;
    ASSERT_TRUE(windowtest::PumpUntil(
        [&] { return !(window = WindowWithName("Corvantix Batch Utility")).IsEmpty(); }, 30000))
        << ReadFile(errors);
    windowtest::Pump(500);
    window = WindowWithName("Corvantix Batch Utility");
    windowtest::MaybeScreenshot("batch-window-scaled");
    wxRect screen = wxDisplay(0u).GetGeometry();
    EXPECT_TRUE(screen.Contains(window))
        << window.x << "," << window.y << " " << window.width << "x" << window.height;
    program.Stop();
    EXPECT_EQ(ReadFile(errors).find("CRITICAL"), std::string::npos) << ReadFile(errors);
}
