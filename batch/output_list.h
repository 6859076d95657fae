// One output list of the batch dialog: a report-view list, white monospaced text on black,
// showing the lines of one of the child's streams. Lines arrive on the runner's reader
// threads and are queued; the window's thread takes them over in batches, so a child that
// prints a flood of lines costs one event per batch, not one per line. Every line is kept
// and shown; the list itself only draws the rows in view.
#pragma once
#include <wx/listctrl.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class OutputList : public wxListCtrl {
  public:
    OutputList(wxWindow* parent, wxWindowID id, const wxFont& font);

    // Any thread: queues one line. Returns true when the caller must arrange for
    // TakeQueued on the window's thread (the first line since the last take).
    bool QueueLine(std::string_view line);
    // Any thread: queues a line and posts the take to the window's thread when needed.
    void QueueLineAndPost(std::string_view line);
    // Window's thread: moves every queued line into the list.
    void TakeQueued();

    // Window's thread. Clear empties the list; lines still queued stay queued.
    void Clear();
    size_t Count() const { return lines_.size(); }
    const std::string& Line(size_t index) const { return lines_[index]; }
    // Fits the column to the longest line (and the header text).
    void FitColumn();

  private:
    wxString OnGetItemText(long item, long column) const override;

    std::vector<std::string> lines_;
    size_t widestLine_ = 0;  // in characters; the font is monospaced
    std::mutex queueMutex_;
    std::vector<std::string> queued_;
    bool takePosted_ = false;
};

// Text of a child's line for the screen: UTF-8 when it is valid UTF-8, else Latin-1, so that
// no line shows up empty.
wxString OutputLineText(const std::string& line);
