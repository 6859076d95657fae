// Running the batch definition from the dialog: the Run command, the lines arriving from
// the runner's threads, pause / resume / cancel, and the end of a run.
#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/propgrid/manager.h>

#include "batch/batch_run.h"
#include "batch/dialog.h"
#include "batch/icons.h"
#include "batch/output_list.h"

namespace {
// How often the window takes queued lines over, and how many lines of output one slice of
// log writing covers: both small enough that input is never kept waiting long.
const int kTakeIntervalMs = 25;
const size_t kLogSliceLines = 20000;
}  // namespace

// Reader threads: the line waits in its list's queue; the window's take timer moves queued
// lines into the lists in batches. Nothing is posted per line, so a flood of output cannot
// crowd out the window's other events.
void ZYMBBatchDlg::LineArrived(RunnerStream* stream, std::string_view line) {
    static_cast<OutputList*>(stream->userContext)->QueueLine(line);
}

void ZYMBBatchDlg::OnTakeLines(wxTimerEvent&) {
    outputList_->TakeQueued();
    messagesList_->TakeQueued();
}

// Runner thread: every line callback has returned, so the lines are queued before this.
void ZYMBBatchDlg::RunCompleted(ProcessRunner* runner, uint32_t exitCode, uint32_t seconds) {
    auto* dialog = static_cast<ZYMBBatchDlg*>(runner->userContext);
    dialog->CallAfter([dialog, exitCode, seconds] { dialog->HandleCompleted(exitCode, seconds); });
}

void ZYMBBatchDlg::StartFailed(ProcessRunner* runner, int error, const char* errorText) {
    auto* dialog = static_cast<ZYMBBatchDlg*>(runner->userContext);
    dialog->startFailed_ = true;
    wxString text = OutputLineText(errorText != nullptr ? errorText : "");
    dialog->CallAfter([dialog, error, text] { dialog->HandleFailedStart(error, text); });
}

void ZYMBBatchDlg::SetRunControlsEnabled(bool enabled) {
    runButton_->Enable(enabled);
    grid_->Enable(enabled);
    grid_->Refresh();
}

void ZYMBBatchDlg::OnRun() {
    if (runActive_) return;  // one run at a time; Run is disabled meanwhile anyway
    // The last run's output must be in the log before its lists are emptied.
    if (runOutputLog_.active) ContinueRunOutputLog(SIZE_MAX);
    // Lines of this run go to the lists; the run's end comes back to this window.
    runner_.output.userContext = outputList_;
    runner_.output.lineCallback = LineArrived;
    runner_.error.userContext = messagesList_;
    runner_.error.lineCallback = LineArrived;
    runner_.userContext = this;
    runner_.completedCallback = RunCompleted;
    runner_.failedStartCallback = StartFailed;
    startFailed_ = false;

    RunPreparation prepared =
        PrepareAndStartRun(&runner_, &definition_, FieldsFromProperties(), &log_);
    switch (prepared.outcome) {
        case RunPreparation::EMPTY_PROGRAM:
            prompts_.messageBox(EMPTY_PROGRAM_TEXT, EMPTY_PROGRAM_CAPTION, wxOK | wxICON_WARNING);
            return;
        case RunPreparation::STDIN_UNOPENED:
            prompts_.messageBox(
                wxString::Format(STDIN_UNOPENED_FORMAT, OutputLineText(prepared.reason)),
                STDIN_UNOPENED_CAPTION, wxOK | wxICON_WARNING);
            return;
        case RunPreparation::START_FAILED:
            Notify("Program Failed to Start", "The run could not begin",
                   OutputLineText(prepared.reason), kIconFailure);
            return;
        case RunPreparation::STARTED:
            break;
    }
    // The lists are emptied only once the run has begun: a refused run changes nothing.
    // The new run's first lines wait in the lists' queues until this thread takes them.
    outputList_->Clear();
    messagesList_->Clear();
    runActive_ = true;
    takeTimer_.Start(kTakeIntervalMs);
    SetRunControlsEnabled(false);
    if (outputList_->Count() == 0)
        tabs_->SetSelection(1);
    else if (messagesList_->Count() == 0)
        tabs_->SetSelection(0);
}

void ZYMBBatchDlg::OnClose() {
    if (IsRunning()) {
        runner_.Pause(&runner_);
        int answer = prompts_.messageBox(
            "The running process has been paused.\nDo you want to cancel the process?",
            "Process Paused", wxYES_NO | wxICON_QUESTION);
        if (answer == wxYES)
            runner_.Cancel(&runner_);
        else
            runner_.Resume(&runner_);
        return;
    }
    if (!MayClose()) return;
    if (IsModal())
        EndModal(ID_CLOSE);
    else
        Destroy();
}

void ZYMBBatchDlg::OnCloseWindow(wxCloseEvent& event) {
    if (IsRunning() && event.CanVeto()) {
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

void ZYMBBatchDlg::StartRunOutputLog() {
    runOutputLog_ = RunOutputLog{true, 0, 0};
    log_.Header(LOG_HEADER_STDOUT);
}

bool ZYMBBatchDlg::WriteRunOutputSlice(size_t maxLines) {
    if (!runOutputLog_.active) return true;
    size_t written = 0;
    while (runOutputLog_.stream < 2) {
        OutputList* list = runOutputLog_.stream == 0 ? outputList_ : messagesList_;
        while (runOutputLog_.next < list->Count()) {
            if (written++ == maxLines) return false;
            log_.Line(list->Line(runOutputLog_.next++));
        }
        if (++runOutputLog_.stream == 1) {
            runOutputLog_.next = 0;
            log_.Header(LOG_HEADER_STDERR);
        }
    }
    log_.Header(LOG_HEADER_ENDED);
    log_.Flush();
    runOutputLog_.active = false;
    return true;
}

void ZYMBBatchDlg::ContinueRunOutputLog(size_t maxLines) {
    if (!WriteRunOutputSlice(maxLines)) {
        logTimer_.StartOnce(1);
        return;
    }
    logTimer_.Stop();
    Notify("Output Statistics",
           wxString::Format("%u records written to stdout",
                            static_cast<unsigned>(outputList_->Count())),
           wxString::Format("%u records written to stderr",
                            static_cast<unsigned>(messagesList_->Count())),
           kIconInformation);
}

void ZYMBBatchDlg::OnLogSlice(wxTimerEvent&) {
    ContinueRunOutputLog(kLogSliceLines);
}

void ZYMBBatchDlg::HandleCompleted(uint32_t exitCode, uint32_t seconds) {
    takeTimer_.Stop();
    outputList_->TakeQueued();
    messagesList_->TakeQueued();
    runActive_ = false;
    SetRunControlsEnabled(true);
    Notify("Program Completed", wxString::Format("Return Code was %u", exitCode),
           wxString::Format("Runtime %u seconds", seconds),
           exitCode == 0 ? kIconSuccess : kIconFailure);
    // Then the output to the log and, once it is all there, the statistics.
    StartRunOutputLog();
    ContinueRunOutputLog(kLogSliceLines);
}

void ZYMBBatchDlg::HandleFailedStart(int error, const wxString& text) {
    takeTimer_.Stop();
    outputList_->TakeQueued();
    messagesList_->TakeQueued();
    runActive_ = false;
    SetRunControlsEnabled(true);
    Notify("Program Failed to Start",
           wxString::Format("Return Code was %u", static_cast<unsigned>(error)), text,
           kIconFailure);
}
