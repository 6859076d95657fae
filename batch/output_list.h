// One output list of the batch dialog: a report-view list, white monospaced text on black,
// showing the lines of one of the child's streams. The lines belong to the run controller,
// which keeps the newest of them; the list is a view that the window's thread brings up
// to date on a timer of its own, so a child that prints a flood of lines never floods the
// window's event queue. When older lines were dropped, the first row says how many.
// Lines can be selected with the mouse or the keyboard and copied (Ctrl+C, or the context
// menu's Copy, Select All and Save Output As...).
#pragma once
#include <wx/listctrl.h>

#include <cstdint>
#include <functional>
#include <string>

class KeptLines;

class OutputList : public wxListCtrl {
  public:
    OutputList(wxWindow* parent, wxWindowID id, const wxFont& font);

    // The lines to show; they must outlive the list.
    void ShowLines(const KeptLines* lines) { source_ = lines; }
    // Window's thread: shows the lines that arrived since the last call.
    void Sync();

    // Window's thread. Clear empties the view until the next Sync.
    void Clear();
    // The lines shown (the note row of dropped lines not counted), and line index of them.
    size_t Count() const { return static_cast<size_t>(end_ - first_); }
    std::string Line(size_t index) const;
    // How many older lines of the run are no longer kept.
    uint64_t Dropped() const { return first_; }
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
    long NoteRows() const { return first_ > 0 ? 1 : 0; }

    const KeptLines* source_ = nullptr;
    uint64_t first_ = 0;  // the line numbers shown: first_ to end_ - 1
    uint64_t end_ = 0;
    size_t widestLine_ = 0;  // in characters; the font is monospaced
    std::function<void(OutputList*)> saveHandler_;
};

// Text of a child's line for the screen: UTF-8 when it is valid UTF-8, else Latin-1, so that
// no line shows up empty.
wxString OutputLineText(const std::string& line);
