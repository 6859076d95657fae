// Running the batch definition from the dialog: the Run command, the lines and the clock
// while a run lasts, pause / resume / cancel, and what the window shows at the end. The
// run itself is the run controller's; the window only shows what it reports.
#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/propgrid/manager.h>
#include <wx/stattext.h>

#include "batch/dialog.h"
#include "batch/icons.h"
#include "batch/output_list.h"

namespace {
// How often the window shows the lines that arrived: small enough to look live, large
// enough that a flood costs the window little.
const int kTakeIntervalMs = 25;

wxString ClockText(time_t seconds) {
    if (seconds < 0) seconds = 0;
    return wxString::Format("%ld:%02ld", static_cast<long>(seconds / 60),
                            static_cast<long>(seconds % 60));
}
}  // namespace

void ZYMBBatchWindow::ConnectRun() {
    // The log's share of each run's output, as --run takes it.
    std::string warning;
    run_.SetLogLimit(LogLimitFromEnvironment(&warning));
    if (!warning.empty()) {
        log_.Text("%s", warning.c_str());
        statusLine_->SetLabel(wxString::FromUTF8(warning.c_str()));
    }
    if (const std::string& problem = run_.Runner().variables.fileProblem; !problem.empty()) {
        log_.Text("%s", problem.c_str());
        statusLine_->SetLabel(wxString::FromUTF8(problem.c_str()));
    }
    outputList_->ShowLines(&run_.Lines(RUN_STDOUT));
    messagesList_->ShowLines(&run_.Lines(RUN_STDERR));
    // Every run is kept in the run history, written on the runner's thread as --run writes
    // it; a history that cannot be written is said in the log.
    run_.historyHook = [this](const BatchRunSummary& summary) {
        std::string reason;
        if (!AppendRunRecord(HistoryRecordOf(summary), &reason) && !closing_)
            CallAfter([this, reason] {
                log_.Text("The run history cannot be written: %s", reason.c_str());
            });
    };
    // The end of a run comes on the runner's thread: the window takes it on its own.
    run_.onEnd = [this](const BatchRunSummary& summary) {
        if (!closing_) CallAfter([this, summary] { HandleEnded(summary); });
    };
}

wxString ZYMBBatchWindow::StatusText() const {
    return statusLine_ != nullptr ? statusLine_->GetLabel() : wxString();
}

void ZYMBBatchWindow::OnTakeLines(wxTimerEvent&) {
    outputList_->Sync();
    messagesList_->Sync();
    wxString status =
        wxString::FromUTF8("Running\u2026 ") + ClockText(time(nullptr) - run_.StartedAt());
    if (run_.Paused()) status += " (paused)";
    if (statusLine_->GetLabel() != status) statusLine_->SetLabel(status);
}

void ZYMBBatchWindow::SetRunControlsEnabled(bool enabled) {
    runButton_->Enable(enabled);
    for (int id : {ID_LOAD, ID_SAVE}) {
        if (wxWindow* button = FindWindow(id)) button->Enable(enabled);
    }
    grid_->Enable(enabled);
    grid_->Refresh();
}

void ZYMBBatchWindow::OnRun() {
    if (runActive_) return;  // one run at a time; Run is disabled meanwhile anyway
    BatchRunStart start =
        run_.Start(&definition_, FieldsFromProperties(), std::string(currentFile_.utf8_str()));
    switch (start.outcome) {
        case BatchRunStart::EMPTY_PROGRAM:
            prompts_.messageBox(EMPTY_PROGRAM_TEXT, EMPTY_PROGRAM_CAPTION, wxOK | wxICON_WARNING);
            return;
        case BatchRunStart::STDIN_UNOPENED:
            prompts_.messageBox(
                wxString::Format(STDIN_UNOPENED_FORMAT, OutputLineText(start.reason)),
                STDIN_UNOPENED_CAPTION, wxOK | wxICON_WARNING);
            return;
        case BatchRunStart::EXPANSION_FAILED:
            prompts_.messageBox(OutputLineText(start.reason), EXPANSION_CAPTION,
                                wxOK | wxICON_WARNING);
            return;
        case BatchRunStart::START_FAILED:
            Notify("Program Failed to Start", "The run could not begin",
                   OutputLineText(start.reason), kIconFailure);
            return;
        case BatchRunStart::STARTED:
            break;
    }
    // The controller cleared the last run's lines as this one began: a refused run
    // changes nothing.
    outputList_->Clear();
    messagesList_->Clear();
    runActive_ = true;
    statusLine_->SetLabel(wxString::FromUTF8("Running\u2026 0:00"));
    takeTimer_.Start(kTakeIntervalMs);
    SetRunControlsEnabled(false);
    if (outputList_->Count() == 0)
        tabs_->SetSelection(1);
    else if (messagesList_->Count() == 0)
        tabs_->SetSelection(0);
}

void ZYMBBatchWindow::OnClose() {
    if (run_.InProgress()) {
        run_.Pause();
        int answer = prompts_.messageBox(
            "The running process has been paused.\nDo you want to cancel the process?",
            "Process Paused", wxYES_NO | wxICON_QUESTION);
        if (answer == wxYES)
            run_.Cancel();
        else
            run_.Resume();
        return;
    }
    if (!MayClose()) return;
    if (IsModal())
        EndModal(ID_CLOSE);
    else
        Destroy();
}

void ZYMBBatchWindow::OnCloseWindow(wxCloseEvent& event) {
    if (run_.InProgress() && event.CanVeto()) {
        event.Veto();
        OnClose();
        return;
    }
    if (event.CanVeto() && !MayClose()) {
        event.Veto();
        return;
    }
    if (IsModal())
        EndModal(ID_CLOSE);
    else
        Destroy();
}

void ZYMBBatchWindow::HandleEnded(const BatchRunSummary& summary) {
    takeTimer_.Stop();
    outputList_->Sync();
    messagesList_->Sync();
    runActive_ = false;
    SetRunControlsEnabled(true);
    if (summary.started) {
        const char* title = summary.cancelled ? "Program Cancelled" : "Program Completed";
        Notify(title, wxString::Format("Return Code was %u", summary.exitCode),
               wxString::Format("Runtime %u seconds", summary.seconds),
               summary.exitCode == 0 && !summary.cancelled ? kIconSuccess : kIconFailure);
        Notify("Output Statistics",
               wxString::Format("%llu records written to stdout",
                                static_cast<unsigned long long>(summary.stdoutLines)),
               wxString::Format("%llu records written to stderr",
                                static_cast<unsigned long long>(summary.stderrLines)),
               kIconInformation);
        lastStatus_ = wxString::Format("%s: Return Code was %u, Runtime %s", title,
                                       summary.exitCode, ClockText(summary.seconds));
    } else {
        wxString cause = OutputLineText(summary.startFailureText);
        Notify("Program Failed to Start",
               wxString::Format("Return Code was %u", static_cast<unsigned>(summary.startError)),
               cause, kIconFailure);
        lastStatus_ = "Program Failed to Start: " + cause;
    }
    if (!summary.logProblem.empty()) {
        Notify("Log Incomplete", "The batch log could not be written",
               OutputLineText(summary.logProblem), kIconFailure);
        lastStatus_ += " (the batch log could not be written)";
    }
    statusLine_->SetLabel(lastStatus_);
}
