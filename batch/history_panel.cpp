// The History tab: the run history in a list, kept up to date while the window is open.
#include "batch/history_panel.h"

#include <sys/stat.h>
#include <unistd.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "batch/history_command.h"

namespace {
// A run that ends in another process (a timer, --run in a terminal) shows up within this.
constexpr int kPollMilliseconds = 2000;

wxString Text(const std::string& text) {
    wxString converted = wxString::FromUTF8(text.c_str());
    return converted.empty() && !text.empty() ? wxString::From8BitData(text.c_str()) : converted;
}
}  // namespace

HistoryPanel::HistoryPanel(wxWindow* parent, std::function<void(const wxString& path)> openLog)
    : wxPanel(parent, wxID_ANY), openLog_(std::move(openLog)), poll_(this) {
    list_ = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                           wxLC_REPORT | wxLC_SINGLE_SEL);
    list_->AppendColumn("Time", wxLIST_FORMAT_LEFT, FromDIP(140));
    list_->AppendColumn("Definition", wxLIST_FORMAT_LEFT, FromDIP(420));
    list_->AppendColumn("Status", wxLIST_FORMAT_RIGHT, FromDIP(80));
    list_->AppendColumn("Duration", wxLIST_FORMAT_RIGHT, FromDIP(80));
    note_ = new wxStaticText(this, wxID_ANY, wxString());
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list_, 1, wxEXPAND);
    sizer->Add(note_, 0, wxEXPAND | wxALL, FromDIP(2));
    SetSizer(sizer);
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, &HistoryPanel::OnActivated, this);
    Bind(wxEVT_TIMER, &HistoryPanel::OnPoll, this, poll_.GetId());
    Reload();
    poll_.Start(kPollMilliseconds);
}

wxString HistoryPanel::Note() const {
    return note_->GetLabel();
}

void HistoryPanel::Reload() {
    std::string path = RunHistoryPath();
    struct stat status = {};
    if (!path.empty() && stat(path.c_str(), &status) == 0) {
        seenTime_ = status.st_mtim;
        seenSize_ = status.st_size;
    } else {
        seenSize_ = -1;
    }
    RunHistory history = path.empty() ? RunHistory{} : ReadRunHistory(path, kHistoryPanelRows);
    records_.assign(history.records.rbegin(), history.records.rend());
    list_->Freeze();
    list_->DeleteAllItems();
    for (size_t i = 0; i < records_.size(); ++i) {
        const RunRecord& record = records_[i];
        long row = list_->InsertItem(static_cast<long>(i), Text(RunStartText(record)));
        list_->SetItem(
            row, 1,
            record.definitionPath.empty() ? wxString("(not saved)") : Text(record.definitionPath));
        list_->SetItem(row, 2, Text(RunStatusText(record)));
        list_->SetItem(row, 3, Text(RunDurationText(record)));
    }
    list_->Thaw();
    wxString note;
    if (path.empty())
        note = "No run history: neither XDG_STATE_HOME nor HOME is set.";
    else if (!history.ok)
        note = "The run history cannot be read: " + Text(history.reason);
    else if (!history.warnings.empty())
        note = wxString::Format("%zu damaged records in %s were skipped.", history.warnings.size(),
                                Text(path));
    else if (records_.empty())
        note = "No runs yet.";
    note_->SetLabel(note);
}

void HistoryPanel::OpenEntry(long index) {
    if (index < 0 || static_cast<size_t>(index) >= records_.size()) return;
    const std::string& log = records_[static_cast<size_t>(index)].logPath;
    if (log.empty() || access(log.c_str(), R_OK) != 0) {
        // Logs live in the temporary folder, which the system empties now and then.
        note_->SetLabel(log.empty() ? wxString("That run has no batch log.")
                                    : "The batch log " + Text(log) + " no longer exists.");
        return;
    }
    note_->SetLabel(wxString());
    openLog_(Text(log));
}

void HistoryPanel::OnActivated(wxListEvent& event) {
    OpenEntry(event.GetIndex());
}

void HistoryPanel::OnPoll(wxTimerEvent&) {
    std::string path = RunHistoryPath();
    struct stat status = {};
    bool exists = !path.empty() && stat(path.c_str(), &status) == 0;
    bool changed = exists
                       ? status.st_size != seenSize_ || status.st_mtim.tv_sec != seenTime_.tv_sec ||
                             status.st_mtim.tv_nsec != seenTime_.tv_nsec
                       : seenSize_ != -1;
    if (changed) Reload();
}
