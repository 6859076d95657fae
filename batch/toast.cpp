// Drawing, sliding and closing of a notification toast. Its items stand at fixed places.
#include "batch/toast.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

#include "batch/icons.h"

namespace {
const wxRect kTitleRect(wxPoint(46, 12), wxPoint(270 - 1, 41 - 1));
const wxRect kFirstLineRect(wxPoint(46, 29), wxPoint(330 - 1, 54 - 1));
const wxRect kSecondLineRect(wxPoint(46, 42), wxPoint(330 - 1, 92 - 1));
const wxPoint kIconCorner(5, 12);
const wxRect kCloseButtonRect(wxPoint(308, 14), wxPoint(324 - 1, 30 - 1));
const wxRect kSecondButtonRect(wxPoint(290, 14), wxPoint(306 - 1, 30 - 1));
const int kSlideStepMs = 15;

// Breaks text into lines that fit width, at blanks where it can.
wxArrayString WrapText(wxDC& dc, const wxString& text, int width) {
    wxArrayString lines;
    wxString line;
    wxString word;
    auto flushWord = [&]() {
        wxString trial = line.empty() ? word : line + " " + word;
        if (!line.empty() && dc.GetTextExtent(trial).x > width) {
            lines.Add(line);
            line = word;
        } else {
            line = trial;
        }
        word.clear();
    };
    for (wxUniChar c : text) {
        if (c == ' ')
            flushWord();
        else
            word += c;
    }
    flushWord();
    if (!line.empty()) lines.Add(line);
    return lines;
}

void DrawClipped(wxDC& dc, const wxString& text, const wxRect& rect) {
    wxDCClipper clip(dc, rect);
    dc.DrawText(text, rect.GetTopLeft());
}
}  // namespace

ToastWindow::ToastWindow(wxWindow* parent, const ToastContent& content, wxPoint bottomRight,
                         std::function<void(wxPoint)> moved)
    : wxPopupWindow(parent, wxBORDER_NONE),
      content_(content),
      bottomRight_(bottomRight),
      moved_(std::move(moved)),
      slideTimer_(this),
      expireTimer_(this) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
    Bind(wxEVT_PAINT, &ToastWindow::OnPaint, this);
    Bind(wxEVT_TIMER, &ToastWindow::OnSlide, this, slideTimer_.GetId());
    Bind(wxEVT_TIMER, &ToastWindow::OnExpire, this, expireTimer_.GetId());
    Bind(wxEVT_LEFT_DOWN, &ToastWindow::OnMouseDown, this);
    Bind(wxEVT_LEFT_UP, &ToastWindow::OnMouseUp, this);
    Bind(wxEVT_MOTION, &ToastWindow::OnMouseMove, this);
}

void ToastWindow::Start() {
    sliding_ = true;
    PlaceForHeight(1);
    Show();
    slideClock_.Start();
    slideTimer_.Start(kSlideStepMs);
    if (content_.displayMs > 0) expireTimer_.StartOnce(content_.displayMs);
}

void ToastWindow::Replace(const ToastContent& content) {
    content_ = content;
    expireTimer_.Stop();
    if (content_.displayMs > 0) expireTimer_.StartOnce(content_.displayMs);
    Refresh(false);
}

void ToastWindow::PlaceForHeight(int height) {
    // The toast rises out of its bottom edge: the top part shows first.
    SetSize(bottomRight_.x - kWidth, bottomRight_.y - height, kWidth, height);
    Refresh(false);
}

void ToastWindow::OnSlide(wxTimerEvent&) {
    long elapsed = slideClock_.Time();
    if (elapsed >= kSlideMs) {
        slideTimer_.Stop();
        sliding_ = false;
        PlaceForHeight(kHeight);
        return;
    }
    int height = static_cast<int>(kHeight * elapsed / kSlideMs);
    PlaceForHeight(height < 1 ? 1 : height);
}

void ToastWindow::OnExpire(wxTimerEvent&) {
    Finish();
}

void ToastWindow::Finish() {
    slideTimer_.Stop();
    expireTimer_.Stop();
    Hide();
    Destroy();
}

void ToastWindow::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxRect whole(0, 0, kWidth, kHeight);
    dc.GradientFillLinear(whole, wxColour(255, 255, 255), wxColour(220, 230, 245), wxSOUTH);
    dc.SetPen(wxPen(wxColour(120, 140, 170)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(whole);

    dc.DrawBitmap(BatchIcon_Bitmap(content_.icon, 32), kIconCorner, true);
    dc.DrawBitmap(BatchIcon_Bitmap(content_.firstButtonIcon, 16), kCloseButtonRect.GetTopLeft(),
                  true);
    dc.DrawBitmap(BatchIcon_Bitmap(content_.secondButtonIcon, 16), kSecondButtonRect.GetTopLeft(),
                  true);

    dc.SetTextForeground(wxColour(20, 20, 20));
    dc.SetFont(GetFont().Bold());
    DrawClipped(dc, content_.title, kTitleRect);
    dc.SetFont(GetFont());
    DrawClipped(dc, content_.firstLine, kFirstLineRect);
    wxDCClipper clip(dc, kSecondLineRect);
    int y = kSecondLineRect.y;
    for (const wxString& line : WrapText(dc, content_.secondLine, kSecondLineRect.width)) {
        dc.DrawText(line, kSecondLineRect.x, y);
        y += dc.GetCharHeight();
    }
}

void ToastWindow::OnMouseDown(wxMouseEvent& event) {
    wxPoint at = event.GetPosition();
    if (kCloseButtonRect.Contains(at) || kSecondButtonRect.Contains(at)) return;
    dragging_ = true;
    dragStart_ = ClientToScreen(at);
    cornerAtPress_ = bottomRight_;
    CaptureMouse();
}

void ToastWindow::OnMouseUp(wxMouseEvent& event) {
    if (dragging_) {
        dragging_ = false;
        if (HasCapture()) ReleaseMouse();
        return;
    }
    wxPoint at = event.GetPosition();
    // Both buttons carry the closing id in this program.
    if (kCloseButtonRect.Contains(at) || kSecondButtonRect.Contains(at)) Finish();
}

void ToastWindow::OnMouseMove(wxMouseEvent& event) {
    if (!dragging_ || !event.LeftIsDown()) return;
    wxPoint now = ClientToScreen(event.GetPosition());
    bottomRight_ = cornerAtPress_ + (now - dragStart_);
    PlaceForHeight(sliding_ ? GetSize().y : kHeight);
    if (moved_) moved_(bottomRight_);
}
