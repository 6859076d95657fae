// Layout of the task dialog.
#include "batch/task_dialog.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statline.h>
#include <wx/stattext.h>

TaskDialog::TaskDialog(wxWindow* parent, const wxString& title, const wxString& instruction,
                       const wxString& content, const wxString& footer)
    : wxDialog(parent, wxID_ANY, title) {
    auto* outer = new wxBoxSizer(wxVERTICAL);
    auto* body = new wxPanel(this);
    body->SetBackgroundColour(*wxWHITE);
    auto* bodySizer = new wxBoxSizer(wxVERTICAL);
    auto* heading = new wxStaticText(body, wxID_ANY, instruction);
    heading->SetFont(heading->GetFont().Scaled(1.4f));
    heading->SetForegroundColour(wxColour(0, 51, 153));
    bodySizer->Add(heading, 0, wxALL, 12);
    auto* text = new wxStaticText(body, wxID_ANY, content);
    text->Wrap(FromDIP(420));
    bodySizer->Add(text, 0, wxLEFT | wxRIGHT | wxBOTTOM, 12);
    body->SetSizer(bodySizer);
    outer->Add(body, 0, wxEXPAND);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetDefault();
    buttons->Add(ok, 0, wxALL, 8);
    outer->Add(buttons, 0, wxEXPAND);

    outer->Add(new wxStaticLine(this), 0, wxEXPAND);
    auto* footerSizer = new wxBoxSizer(wxHORIZONTAL);
    footerSizer->Add(new wxStaticBitmap(this, wxID_ANY,
                                        wxArtProvider::GetBitmapBundle(
                                            wxART_INFORMATION, wxART_MESSAGE_BOX, wxSize(16, 16))),
                     0, wxALL | wxALIGN_CENTER_VERTICAL, 8);
    auto* footerText = new wxStaticText(this, wxID_ANY, footer);
    footerText->Wrap(FromDIP(400));
    footerSizer->Add(footerText, 1, wxTOP | wxBOTTOM | wxRIGHT | wxALIGN_CENTER_VERTICAL, 8);
    outer->Add(footerSizer, 0, wxEXPAND);

    SetSizerAndFit(outer);
    SetEscapeId(wxID_OK);
    CentreOnScreen();
}
