// Settings files under the XDG folders, read and written through wxFileConfig.
#include "batch/settings.h"

#include <wx/file.h>
#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/sstream.h>
#include <wx/tokenzr.h>
#include <wx/utils.h>
#include <wx/wfstream.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/whole_file.h"

namespace {
const char* const kVendor = "Brindlemoor";

wxString EntryPath(const wxString& section, const wxString& name) {
    return section.empty() ? "/" + name : "/" + section + "/" + name;
}

wxString ProfileName(const wxString& folder, const wxString& application) {
    return folder + "/" + kVendor + "/" + application + ".conf";
}
}  // namespace

wxString Settings_UserFile(const wxString& application) {
    wxString folder;
    if (!wxGetEnv("XDG_CONFIG_HOME", &folder) || folder.empty() || !wxIsAbsolutePath(folder))
        folder = wxGetHomeDir() + "/.config";
    return ProfileName(folder, application);
}

wxString Settings_SystemFile(const wxString& application) {
    wxString folders;
    if (!wxGetEnv("XDG_CONFIG_DIRS", &folders) || folders.empty()) folders = "/etc/xdg";
    wxString first;
    wxStringTokenizer tokens(folders, ":", wxTOKEN_STRTOK);
    while (tokens.HasMoreTokens()) {
        wxString folder = tokens.GetNextToken();
        if (!wxIsAbsolutePath(folder)) continue;
        wxString candidate = ProfileName(folder, application);
        if (first.empty()) first = candidate;
        if (wxFileName::FileExists(candidate)) return candidate;
    }
    return first.empty() ? ProfileName("/etc/xdg", application) : first;
}

SettingsFile::SettingsFile(const wxString& path, bool quiet) : path_(path), quiet_(quiet) {
    // A missing or unreadable file is an empty profile; wxFileConfig would say so in a log
    // window, which a start routine has no use for.
    wxLogNull noLog;
    wxString text;
    wxFile file;
    if (wxFileName::FileExists(path) && file.Open(path)) file.ReadAll(&text, wxConvAuto());
    wxStringInputStream stream(Settings_Tidy(text));
    config_ = std::make_unique<wxFileConfig>(stream, wxConvUTF8);
    // Values are kept as written: a remembered path holding "$HOME" stays that text.
    config_->SetExpandEnvVars(false);
}

SettingsFile::~SettingsFile() = default;

wxString SettingsFile::ReadText(const wxString& section, const wxString& name,
                                const wxString& fallback) const {
    wxString text;
    return config_->Read(EntryPath(section, name), &text) ? text : fallback;
}

bool SettingsFile::ReadSwitch(const wxString& section, const wxString& name, bool* value) const {
    wxString text;
    if (!config_->Read(EntryPath(section, name), &text)) return false;
    text.Trim(true).Trim(false);
    long number = 0;
    if (text.ToLong(&number, 0)) {
        *value = number != 0;
        return true;
    }
    for (const char* yes : {"true", "yes", "on"}) {
        if (text.IsSameAs(yes, false)) {
            *value = true;
            return true;
        }
    }
    for (const char* no : {"false", "no", "off"}) {
        if (text.IsSameAs(no, false)) {
            *value = false;
            return true;
        }
    }
    return false;
}

long SettingsFile::ReadNumber(const wxString& section, const wxString& name, long fallback) const {
    wxString text = ReadText(section, name);
    long number = 0;
    return text.Trim(true).Trim(false).ToLong(&number) ? number : fallback;
}

bool SettingsFile::WriteText(const wxString& section, const wxString& name, const wxString& text) {
    return config_->Write(EntryPath(section, name), text) && Flush();
}

bool SettingsFile::WriteNumber(const wxString& section, const wxString& name, long number) {
    return config_->Write(EntryPath(section, name), number) && Flush();
}

bool SettingsFile::Flush() {
    wxLogNull noLog;
    wxFileName file(path_);
    if (!file.DirExists() && !file.Mkdir(0700, wxPATH_MKDIR_FULL)) {
        if (!quiet_)
            fprintf(stderr, "Cannot create the settings folder of %s\n", path_.utf8_str().data());
        return false;
    }
    // The whole file beside its name first, then renamed over it: a full disk or a crash
    // in the middle leaves the previous settings whole.
    wxStringOutputStream text(nullptr, wxConvUTF8);
    bool written = config_->Save(text, wxConvUTF8);
    if (written) {
        std::string bytes = text.GetString().utf8_string();
        written =
            Platform_ReplaceFile(path_.utf8_string().c_str(), bytes.data(), bytes.size()) == 0;
    }
    if (written) return true;
    if (!quiet_) fprintf(stderr, "Cannot write the settings file %s\n", path_.utf8_str().data());
    return false;
}

wxString Settings_Tidy(const wxString& text) {
    // The lines before the first section, then each section once, with the lines of every
    // place it is named, in the order the sections first appear.
    std::vector<wxString> order{wxString()};
    std::map<wxString, wxString> lines;
    wxString current;
    wxStringTokenizer tokens(text, "\n", wxTOKEN_RET_EMPTY_ALL);
    while (tokens.HasMoreTokens()) {
        wxString line = tokens.GetNextToken();
        if (line.empty() && !tokens.HasMoreTokens()) break;  // after the last line feed
        if (line.EndsWith("\r")) line.RemoveLast();
        wxString trimmed = line;
        trimmed.Trim(true).Trim(false);
        if (trimmed.StartsWith("[")) {
            current = trimmed.AfterFirst('[').BeforeLast(']').Trim(true).Trim(false);
            if (lines.count(current) != 0) continue;
            order.push_back(current);
            lines[current] = line + "\n";
            continue;
        }
        bool comment = trimmed.StartsWith("#") || trimmed.StartsWith(";");
        if (!comment && trimmed.Find('=') != wxNOT_FOUND &&
            trimmed.BeforeFirst('=').Trim(true).empty())
            continue;  // a value without a name
        lines[current] += line + "\n";
    }
    wxString tidy;
    for (const wxString& section : order) tidy += lines[section];
    return tidy;
}
