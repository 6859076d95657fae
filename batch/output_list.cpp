// The output list: a virtual report list over the lines the run controller keeps.
#include "batch/output_list.h"

#include <wx/dcclient.h>

#include <algorithm>

#include "batch/batch_run.h"

wxString OutputLineText(const std::string& line) {
    wxString text = wxString::FromUTF8(line.data(), line.size());
    if (text.empty() && !line.empty()) text = wxString(line.data(), wxConvISO8859_1, line.size());
    return text;
}

OutputList::OutputList(wxWindow* parent, wxWindowID id, const wxFont& font)
    : wxListCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_NO_HEADER | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxBORDER_SUNKEN) {
    SetFont(font);
    SetBackgroundColour(*wxBLACK);
    SetTextColour(*wxWHITE);
    AppendColumn("Output", wxLIST_FORMAT_LEFT, 300);
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
