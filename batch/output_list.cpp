// The output list: a virtual report list over the lines the run controller keeps.
#include "batch/output_list.h"

#include <wx/clipbrd.h>
#include <wx/dcclient.h>
#include <wx/filename.h>
#include <wx/menu.h>

#include <algorithm>
#include <cstring>

#include "batch/batch_run.h"
#include "platform/io.h"
#include "platform/whole_file.h"

wxString OutputLineText(const std::string& line) {
    wxString text = wxString::FromUTF8(line.data(), line.size());
    if (text.empty() && !line.empty()) text = wxString(line.data(), wxConvISO8859_1, line.size());
    return text;
}

OutputList::OutputList(wxWindow* parent, wxWindowID id, const wxFont& font)
    : wxListCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_NO_HEADER | wxLC_VIRTUAL | wxBORDER_SUNKEN) {
    SetFont(font);
    SetBackgroundColour(*wxBLACK);
    SetTextColour(*wxWHITE);
    AppendColumn("Output", wxLIST_FORMAT_LEFT, 300);
    Bind(wxEVT_KEY_DOWN, &OutputList::OnKeyDown, this);
    Bind(wxEVT_CONTEXT_MENU, &OutputList::OnContextMenu, this);
}

std::string OutputList::SelectedText() const {
    std::string text;
    for (long item = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
         item = GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) {
        if (static_cast<size_t>(item) >= Count()) break;
        text += Line(static_cast<size_t>(item));
        text += '\n';
    }
    return text;
}

void OutputList::SelectAll() {
    if (GetItemCount() > 0) SetItemState(-1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

bool OutputList::CopySelection() {
    std::string text = SelectedText();
    if (text.empty() || !wxTheClipboard->Open()) return false;
    bool copied = wxTheClipboard->SetData(new wxTextDataObject(OutputLineText(text)));
    wxTheClipboard->Close();
    return copied;
}

bool OutputList::SaveLines(const wxString& path, wxString* reason) const {
    int error = Platform_ReplaceFile(path.utf8_string().c_str(), [this](int fd) {
        for (size_t i = 0; i < Count(); ++i) {
            std::string line = Line(i);
            if (!WriteAll(fd, line.data(), line.size()) || !WriteAll(fd, "\n", 1)) return false;
        }
        return true;
    });
    if (error != 0 && reason != nullptr) *reason = wxString::FromUTF8(strerror(error));
    return error == 0;
}

void OutputList::OnKeyDown(wxKeyEvent& event) {
    if (event.GetModifiers() == wxMOD_CONTROL && event.GetKeyCode() == 'C') {
        CopySelection();
        return;
    }
    if (event.GetModifiers() == wxMOD_CONTROL && event.GetKeyCode() == 'A') {
        SelectAll();
        return;
    }
    event.Skip();
}

void OutputList::OnContextMenu(wxContextMenuEvent&) {
    wxMenu menu;
    menu.Append(wxID_COPY, "&Copy\tCtrl+C");
    menu.Append(wxID_SELECTALL, "Select &All\tCtrl+A");
    menu.AppendSeparator();
    menu.Append(wxID_SAVEAS, wxString::FromUTF8("Save Output &As\u2026"));
    menu.Enable(wxID_COPY, GetSelectedItemCount() > 0);
    menu.Enable(wxID_SELECTALL, Count() > 0);
    menu.Enable(wxID_SAVEAS, Count() > 0 && saveHandler_ != nullptr);
    switch (GetPopupMenuSelectionFromUser(menu)) {
        case wxID_COPY:
            CopySelection();
            break;
        case wxID_SELECTALL:
            SelectAll();
            break;
        case wxID_SAVEAS:
            saveHandler_(this);
            break;
        default:
            break;
    }
}

void OutputList::Sync() {
    if (source_ == nullptr) return;
    uint64_t first = source_->First();
    uint64_t end = source_->End();
    if (first == first_ && end == end_) return;
    // Follow the end of the output unless the user has scrolled up to read.
    long before = static_cast<long>(Count()) + NoteRows();
    bool following = before == 0 || GetTopItem() + GetCountPerPage() >= before;
    size_t widestBefore = widestLine_;
    std::string text;
    // Only the lines not seen before are measured; at most a screenful's worth of the
    // newest when a flood arrived at once.
    for (uint64_t number = std::max({end_, first, end > 1000 ? end - 1000 : 0}); number < end;
         ++number) {
        if (source_->Line(number, &text)) widestLine_ = std::max(widestLine_, text.size());
    }
    first_ = first;
    end_ = end;
    SetItemCount(static_cast<long>(Count()) + NoteRows());
    // A longer line widens the column, so no line is cut off at the column's edge.
    if (widestLine_ > widestBefore) FitColumn();
    if (following && Count() > 0) EnsureVisible(static_cast<long>(Count()) + NoteRows() - 1);
    Refresh();
}

void OutputList::Clear() {
    first_ = end_ = 0;
    widestLine_ = 0;
    SetItemCount(0);
    Refresh();
}

std::string OutputList::Line(size_t index) const {
    std::string text;
    if (source_ != nullptr) source_->Line(first_ + index, &text);
    return text;
}

void OutputList::FitColumn() {
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    int charWidth = dc.GetTextExtent("M").x;
    int width = static_cast<int>(widestLine_) * charWidth;
    width = std::max(width, dc.GetTextExtent("Output").x);
    SetColumnWidth(0, width + 12);
}

wxString OutputList::OnGetItemText(long item, long) const {
    if (item < 0) return wxString();
    if (item < NoteRows()) {
        return wxString::Format("[%llu earlier lines not shown]",
                                static_cast<unsigned long long>(first_));
    }
    return OutputLineText(Line(static_cast<size_t>(item - NoteRows())));
}
