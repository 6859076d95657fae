// The History tab and the Schedule dialog as real windows on the test display: runs written
// to the history appear in the tab, newest first, and open their logs; the presets give
// calendar expressions whose next runs are shown before the units are written.
#include <gtest/gtest.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>

#include <filesystem>

#include "batch/dialog.h"
#include "batch/history_panel.h"
#include "batch/run_history.h"
#include "batch/schedule_dialog.h"
#include "batch/window_test_support.h"
#include "tests/support/test_support.h"

using windowtest::App;

namespace {

class HistoryWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string profile = windowtest::FreshSettings();
        // The history and the units go beside this test's settings.
        base_ = std::filesystem::path(profile).parent_path().parent_path().parent_path();
        setenv("XDG_STATE_HOME", (base_ + "/state").c_str(), 1);
        ASSERT_TRUE(App().InitApplication("Corvantix Batch Utility", "Mar 17 2025"));
    }
    void TearDown() override {
        setenv("XDG_STATE_HOME", (windowtest::Folder() + "/state").c_str(), 1);
        App().Notifications().CloseAll();
        App().EndApplication();
    }

    static RunRecord Record(const std::string& definition, int status, time_t start,
                            const std::string& log) {
        RunRecord record;
        record.definitionPath = definition;
        record.program = "/usr/bin/sort";
        record.startTime = start;
        record.endTime = start + 83;
        record.exitStatus = status;
        record.logPath = log;
        return record;
    }

    std::string base_;
};

TEST_F(HistoryWindowTest, HistoryTabListsRunsAndOpensTheirLogs) {
    std::string log = base_ + "/BRMhistory.log";
    testsupport::WriteFile(log, "::\n:: Opening Log\n::\n");
    std::string reason;
    ASSERT_TRUE(AppendRunRecord(Record("/srv/jobs/ночь.cvbatch", 0, 1780000000, log), &reason))
        << reason;
    ASSERT_TRUE(AppendRunRecord(
        Record("/srv/jobs/夜間.cvbatch", 3, 1780000600, base_ + "/gone.log"), &reason));

    auto* dialog =
        new ZYMBBatchWindow(nullptr, wxString(), &App().Settings(), &App().Notifications());
    wxString opened;
    dialog->Prompts().openWithDefaultProgram = [&opened](const wxString& path) { opened = path; };
    dialog->Show();
    ASSERT_EQ(3u, dialog->Tabs()->GetPageCount());
    EXPECT_EQ("History", dialog->Tabs()->GetPageText(2));
    auto* panel = dynamic_cast<HistoryPanel*>(dialog->Tabs()->GetPage(2));
    ASSERT_NE(nullptr, panel);
    dialog->Tabs()->SetSelection(2);
    windowtest::Pump(300);
    windowtest::MaybeScreenshot("batch-history");

    wxListCtrl* list = panel->List();
    ASSERT_EQ(4, list->GetColumnCount());
    ASSERT_EQ(2, list->GetItemCount());
    // Newest first: time, definition, status, duration.
    EXPECT_EQ(wxString::FromUTF8("/srv/jobs/夜間.cvbatch"), list->GetItemText(0, 1));
    EXPECT_EQ("3", list->GetItemText(0, 2));
    EXPECT_EQ("1:23", list->GetItemText(0, 3));
    EXPECT_EQ(wxString::FromUTF8("/srv/jobs/ночь.cvbatch"), list->GetItemText(1, 1));
    EXPECT_EQ("0", list->GetItemText(1, 2));
    EXPECT_FALSE(list->GetItemText(1, 0).empty());

    // Opening an entry opens its log; a log the system has cleaned away is said so.
    wxListEvent activated(wxEVT_LIST_ITEM_ACTIVATED, list->GetId());
    activated.SetEventObject(list);
    activated.m_itemIndex = 1;
    list->ProcessWindowEvent(activated);
    EXPECT_EQ(wxString::FromUTF8(log.c_str()), opened);
    opened.clear();
    panel->OpenEntry(0);
    EXPECT_TRUE(opened.empty());
    EXPECT_NE(wxNOT_FOUND, panel->Note().Find("no longer exists")) << panel->Note();

    // A run that ends elsewhere (a timer, --run) shows up while the window is open.
    ASSERT_TRUE(AppendRunRecord(Record("/srv/jobs/third.cvbatch", 1, 1780001200, log), &reason));
    EXPECT_TRUE(windowtest::PumpUntil([list] { return list->GetItemCount() == 3; }, 10000));
    EXPECT_EQ("/srv/jobs/third.cvbatch", list->GetItemText(0, 1));
    dialog->Destroy();
    windowtest::Pump(20);
}

TEST_F(HistoryWindowTest, ScheduleDialogShowsNextRunsBeforeWritingUnits) {
    if (testsupport::FindProgram("systemd-analyze").empty()) {
        ASSERT_FALSE(testsupport::PeersRequired()) << "systemd-analyze is missing";
        GTEST_SKIP() << "systemd-analyze is missing";
    }
    std::string definition = base_ + "/Ημερήσια.cvbatch";
    testsupport::WriteFile(definition, "options : { program = \"true\"; arguments = \"\"; };\n");
    ScheduleDialog dialog(nullptr, wxString::FromUTF8(definition.c_str()));
    dialog.Show();
    windowtest::Pump(100);

    dialog.ChoosePreset(ScheduleDialog::WEEKDAYS, "06:30");
    EXPECT_EQ("Mon..Fri 06:30", dialog.Expression());
    wxArrayString next = wxSplit(dialog.NextRunsText(), '\n');
    ASSERT_EQ(3u, next.size()) << dialog.NextRunsText();
    for (const wxString& when : next) {
        EXPECT_NE(wxNOT_FOUND, when.Find("06:30:00")) << when;
        EXPECT_TRUE(!when.StartsWith("Sat") && !when.StartsWith("Sun")) << when;
    }
    windowtest::Pump(200);
    windowtest::MaybeScreenshot("batch-schedule");
    dialog.ChoosePreset(ScheduleDialog::HOURLY);
    EXPECT_EQ("hourly", dialog.Expression());
    dialog.SetExpression("every other tuesday");
    EXPECT_FALSE(dialog.CanSchedule());
    EXPECT_NE(wxNOT_FOUND, dialog.NextRunsText().Find("invalid calendar expression"));
    // Nothing is written for an expression systemd refuses.
    std::string units = base_ + "/user/systemd/user";
    EXPECT_FALSE(std::filesystem::exists(units));

    dialog.ChoosePreset(ScheduleDialog::DAILY, "02:00");
    EXPECT_EQ("*-*-* 02:00", dialog.Expression());
    ASSERT_TRUE(dialog.CanSchedule());
    ScheduleOutcome outcome = dialog.Apply();
    ASSERT_EQ(0, outcome.status) << outcome.error;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(units)) {
        ++files;
        EXPECT_EQ(0u, entry.path().filename().string().rfind("zymb-batch-"));
    }
    EXPECT_EQ(2u, files);
    EXPECT_NE(wxNOT_FOUND, dialog.ResultText().Find("systemctl --user enable --now"));
}

}  // namespace
