// The "Schedule…" dialog: presets, the calendar expression and its next runs, and writing
// the units.
#include "batch/schedule_dialog.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {
std::string Utf8(const wxString& text) {
    return text.utf8_string();
}
}  // namespace

ScheduleDialog::ScheduleDialog(wxWindow* parent, const wxString& definition)
    : wxDialog(parent, wxID_ANY, "Schedule Runs", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
    auto* grid = new wxFlexGridSizer(2, FromDIP(wxSize(8, 6)));
    grid->AddGrowableCol(1);
    auto label = [this, grid](const char* text) {
        grid->Add(new wxStaticText(this, wxID_ANY, text), 0, wxALIGN_CENTER_VERTICAL);
    };
    label("Definition:");
    definition_ = new wxTextCtrl(this, wxID_ANY, definition);
    definition_->SetMinSize(FromDIP(wxSize(420, -1)));
    grid->Add(definition_, 1, wxEXPAND);
    label("Run:");
    auto* when = new wxBoxSizer(wxHORIZONTAL);
    const wxString presets[] = {"Hourly", "Daily at", "Weekdays at", "Custom"};
    preset_ = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 4, presets);
    preset_->SetSelection(DAILY);
    time_ = new wxTextCtrl(this, wxID_ANY, "02:00");
    time_->SetMinSize(FromDIP(wxSize(70, -1)));
    when->Add(preset_, 0, wxRIGHT, FromDIP(6));
    when->Add(time_, 0);
    grid->Add(when);
    label("Calendar expression:");
    expression_ = new wxTextCtrl(this, wxID_ANY, wxString());
    grid->Add(expression_, 1, wxEXPAND);
    label("Next runs:");
    nextRuns_ = new wxStaticText(this, wxID_ANY, "\n\n");
    grid->Add(nextRuns_, 1, wxEXPAND);

    auto* buttons = new wxStdDialogButtonSizer();
    schedule_ = new wxButton(this, wxID_OK, "&Schedule");
    buttons->AddButton(schedule_);
    buttons->AddButton(new wxButton(this, wxID_CANCEL, "Cancel"));
    buttons->Realize();
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(grid, 1, wxEXPAND | wxALL, FromDIP(10));
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(10));
    SetSizerAndFit(top);

    preset_->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { UpdateExpression(); });
    time_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { UpdateExpression(); });
    expression_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
        // Typing an expression of one's own leaves the presets.
        if (!settingExpression_) {
            preset_->SetSelection(CUSTOM);
            time_->Enable(false);
        }
        UpdateNextRuns();
    });
    definition_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { schedule_->Enable(CanSchedule()); });
    schedule_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        ScheduleOutcome outcome = Apply();
        if (outcome.status == 0) EndModal(wxID_OK);
    });
    UpdateExpression();
}

void ScheduleDialog::SetDefinition(const wxString& path) {
    definition_->SetValue(path);
}

void ScheduleDialog::ChoosePreset(Preset preset, const wxString& time) {
    preset_->SetSelection(preset);
    time_->ChangeValue(time);
    UpdateExpression();
}

void ScheduleDialog::SetExpression(const wxString& expression) {
    expression_->SetValue(expression);  // as typed: the preset becomes Custom
}

wxString ScheduleDialog::Expression() const {
    return expression_->GetValue();
}

wxString ScheduleDialog::NextRunsText() const {
    return nextRuns_->GetLabel();
}

bool ScheduleDialog::CanSchedule() const {
    return expressionOk_ && !definition_->GetValue().empty();
}

void ScheduleDialog::UpdateExpression() {
    int preset = preset_->GetSelection();
    time_->Enable(preset == DAILY || preset == WEEKDAYS);
    wxString time = time_->GetValue().Strip(wxString::both);
    wxString expression;
    switch (preset) {
        case HOURLY:
            expression = "hourly";
            break;
        case DAILY:
            expression = "*-*-* " + time;
            break;
        case WEEKDAYS:
            expression = "Mon..Fri " + time;
            break;
        default:
            UpdateNextRuns();
            return;
    }
    settingExpression_ = true;
    expression_->SetValue(expression);
    settingExpression_ = false;
}

void ScheduleDialog::UpdateNextRuns() {
    CalendarCheck check = CheckCalendarExpression(Utf8(Expression()), 3);
    expressionOk_ = check.ok;
    wxString text;
    if (check.ok) {
        for (const std::string& when : check.nextTimes)
            text += (text.empty() ? "" : "\n") + wxString::FromUTF8(when.c_str());
    } else {
        text = wxString::FromUTF8(check.reason.c_str());
    }
    nextRuns_->SetLabel(text);
    schedule_->Enable(CanSchedule());
    Layout();
}

ScheduleOutcome ScheduleDialog::Apply() {
    ScheduleOutcome outcome = ScheduleDefinition(Utf8(definition_->GetValue()), Utf8(Expression()),
                                                 CurrentScheduleSetting());
    wxString text;
    for (const std::string& line : outcome.lines) text += wxString::FromUTF8(line.c_str()) + "\n";
    if (outcome.status != 0) text = wxString::FromUTF8(outcome.error.c_str());
    result_ = text.Strip(wxString::trailing);
    nextRuns_->SetLabel(result_);
    Layout();
    Fit();
    return outcome;
}

void ShowScheduleDialog(wxWindow* parent, const wxString& definition) {
    ScheduleDialog dialog(parent, definition);
    // Where no service manager runs, the text says what to run to start the timer.
    if (dialog.ShowModal() == wxID_OK)
        wxMessageBox(dialog.ResultText(), "Scheduled", wxOK | wxICON_INFORMATION, parent);
}
