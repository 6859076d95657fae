// The "Schedule…" dialog of the batch window: the definition to schedule, when to run it
// (hourly, daily at a time, weekdays at a time, or a calendar expression of one's own), and
// the next three times it will run, as systemd computes them, before the units are written.
#pragma once
#include <wx/dialog.h>
#include <wx/timer.h>

#include "batch/schedule.h"

class wxChoice;
class wxStaticText;
class wxTextCtrl;
class wxButton;

class ScheduleDialog : public wxDialog {
  public:
    enum Preset { HOURLY, DAILY, WEEKDAYS, CUSTOM };

    // definition: the .cvbatch file to schedule ("" lets the user type one).
    ScheduleDialog(wxWindow* parent, const wxString& definition);

    // The controls, as the user would set them.
    void SetDefinition(const wxString& path);
    void ChoosePreset(Preset preset, const wxString& time = "02:00");
    void SetExpression(const wxString& expression);
    wxString Expression() const;
    // The next runs shown, one a line, or why the expression is refused.
    wxString NextRunsText() const;
    bool CanSchedule() const;
    // Writes the units (the Schedule button); the outcome is also shown in the dialog.
    ScheduleOutcome Apply();
    // What the last Apply said, for the user.
    const wxString& ResultText() const { return result_; }

  private:
    void UpdateExpression();
    void UpdateNextRuns();

    wxTextCtrl* definition_ = nullptr;
    wxChoice* preset_ = nullptr;
    wxTextCtrl* time_ = nullptr;
    wxTextCtrl* expression_ = nullptr;
    wxStaticText* nextRuns_ = nullptr;
    wxButton* schedule_ = nullptr;
    bool expressionOk_ = false;
    bool settingExpression_ = false;
    wxString result_;
};

// Shows the dialog modally for definition.
void ShowScheduleDialog(wxWindow* parent, const wxString& definition);
