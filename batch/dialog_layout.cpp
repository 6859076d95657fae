// The batch dialog's layout on the original dialog-unit rectangles, its size and place
// kept between starts, and its keys.
#include <wx/button.h>
#include <wx/display.h>
#include <wx/notebook.h>
#include <wx/propgrid/manager.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <climits>

#include "batch/dialog.h"
#include "batch/settings.h"

namespace {
// Where the window's size and place are kept between starts.
const char* const kWindowSection = "Window";
}  // namespace

void ZYMBBatchWindow::LayOut() {
    // The rectangles of the original layout, in dialog units, become the gaps between the
    // controls; at the default size every control stands where it always stood. A larger
    // window gives the grid more width and the lists more of both, and keeps Run and Cancel
    // in the bottom right corner.
    auto x = [this](int units) { return ConvertDialogToPixels(wxPoint(units, 0)).x; };
    auto y = [this](int units) { return ConvertDialogToPixels(wxPoint(0, units)).y; };
    auto width = [&](int from, int to) { return x(to) - x(from); };
    auto height = [&](int from, int to) { return y(to) - y(from); };

    auto* grid = new wxBoxSizer(wxHORIZONTAL);
    grid->AddSpacer(x(7));
    grid->Add(grid_, 1, wxEXPAND);
    grid->AddSpacer(width(646, 653));
    grid_->SetMinSize(wxSize(width(7, 646), height(7, 174)));

    auto* commands = new wxBoxSizer(wxHORIZONTAL);
    commands->AddSpacer(x(7));
    commands->Add(FindWindow(ID_LOAD));
    commands->AddSpacer(width(57, 59));
    commands->Add(FindWindow(ID_SAVE));
    commands->AddSpacer(width(109, 111));
    commands->Add(FindWindow(ID_OPEN_LOG));
    commands->AddSpacer(width(161, 163));
    commands->Add(FindWindow(ID_SCHEDULE));

    auto* lists = new wxBoxSizer(wxHORIZONTAL);
    lists->AddSpacer(x(8));
    lists->Add(tabs_, 1, wxEXPAND);
    lists->AddSpacer(width(647, 653));
    tabs_->SetMinSize(wxSize(width(8, 647), height(200, 402)));

    auto* ending = new wxBoxSizer(wxHORIZONTAL);
    ending->AddSpacer(x(8));
    statusLine_->SetMinSize(wxSize(x(100), -1));
    ending->Add(statusLine_, 1, wxALIGN_CENTER_VERTICAL);
    ending->AddSpacer(width(538, 545));
    ending->Add(runButton_);
    ending->AddSpacer(width(595, 597));
    ending->Add(closeButton_);
    ending->AddSpacer(width(647, 653));

    auto* whole = new wxBoxSizer(wxVERTICAL);
    whole->AddSpacer(y(7));
    whole->Add(grid, 0, wxEXPAND);
    whole->AddSpacer(height(174, 180));
    whole->Add(commands, 0, wxEXPAND);
    whole->AddSpacer(height(194, 200));
    whole->Add(lists, 1, wxEXPAND);
    whole->AddSpacer(height(402, 416));
    whole->Add(ending, 0, wxEXPAND);
    whole->AddSpacer(height(430, 436));
    SetSizer(whole);
    // The smallest size is the default one, as size hints a window manager honours.
    whole->SetSizeHints(this);
    // On a display smaller than that (a small screen, or a large scale factor) the grid
    // and then the lists give way, so that the whole window fits and nothing is cut off.
    int display = wxDisplay::GetFromWindow(this);
    wxRect area =
        wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    wxSize over = ClientToWindowSize(whole->GetMinSize()) - area.GetSize();
    if (over.x > 0 || over.y > 0) {
        wxSize lists = tabs_->GetMinSize();
        wxSize properties = grid_->GetMinSize();
        int gridGives = std::clamp(over.y, 0, std::max(properties.y - y(90), 0));
        properties.y -= gridGives;
        lists.y -= std::clamp(over.y - gridGives, 0, std::max(lists.y - y(100), 0));
        lists.x = std::max(lists.x - std::max(over.x, 0), x(200));
        properties.x = lists.x;
        tabs_->SetMinSize(lists);
        grid_->SetMinSize(properties);
        whole->SetSizeHints(this);
    }
    defaultSize_ = GetSize();
}

void ZYMBBatchWindow::RestorePlacement() {
    SettingsFile& settings = *settings_;
    long width = settings.ReadNumber(kWindowSection, "Width", -1);
    long height = settings.ReadNumber(kWindowSection, "Height", -1);
    if (width > 0 && height > 0) {
        wxRect area = wxDisplay(0u).GetClientArea();
        SetSize(std::clamp(static_cast<int>(width), defaultSize_.x,
                           std::max(defaultSize_.x, area.width)),
                std::clamp(static_cast<int>(height), defaultSize_.y,
                           std::max(defaultSize_.y, area.height)));
    }
    long left = settings.ReadNumber(kWindowSection, "Left", LONG_MIN);
    long top = settings.ReadNumber(kWindowSection, "Top", LONG_MIN);
    // A place on a display that is no longer there would hide the window.
    wxPoint place(static_cast<int>(left), static_cast<int>(top));
    if (left != LONG_MIN && top != LONG_MIN && wxDisplay::GetFromPoint(place) != wxNOT_FOUND)
        Move(place);
    else
        Centre();
}

void ZYMBBatchWindow::RememberPlacement() {
    if (IsIconized()) return;
    SettingsFile& settings = *settings_;
    wxRect place = GetRect();
    settings.WriteNumber(kWindowSection, "Left", place.x);
    settings.WriteNumber(kWindowSection, "Top", place.y);
    settings.WriteNumber(kWindowSection, "Width", place.width);
    settings.WriteNumber(kWindowSection, "Height", place.height);
}

void ZYMBBatchWindow::OnCharHook(wxKeyEvent& event) {
    // F5 and Ctrl+R run, Ctrl+O loads, Ctrl+S saves, each only while its button would.
    int key = event.GetKeyCode();
    int id = wxID_NONE;
    if (key == WXK_F5 && event.GetModifiers() == wxMOD_NONE) id = ID_RUN;
    if (event.GetModifiers() == wxMOD_CONTROL) {
        if (key == 'R') id = ID_RUN;
        if (key == 'O') id = ID_LOAD;
        if (key == 'S') id = ID_SAVE;
    }
    wxWindow* button = id != wxID_NONE ? FindWindow(id) : nullptr;
    if (button == nullptr) {
        event.Skip();
        return;
    }
    if (!button->IsEnabled()) return;
    if (id == ID_RUN) OnRun();
    if (id == ID_LOAD) OnLoad();
    if (id == ID_SAVE) OnSave();
}
