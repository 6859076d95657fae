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

    if (OpenCount() == 0) stackStart_ = toasts_.size();
    wxPoint corner = position_ == wxPoint(-1, -1) ? DefaultCorner() : position_;
    wxRect start(corner.x - ToastWindow::kWidth, corner.y - ToastWindow::kHeight,
                 ToastWindow::kWidth, ToastWindow::kHeight);
    std::vector<wxRect> stack, open;
    for (size_t i = stackStart_; i < toasts_.size(); ++i) {
        stack.push_back(toasts_[i].place);
        if (toasts_[i].window) open.push_back(toasts_[i].place);
    }
    wxRect place = StackToastRect(start, stack);
    // A long stack would push new toasts off the top of the screen, where nobody sees
    // them. Then only the open ones are avoided, and when even that leaves no room, the
    // toast takes the default place.
    int top = wxDisplay(0u).GetClientArea().y;
    if (place.y < top) place = StackToastRect(start, open);
    if (place.y < top) place = start;

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
