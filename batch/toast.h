// One pop-up notification: a borderless 329 x 74 window with a bold title, two lines, an
// icon and two buttons that close it. It slides in from its bottom edge, stays for its
// display time (or until it is closed) and then closes itself; the user may drag it.
#pragma once
#include <wx/popupwin.h>
#include <wx/stopwatch.h>
#include <wx/timer.h>

#include <functional>

#include "batch/icons.h"

struct ToastContent {
    wxString title, firstLine, secondLine;
    int icon = kIconInformation;
    int firstButtonIcon = kIconCloseButton;
    int secondButtonIcon = kIconOptionButton;
    int displayMs = 10000;  // 0: stays until it is closed
};

class ToastWindow : public wxPopupWindow {
  public:
    static constexpr int kWidth = 329;
    static constexpr int kHeight = 74;
    static constexpr int kSlideMs = 300;

    // bottomRight: the corner the toast stands on (exclusive, as a rectangle's end).
    // moved is called with the new corner when the user drags the toast.
    ToastWindow(wxWindow* parent, const ToastContent& content, wxPoint bottomRight,
                std::function<void(wxPoint)> moved);
    // Starts the slide-in; the toast closes itself after the display time.
    void Start();
    // Shows new content in the same place and starts the display time again.
    void Replace(const ToastContent& content);
    const ToastContent& Content() const { return content_; }
    bool IsSliding() const { return sliding_; }

  private:
    void OnPaint(wxPaintEvent& event);
    void OnSlide(wxTimerEvent& event);
    void OnExpire(wxTimerEvent& event);
    void OnMouseDown(wxMouseEvent& event);
    void OnMouseUp(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void PlaceForHeight(int height);
    void Finish();

    ToastContent content_;
    wxPoint bottomRight_;
    std::function<void(wxPoint)> moved_;
    wxTimer slideTimer_, expireTimer_;
    wxStopWatch slideClock_;
    bool sliding_ = false;
    bool dragging_ = false;
    wxPoint dragStart_;  // screen position of the press
    wxPoint cornerAtPress_;
};
