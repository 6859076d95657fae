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

// One settings file. Every write reaches the disk at once (through a temporary file and a
// rename), since the crash indicator must be there before a crash can happen.
class CZYMBRegistry {
  public:
    // Opens (and on the first write creates) the file; a file that cannot be read gives
    // defaults. quiet: write failures are not reported on standard error.
    CZYMBRegistry(const wxString& path, bool quiet);
    ~CZYMBRegistry();
    CZYMBRegistry(const CZYMBRegistry&) = delete;
    CZYMBRegistry& operator=(const CZYMBRegistry&) = delete;

    // section empty: a value at the top of the file.
    wxString ReadText(const wxString& section, const wxString& name,
                      const wxString& fallback = wxString()) const;
    // A value that is absent or not a whole number gives fallback.
    long ReadNumber(const wxString& section, const wxString& name, long fallback = 0) const;
    // Succeeds only when the value exists and is a whole number (the DWORD read).
    bool ReadDword(const wxString& section, const wxString& name, unsigned long* value) const;
    bool WriteText(const wxString& section, const wxString& name, const wxString& text);
    bool WriteNumber(const wxString& section, const wxString& name, long number);
    const wxString& Path() const { return path_; }

  private:
    bool Flush();
    wxString path_;
    bool quiet_;
    std::unique_ptr<wxFileConfig> config_;
};
