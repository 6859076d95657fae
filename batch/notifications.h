// The application's notification service: shows toasts stacked so that a new one never
// covers the place of one shown before it while the stack lasts, and remembers every
// notification it was asked to show. A notification the same as one still on the screen
// (title and lines) takes that one's place and time instead of stacking another; once no
// toast is left on the screen, the next one starts again at the bottom. Failures stay until
// the user closes them.
#pragma once
#include <wx/gdicmn.h>
#include <wx/string.h>
#include <wx/weakref.h>

#include <vector>

#include "batch/toast.h"

// The stacking rule: while the candidate meets any of the earlier rectangles, it moves up
// so that its bottom lies on that one's top; done when a pass over all of them meets none.
wxRect StackToastRect(wxRect candidate, const std::vector<wxRect>& earlier);

struct NotificationRecord {
    wxString title, firstLine, secondLine;
    int icon = 0;
    wxRect place;           // on the screen, where it was put when shown
    bool replaced = false;  // it took the place of the same notification still shown
};

class NotificationService {
  public:
    // The shown toasts stand at their own places; only the list is forgotten here.
    ~NotificationService() = default;
    // (-1, -1): the default place, the bottom-right corner of the display's work area.
    void SetPosition(wxPoint bottomRight) { position_ = bottomRight; }
    // Shows a toast for the parent window (which may be null). secondButtonId is the
    // command of the second button; -1, the only value this program passes, closes it.
    void Show(wxWindow* parent, const wxString& title, const wxString& firstLine,
              const wxString& secondLine, int icon, int firstButtonIcon, int secondButtonIcon,
              int displayMs, int secondButtonId);
    // Every toast shown so far, oldest first.
    const std::vector<NotificationRecord>& Shown() const { return shown_; }
    // How many toasts are on the screen now, and those toasts.
    int OpenCount() const;
    std::vector<ToastWindow*> OpenToasts() const;
    // Closes every toast still shown (the program is ending).
    void CloseAll();

  private:
    struct Toast {
        wxWeakRef<ToastWindow> window;
        wxRect place;  // where it stands now (the user may have dragged it)
        wxString title, firstLine, secondLine;
    };
    wxPoint DefaultCorner() const;
    wxPoint position_{-1, -1};
    std::vector<NotificationRecord> shown_;
    std::vector<Toast> toasts_;  // every toast window made, oldest first
};
