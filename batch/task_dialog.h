// A task dialog: window title, a main instruction in large type, the content, a footer with
// an information icon below a rule, and an OK button.
#pragma once
#include <wx/dialog.h>

class TaskDialog : public wxDialog {
  public:
    TaskDialog(wxWindow* parent, const wxString& title, const wxString& instruction,
               const wxString& content, const wxString& footer);
};
