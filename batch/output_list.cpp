// The output list: a virtual report list over the lines kept in memory.
#include "batch/output_list.h"

#include <wx/dcclient.h>

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

void OutputList::QueueLine(std::string_view line) {
    std::lock_guard<std::mutex> guard(queueMutex_);
    queued_.emplace_back(line);
}

void OutputList::TakeQueued() {
    std::vector<std::string> taken;
    {
        std::lock_guard<std::mutex> guard(queueMutex_);
        taken.swap(queued_);
    }
    if (taken.empty()) return;
    // Follow the end of the output unless the user has scrolled up to read.
    long before = static_cast<long>(lines_.size());
    bool following = before == 0 || GetTopItem() + GetCountPerPage() >= before;
    size_t widestBefore = widestLine_;
    for (std::string& line : taken) {
        widestLine_ = std::max(widestLine_, line.size());
        lines_.push_back(std::move(line));
    }
    SetItemCount(static_cast<long>(lines_.size()));
    // A longer line widens the column, so no line is cut off at the column's edge.
    if (widestLine_ > widestBefore) FitColumn();
    if (following) EnsureVisible(static_cast<long>(lines_.size()) - 1);
}

void OutputList::Clear() {
    // Freeing a flood's million lines takes a while: a helper thread does it, so the new
    // run's window answers at once.
    if (releaser_.joinable()) releaser_.join();
    if (lines_.size() > 10000)
        releaser_ = std::thread([old = std::move(lines_)]() mutable { old.clear(); });
    lines_ = std::deque<std::string>();
    widestLine_ = 0;
    SetItemCount(0);
    Refresh();
}

void OutputList::FitColumn() {
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    int charWidth = dc.GetTextExtent("M").x;
    int width = static_cast<int>(widestLine_) * charWidth;
    width = std::max(width, dc.GetTextExtent("Output").x);
    SetColumnWidth(0, width + 12);
}

OutputList::~OutputList() {
    if (releaser_.joinable()) releaser_.join();
}

wxString OutputList::OnGetItemText(long item, long) const {
    if (item < 0 || static_cast<size_t>(item) >= lines_.size()) return wxString();
    return OutputLineText(lines_[static_cast<size_t>(item)]);
}
