// Icons drawn with the graphics context into images with alpha.
#include "batch/icons.h"

#include <wx/brush.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/math.h>

#include <memory>

namespace {
void Disc(wxGraphicsContext* gc, double size, const wxColour& fill) {
    gc->SetPen(
        gc->CreatePen(wxGraphicsPenInfo(fill.ChangeLightness(70)).Width(wxMax(1.0, size / 16.0))));
    gc->SetBrush(gc->CreateLinearGradientBrush(0, 0, 0, size, fill.ChangeLightness(125), fill));
    double inset = size / 16.0;
    gc->DrawEllipse(inset, inset, size - 2 * inset, size - 2 * inset);
}

void Stroke(wxGraphicsContext* gc, double width, const wxColour& colour,
            std::initializer_list<wxPoint2DDouble> points) {
    wxGraphicsPen pen =
        gc->CreatePen(wxGraphicsPenInfo(colour).Width(width).Cap(wxCAP_ROUND).Join(wxJOIN_ROUND));
    gc->SetPen(pen);
    wxGraphicsPath path = gc->CreatePath();
    bool first = true;
    for (const wxPoint2DDouble& point : points) {
        if (first)
            path.MoveToPoint(point);
        else
            path.AddLineToPoint(point);
        first = false;
    }
    gc->StrokePath(path);
}

void Draw(wxGraphicsContext* gc, int id, double s) {
    const wxColour white(*wxWHITE);
    switch (id) {
        case kIconFailure:
            Disc(gc, s, wxColour(200, 40, 40));
            Stroke(gc, s / 8, white, {{s * 0.33, s * 0.33}, {s * 0.67, s * 0.67}});
            Stroke(gc, s / 8, white, {{s * 0.67, s * 0.33}, {s * 0.33, s * 0.67}});
            break;
        case kIconSuccess:
            Disc(gc, s, wxColour(40, 150, 60));
            Stroke(gc, s / 8, white,
                   {{s * 0.28, s * 0.52}, {s * 0.44, s * 0.68}, {s * 0.72, s * 0.34}});
            break;
        case kIconCloseButton:
            Stroke(gc, s / 8, wxColour(90, 90, 90), {{s * 0.25, s * 0.25}, {s * 0.75, s * 0.75}});
            Stroke(gc, s / 8, wxColour(90, 90, 90), {{s * 0.75, s * 0.25}, {s * 0.25, s * 0.75}});
            break;
        case kIconOptionButton:
            Stroke(gc, s / 8, wxColour(90, 90, 90),
                   {{s * 0.25, s * 0.4}, {s * 0.5, s * 0.65}, {s * 0.75, s * 0.4}});
            break;
        case kIconApplication: {
            gc->SetPen(gc->CreatePen(
                wxGraphicsPenInfo(wxColour(30, 60, 110)).Width(wxMax(1.0, s / 16.0))));
            gc->SetBrush(gc->CreateLinearGradientBrush(0, 0, 0, s, wxColour(70, 120, 200),
                                                       wxColour(30, 70, 140)));
            gc->DrawRoundedRectangle(s * 0.06, s * 0.06, s * 0.88, s * 0.88, s * 0.15);
            // A prompt and a cursor: a program run from a definition.
            Stroke(gc, s / 10, white,
                   {{s * 0.25, s * 0.3}, {s * 0.45, s * 0.5}, {s * 0.25, s * 0.7}});
            Stroke(gc, s / 10, white, {{s * 0.52, s * 0.72}, {s * 0.75, s * 0.72}});
            break;
        }
        default: {
            Disc(gc, s, wxColour(40, 100, 190));
            gc->SetPen(*wxTRANSPARENT_PEN);
            gc->SetBrush(wxBrush(white));
            gc->DrawEllipse(s * 0.44, s * 0.2, s * 0.12, s * 0.12);
            gc->DrawRectangle(s * 0.445, s * 0.4, s * 0.11, s * 0.38);
            break;
        }
    }
}
}  // namespace

wxBitmap BatchIcon_Bitmap(int id, int size) {
    wxImage image(size, size);
    image.InitAlpha();
    memset(image.GetAlpha(), 0, static_cast<size_t>(size) * static_cast<size_t>(size));
    {
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(image));
        if (gc) {
            gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
            Draw(gc.get(), id, size);
        }
    }  // the context writes the drawing back into the image when it ends
    return wxBitmap(image);
}

wxIconBundle BatchIcon_ApplicationBundle() {
    wxIconBundle bundle;
    for (int size : {16, 32, 48}) {
        wxIcon icon;
        icon.CopyFromBitmap(BatchIcon_Bitmap(kIconApplication, size));
        bundle.AddIcon(icon);
    }
    return bundle;
}
