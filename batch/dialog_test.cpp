// The batch dialog as a real window on the test display, driven through its controls'
// events: loading, editing, running a child, pausing and cancelling it, saving.
#include "batch/dialog.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/notebook.h>
#include <wx/propgrid/manager.h>

#include <fstream>
#include <regex>

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
        profile_ = windowtest::FreshSettings();
        ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", 0, "Mar 17 2025"));
        firstNotification_ = App().Notifications().Shown().size();
        OpenDialog(wxString());
    }

    void TearDown() override {
        CloseDialog();
        App().Notifications().CloseAll();
        App().EndApplication();
    }

    void OpenDialog(const wxString& initialFile) {
        dialog_ = new ZYMBBatchDlg(nullptr, initialFile);
        BatchDialogPrompts& prompts = dialog_->Prompts();
        prompts.messageBox = [this](const wxString& text, const wxString& caption, long style) {
            asked_.push_back({text, caption, style});
            if (answerHook_) answerHook_();
            return answer_;
        };
        prompts.chooseBatchFile = [this](bool save, const wxString& initial) {
            chooserInitial_.push_back(initial);
            (void)save;
            return chosenFile_;
        };
        prompts.openWithDefaultProgram = [this](const wxString& path) { opened_ = path; };
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
        Click(ZYMBBatchDlg::ID_RUN);
        ASSERT_TRUE(WaitForNotification("Output Statistics", completedBefore + 1));
    }

    std::string profile_;
    size_t firstNotification_ = 0;
    ZYMBBatchDlg* dialog_ = nullptr;
    std::vector<Asked> asked_;
    int answer_ = wxOK;
    std::function<void()> answerHook_;
    std::vector<wxString> chooserInitial_;
    wxString chosenFile_;
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
         "Environmental variables to be merged with the existing variables, Delimited by colons "
         "eg. VAR1=VAL1;VAR2=VAL2"},
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
    auto* run = dynamic_cast<wxButton*>(dialog_->FindWindow(ZYMBBatchDlg::ID_RUN));
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->GetLabel(), "Run");
    EXPECT_EQ(dialog_->GetDefaultItem(), run);
    for (auto [id, caption] : {std::pair{ZYMBBatchDlg::ID_CLOSE, "Cancel"},
                               {ZYMBBatchDlg::ID_LOAD, "&Load"},
                               {ZYMBBatchDlg::ID_SAVE, "&Save"},
                               {ZYMBBatchDlg::ID_OPEN_LOG, "&Open Log"}})
        EXPECT_EQ(dialog_->FindWindow(id)->GetLabel(), caption);

    Click(ZYMBBatchDlg::ID_OPEN_LOG);
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
    Click(ZYMBBatchDlg::ID_LOAD);
    EXPECT_EQ(chooserInitial_.at(0), "");  // nothing remembered yet
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutableProgram), "sh");
    EXPECT_EQ(dialog_->PropertyText(kPropertyWorkingDirectory), folder);
    EXPECT_EQ(dialog_->PropertyText(kPropertyEnvironment), "GREETING=hello there;EMPTY=");
    std::string shell = testsupport::FindProgram("sh");
    EXPECT_EQ(Notifications(), (std::vector<std::string>{
                                   "Config File Loaded | Parsed OK | Program is sh",
                                   "Program Found | Program found in path | Found in " + shell}));
    EXPECT_EQ(dialog_->PropertyText(kPropertyExecutablePath), shell);
    EXPECT_NE(ReadFile(profile_).find("LastDirectory=" + batchFile), std::string::npos);
    Click(ZYMBBatchDlg::ID_LOAD);
    EXPECT_EQ(chooserInitial_.at(1), batchFile);  // the Load dialog starts at the last file

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
    Click(ZYMBBatchDlg::ID_SAVE);
    BatchDefinition saved;
    BatchReadResult result = saved.Read((folder + "/saved.cvbatch").c_str());
    ASSERT_TRUE(result.ok) << result.errorText;
    EXPECT_EQ(result.program.value_or("?"), "sh");
    EXPECT_EQ(result.environment.value_or("?"), "GREETING=\"quoted\" \\ back");
    EXPECT_EQ(result.stdinFile.value_or("?"), folder + "/input.txt");
    EXPECT_NE(ReadFile(folder + "/saved.cvbatch").find("extra = 5;"), std::string::npos);
    EXPECT_NE(ReadFile(profile_).find("LastDirectory=" + batchFile), std::string::npos);
    EXPECT_TRUE(asked_.empty());
}

TEST_F(BatchDialogTest, AFileThatDoesNotParseLeavesThePropertiesAsTheyWere) {
    dialog_->EditProperty(kPropertyExecutableProgram, "before");
    const std::string path = windowtest::Folder() + "/broken.cvbatch";
    WriteFile(path,
              "options :\n{\n  program = \"x\";\n  arguments = \"y\";\n\n\n  stdin = oops\n};\n");
    chosenFile_ = path;
    Click(ZYMBBatchDlg::ID_LOAD);
    ASSERT_FALSE(Notifications().empty());
    const NotificationRecord& last = App().Notifications().Shown().back();
    EXPECT_EQ(last.title, "Config File Loaded");
    EXPECT_EQ(last.secondLine, "Error on line 7");
    EXPECT_EQ(last.icon, 133);
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
    Click(ZYMBBatchDlg::ID_RUN);
    EXPECT_FALSE(dialog_->RunButton()->IsEnabled());
    EXPECT_FALSE(dialog_->Grid()->IsEnabled());
    ASSERT_TRUE(windowtest::PumpUntil([&] { return dialog_->OutputLines()->Count() == 1; }));
    Click(ZYMBBatchDlg::ID_CLOSE);
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
    Click(ZYMBBatchDlg::ID_RUN);
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
    Click(ZYMBBatchDlg::ID_RUN);
    dialog_->EditProperty(kPropertyExecutableProgram, "sh");
    dialog_->EditProperty(kPropertyStdinFile, windowtest::Folder() + "/no-such-input");
    Click(ZYMBBatchDlg::ID_RUN);
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
    Click(ZYMBBatchDlg::ID_RUN);
    ASSERT_TRUE(WaitForNotification("Program Failed to Start"));
    EXPECT_EQ(Notifications().back(), "Program Failed to Start | Return Code was 2 | The program " +
                                          windowtest::Folder() + "/no-such-program does not exist");
    EXPECT_TRUE(dialog_->RunButton()->IsEnabled());
    EXPECT_TRUE(dialog_->Grid()->IsEnabled());

    chosenFile_ = windowtest::Folder() + "/no-such-folder/out.cvbatch";
    Click(ZYMBBatchDlg::ID_SAVE);
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
