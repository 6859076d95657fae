// Placing and keeping the notification toasts.
#include "batch/notifications.h"

#include <wx/display.h>

#include "batch/icons.h"

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
    ToastContent content;
    content.title = title;
    content.firstLine = firstLine;
    content.secondLine = secondLine;
    content.icon = icon;
    content.firstButtonIcon = firstButtonIcon;
    content.secondButtonIcon = secondButtonIcon;
    // A failure is not to be missed: it stays until it is closed.
    content.displayMs = icon == kIconFailure ? 0 : displayMs;

    for (Toast& toast : toasts_) {
        if (toast.window && toast.title == title && toast.firstLine == firstLine &&
            toast.secondLine == secondLine) {
            toast.window->Replace(content);
            shown_.push_back({title, firstLine, secondLine, icon, toast.place, true});
            return;
        }
    }

    // A new toast takes the lowest place that no open toast covers: the places of closed
    // ones are free again, so a toast that stays (a failure) never makes the next ones walk
    // up the screen. When even that leaves no room, it takes the default place.
    wxPoint corner = position_ == wxPoint(-1, -1) ? DefaultCorner() : position_;
    wxRect start(corner.x - ToastWindow::kWidth, corner.y - ToastWindow::kHeight,
                 ToastWindow::kWidth, ToastWindow::kHeight);
    std::vector<wxRect> open;
    for (const Toast& toast : toasts_)
        if (toast.window) open.push_back(toast.place);
    wxRect place = StackToastRect(start, open);
    if (place.y < wxDisplay(0u).GetClientArea().y) place = start;

    size_t index = toasts_.size();
    shown_.push_back({title, firstLine, secondLine, icon, place, false});
    auto* window = new ToastWindow(parent, content, place.GetBottomRight() + wxPoint(1, 1),
                                   [this, index](wxPoint bottomRight) {
                                       wxRect& moved = toasts_[index].place;
                                       moved.SetPosition(bottomRight - moved.GetSize());
                                   });
    toasts_.push_back({window, place, title, firstLine, secondLine});
    window->Start();
}

int NotificationService::OpenCount() const {
    int count = 0;
    for (const Toast& toast : toasts_)
        if (toast.window) ++count;
    return count;
}

std::vector<ToastWindow*> NotificationService::OpenToasts() const {
    std::vector<ToastWindow*> open;
    for (const Toast& toast : toasts_)
        if (toast.window) open.push_back(toast.window.get());
    return open;
}

void NotificationService::CloseAll() {
    for (Toast& toast : toasts_)
        if (toast.window) toast.window->Destroy();
}
