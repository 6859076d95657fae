// Placing and keeping the notification toasts.
#include "batch/notifications.h"

#include <wx/display.h>

wxRect StackToastRect(wxRect candidate, const std::vector<wxRect>& earlier) {
    // Each move goes up, past the rectangle that was met, so a rectangle once passed is
    // never met again and the loop ends after at most one move per rectangle.
    bool moved = true;
    while (moved) {
        moved = false;
        for (const wxRect& other : earlier) {
            if (candidate.Intersects(other)) {
                candidate.y = other.y - candidate.height;
                moved = true;
            }
        }
    }
    return candidate;
}

wxPoint NotificationService::DefaultCorner() const {
    wxRect area = wxDisplay(0u).GetClientArea();
    return wxPoint(area.x + area.width, area.y + area.height);
}

void NotificationService::Show(wxWindow* parent, const wxString& title, const wxString& firstLine,
                               const wxString& secondLine, int icon, int firstButtonIcon,
                               int secondButtonIcon, int displayMs, int secondButtonId) {
    (void)secondButtonId;  // -1: the second button closes the toast like the first
    wxPoint corner = position_ == wxPoint(-1, -1) ? DefaultCorner() : position_;
    wxRect start(corner.x - ToastWindow::kWidth, corner.y - ToastWindow::kHeight,
                 ToastWindow::kWidth, ToastWindow::kHeight);
    std::vector<wxRect> all, open;
    for (size_t i = 0; i < shown_.size(); ++i) {
        all.push_back(shown_[i].place);
        if (windows_[i]) open.push_back(shown_[i].place);
    }
    wxRect place = StackToastRect(start, all);
    // Places of closed toasts stay taken, so a long session would push new toasts off the
    // top of the screen, where nobody sees them. Then only the open ones are avoided, and
    // when even that leaves no room, the toast takes the default place.
    int top = wxDisplay(0u).GetClientArea().y;
    if (place.y < top) place = StackToastRect(start, open);
    if (place.y < top) place = start;

    ToastContent content;
    content.title = title;
    content.firstLine = firstLine;
    content.secondLine = secondLine;
    content.icon = icon;
    content.firstButtonIcon = firstButtonIcon;
    content.secondButtonIcon = secondButtonIcon;
    content.displayMs = displayMs;
    size_t index = shown_.size();
    shown_.push_back({title, firstLine, secondLine, icon, place});
    auto* toast = new ToastWindow(parent, content, place.GetBottomRight() + wxPoint(1, 1),
                                  [this, index](wxPoint bottomRight) {
                                      wxRect& moved = shown_[index].place;
                                      moved.SetPosition(bottomRight - moved.GetSize());
                                  });
    windows_.emplace_back(toast);
    toast->Start();
}

int NotificationService::OpenCount() const {
    int count = 0;
    for (const wxWeakRef<ToastWindow>& window : windows_)
        if (window) ++count;
    return count;
}

std::vector<ToastWindow*> NotificationService::OpenToasts() const {
    std::vector<ToastWindow*> open;
    for (const wxWeakRef<ToastWindow>& window : windows_)
        if (window) open.push_back(window.get());
    return open;
}

void NotificationService::CloseAll() {
    for (wxWeakRef<ToastWindow>& window : windows_)
        if (window) window->Destroy();
}
