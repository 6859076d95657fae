// The batch utility's settings: the per-user profile (one group per section, the same value
// names as ever) and the machine-wide switches, both kept as wxFileConfig files.
#pragma once
#include <wx/string.h>

#include <memory>

class wxFileConfig;

// The per-user profile of an application: $XDG_CONFIG_HOME (else ~/.config), then
// "Brindlemoor/<application>.conf".
wxString Settings_UserFile(const wxString& application);
// The machine-wide file: the first folder of $XDG_CONFIG_DIRS (else /etc/xdg) that holds
// "Brindlemoor/<application>.conf"; the first folder's path when none does.
wxString Settings_SystemFile(const wxString& application);

// The text of a settings file as the reader takes it: values without a name dropped, and
// each section once, holding the lines of every place the text names it.
wxString Settings_Tidy(const wxString& text);

// One settings file (an INI-style file: "[Section]" lines, "Name=value" lines). Every write
// reaches the disk at once (through a temporary file and a rename), since the crash
// indicator must be there before a crash can happen.
class SettingsFile {
  public:
    // Reads the file (and on the first write creates it); a file that cannot be read gives
    // defaults. Lines the format has no meaning for (a value without a name, a section
    // named a second time) do not stop the rest from being read: nameless values are
    // dropped, a repeated section's values join the first one. quiet: write failures are
    // not reported on standard error.
    SettingsFile(const wxString& path, bool quiet);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // section empty: a value at the top of the file.
    wxString ReadText(const wxString& section, const wxString& name,
                      const wxString& fallback = wxString()) const;
    // A value that is absent or not a whole number gives fallback.
    long ReadNumber(const wxString& section, const wxString& name, long fallback = 0) const;
    // A yes-or-no switch: a whole number (0 is no), or true/false, yes/no, on/off in any
    // case. False when the value is absent or none of these; *value is then unchanged.
    bool ReadSwitch(const wxString& section, const wxString& name, bool* value) const;
    bool WriteText(const wxString& section, const wxString& name, const wxString& text);
    bool WriteNumber(const wxString& section, const wxString& name, long number);
    const wxString& Path() const { return path_; }

  private:
    bool Flush();
    wxString path_;
    bool quiet_;
    std::unique_ptr<wxFileConfig> config_;
};
