// Runs in the batch dialog as a real window on the test display: the status line and the
// controls while a run lasts, lists that keep only the newest lines, and runs refused
// because a variable does not fit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <wx/button.h>
#include <wx/propgrid/manager.h>

#include <csignal>
#include <regex>

#include "batch/dialog.h"
#include "batch/output_list.h"
#include "batch/window_test_support.h"
#include "tests/support/test_support.h"

using windowtest::App;

namespace {

class DialogRunTest : public testing::Test {
  protected:
    void SetUp() override {
        windowtest::FreshSettings();
        ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
        firstNotification_ = App().Notifications().Shown().size();
        OpenDialog();
    }

    void OpenDialog() {
        if (dialog_ != nullptr) {
            dialog_->Destroy();
            windowtest::Pump(20);
        }
        dialog_ =
            new ZYMBBatchWindow(nullptr, wxString(), &App().Settings(), &App().Notifications());
        dialog_->Prompts().messageBox = [this](const wxString& text, const wxString& caption,
                                               long) {
            asked_.push_back((caption + " | " + text).utf8_string());
            return wxYES;
        };
        dialog_->Show();
        windowtest::Pump(100);
    }

    void TearDown() override {
        dialog_->Destroy();
        windowtest::Pump(20);
        App().Notifications().CloseAll();
        App().EndApplication();
    }

    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        const auto& shown = App().Notifications().Shown();
        for (size_t i = firstNotification_; i < shown.size(); ++i)
            titles.push_back(shown[i].title.utf8_string());
        return titles;
    }

    void Run(const std::string& program, const std::string& arguments) {
        dialog_->EditProperty(kPropertyExecutableProgram, program);
        dialog_->EditProperty(kPropertyArguments, arguments);
        wxCommandEvent click(wxEVT_BUTTON, ZYMBBatchWindow::ID_RUN);
        click.SetEventObject(dialog_->RunButton());
        dialog_->RunButton()->ProcessWindowEvent(click);
    }

    bool WaitForEnd() {
        return windowtest::PumpUntil([&] { return !dialog_->RunInProgress(); }, 60000);
    }

    ZYMBBatchWindow* dialog_ = nullptr;
    size_t firstNotification_ = 0;
    std::vector<std::string> asked_;
};

TEST_F(DialogRunTest, DuringARunOnlyCancelAndOpenLogAnswerAndTheStatusLineShowsTheClock) {
    EXPECT_EQ(dialog_->StatusText(), "");
    Run("sh", "-c 'echo started; sleep 2; exit 4'");
    ASSERT_TRUE(windowtest::PumpUntil([&] { return dialog_->OutputLines()->Count() == 1; }));
    for (int id : {ZYMBBatchWindow::ID_RUN, ZYMBBatchWindow::ID_LOAD, ZYMBBatchWindow::ID_SAVE})
        EXPECT_FALSE(dialog_->FindWindow(id)->IsEnabled()) << id;
    EXPECT_FALSE(dialog_->Grid()->IsEnabled());
    for (int id : {ZYMBBatchWindow::ID_CLOSE, ZYMBBatchWindow::ID_OPEN_LOG})
        EXPECT_TRUE(dialog_->FindWindow(id)->IsEnabled()) << id;
    EXPECT_TRUE(std::regex_match(dialog_->StatusText().utf8_string(),
                                 std::regex("Running\xE2\x80\xA6 0:0[0-2]")))
        << dialog_->StatusText();
    ASSERT_TRUE(WaitForEnd());
    for (int id : {ZYMBBatchWindow::ID_RUN, ZYMBBatchWindow::ID_LOAD, ZYMBBatchWindow::ID_SAVE})
        EXPECT_TRUE(dialog_->FindWindow(id)->IsEnabled()) << id;
    EXPECT_TRUE(dialog_->Grid()->IsEnabled());
    EXPECT_TRUE(
        std::regex_match(dialog_->StatusText().utf8_string(),
                         std::regex("Program Completed: Return Code was 4, Runtime 0:0[1-4]")))
        << dialog_->StatusText();
    if (getenv("ZYMBSCREENSHOTDIR") != nullptr) {
        windowtest::Pump(300);
        windowtest::MaybeScreenshot("batch-dialog-status");
    }

    // A program that is not found: the status line says so.
    Run(windowtest::Folder() + "/no-such-program", "");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(dialog_->StatusText(), "Program Failed to Start: The program " +
                                         windowtest::Folder() + "/no-such-program does not exist");
}

TEST_F(DialogRunTest, TheListsKeepTheNewestLinesAndSayHowManyWereDropped) {
    const size_t kept = dialog_->Run().Limits().keptLines;
    Run("sh", "-c 'seq 1 " + std::to_string(kept + 500) + "; echo one >&2'");
    ASSERT_TRUE(WaitForEnd());
    OutputList* list = dialog_->OutputLines();
    ASSERT_TRUE(windowtest::PumpUntil([&] { return list->Count() == kept; }));
    EXPECT_EQ(list->Dropped(), 500u);
    EXPECT_EQ(list->Line(0), "501");
    EXPECT_EQ(list->Line(kept - 1), std::to_string(kept + 500));
    EXPECT_EQ(list->GetItemCount(), static_cast<long>(kept) + 1);  // the note's row first
    EXPECT_EQ(list->GetItemText(0), "[500 earlier lines not shown]");
    EXPECT_EQ(list->GetItemText(1), "501");
    EXPECT_EQ(dialog_->MessageLines()->Count(), 1u);
    EXPECT_EQ(dialog_->MessageLines()->GetItemCount(), 1);
    // The statistics count every line, and the log has them all.
    const NotificationRecord& statistics = App().Notifications().Shown().back();
    EXPECT_EQ(statistics.title, "Output Statistics");
    EXPECT_EQ(statistics.firstLine, wxString::Format("%zu records written to stdout", kept + 500));
    std::string log = testsupport::ReadFile(dialog_->Log().Path());
    EXPECT_NE(log.find("\n1\n2\n3\n"), std::string::npos);
}

TEST_F(DialogRunTest, AVariableThatDoesNotFitRefusesTheRunAndNamesItsField) {
    setenv("ZYMBDIALOGLONG", std::string(300, 'x').c_str(), 1);
    Run("echo", "rm -rf %ZYMBDIALOGLONG/old");
    unsetenv("ZYMBDIALOGLONG");
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0],
              "Variable Does Not Fit | The environment variable %ZYMBDIALOGLONG does not fit in "
              "Arguments (259 characters at most)");
    EXPECT_FALSE(dialog_->RunInProgress());
    EXPECT_TRUE(dialog_->RunButton()->IsEnabled());
    for (const std::string& title : Titles()) EXPECT_NE(title, "Program Completed");
}

TEST_F(DialogRunTest, TheLogsLimitAndALogThatCannotBeWrittenAreShown) {
    setenv("ZYMBBATCHLOGMAX", "1K", 1);
    OpenDialog();
    unsetenv("ZYMBBATCHLOGMAX");
    EXPECT_EQ(dialog_->Run().Limits().logBytes, 1024u);
    Run("seq", "1 1000");
    ASSERT_TRUE(WaitForEnd());
    std::string log = testsupport::ReadFile(dialog_->Log().Path());
    EXPECT_NE(log.find("lines of standard output left out: the log takes at most 1 KiB"),
              std::string::npos)
        << log;
    EXPECT_EQ(dialog_->OutputLines()->Count(), 1000u);  // the window still shows them all

    // The file size limit stands in for a full disk: the log's writes fail with EFBIG.
    dialog_->Run().SetLogLimit(0);
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit limited = old;
    limited.rlim_cur = static_cast<rlim_t>(log.size()) + 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Run("seq", "1 100000");
    bool ended = WaitForEnd();
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &previous, nullptr);
    ASSERT_TRUE(ended);
    std::vector<std::string> titles = Titles();
    EXPECT_NE(std::find(titles.begin(), titles.end(), "Log Incomplete"), titles.end());
    EXPECT_NE(dialog_->StatusText().Find("(the batch log could not be written)"), wxNOT_FOUND)
        << dialog_->StatusText();
}

}  // namespace
