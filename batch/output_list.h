// One output list of the batch dialog: a report-view list, white monospaced text on black,
// showing the lines of one of the child's streams. Lines arrive on the runner's reader
// threads and are only queued there; the window's thread takes them over in batches on a
// timer of its own, so a child that prints a flood of lines never floods the window's
// event queue. Every line is kept and shown; the list itself only draws the rows in view.
// Lines can be selected with the mouse or the keyboard and copied (Ctrl+C, or the context
// menu's Copy, Select All and Save Output As...).
#pragma once
#include <wx/listctrl.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class OutputList : public wxListCtrl {
  public:
    OutputList(wxWindow* parent, wxWindowID id, const wxFont& font);
    ~OutputList() override;

    // Any thread: queues one line.
    void QueueLine(std::string_view line);
    // Window's thread: moves every queued line into the list.
    void TakeQueued();

    // Window's thread. Clear empties the list; lines still queued stay queued.
    void Clear();
    size_t Count() const { return lines_.size(); }
    const std::string& Line(size_t index) const { return lines_[index]; }
    // Fits the column to the longest line (and the header text).
    void FitColumn();

    // Window's thread. The selected lines, each with a line feed after it.
    std::string SelectedText() const;
    // Selects every line.
    void SelectAll();
    // Puts the selected lines on the clipboard; false when none is selected or the
    // clipboard cannot be had.
    bool CopySelection();
    // Writes every line, each with a line feed, to path: beside it first, then renamed
    // over it, so a failure leaves no half-written file. False with *reason when it fails.
    bool SaveLines(const wxString& path, wxString* reason) const;
    // What Save Output As... does; the list's owner asks where and reports failures.
    void SetSaveHandler(std::function<void(OutputList*)> handler) {
        saveHandler_ = std::move(handler);
    }

  private:
    void OnKeyDown(wxKeyEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);

    wxString OnGetItemText(long item, long column) const override;

    // A deque: growing by a batch never moves the lines already kept.
    std::deque<std::string> lines_;
    std::thread releaser_;   // frees the lines of the previous run
    size_t widestLine_ = 0;  // in characters; the font is monospaced
    std::mutex queueMutex_;
    std::vector<std::string> queued_;
    std::function<void(OutputList*)> saveHandler_;
};

// Text of a child's line for the screen: UTF-8 when it is valid UTF-8, else Latin-1, so that
// no line shows up empty.
wxString OutputLineText(const std::string& line);
