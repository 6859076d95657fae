// The History tab of the batch dialog: the last runs of every definition (from this
// window, from --run, from a timer), newest first, with their time, definition, status and
// duration. Opening an entry (double click or Enter) opens its batch log. The panel reads
// the history file when it is made and again whenever the file changes.
#pragma once
#include <wx/panel.h>
#include <wx/timer.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "batch/run_history.h"

class wxListCtrl;
class wxListEvent;
class wxStaticText;

class HistoryPanel : public wxPanel {
  public:
    // openLog opens a log file with the desktop's opener; it is called on the window's thread.
    HistoryPanel(wxWindow* parent, std::function<void(const wxString& path)> openLog);

    // Reads the history file again.
    void Reload();
    // Opens the log of the row shown at index (0: the newest run).
    void OpenEntry(long index);

    // For the tests: the list, the records it shows (newest first) and the note under it.
    wxListCtrl* List() const { return list_; }
    const std::vector<RunRecord>& Records() const { return records_; }
    wxString Note() const;

  private:
    void OnActivated(wxListEvent& event);
    void OnPoll(wxTimerEvent& event);

    std::function<void(const wxString& path)> openLog_;
    wxListCtrl* list_ = nullptr;
    wxStaticText* note_ = nullptr;
    wxTimer poll_;
    std::vector<RunRecord> records_;
    // What the history file looked like when it was read, to see when it changed.
    struct timespec seenTime_ = {};
    off_t seenSize_ = -1;
};

// The rows the tab shows.
constexpr size_t kHistoryPanelRows = 200;
