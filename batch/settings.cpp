// Settings files under the XDG folders, read and written through wxFileConfig.
#include "batch/settings.h"

#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/tokenzr.h>
#include <wx/utils.h>

#include <cstdio>

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

CZYMBRegistry::CZYMBRegistry(const wxString& path, bool quiet) : path_(path), quiet_(quiet) {
    // A missing or unreadable file is an empty profile; wxFileConfig would say so in a log
    // window, which a start routine has no use for.
    wxLogNull noLog;
    config_ = std::make_unique<wxFileConfig>(wxString(), wxString(), path, wxString(),
                                             wxCONFIG_USE_LOCAL_FILE);
    // Values are kept as written: a remembered path holding "$HOME" stays that text.
    config_->SetExpandEnvVars(false);
}

CZYMBRegistry::~CZYMBRegistry() {
    // Everything was flushed when written; nothing is left to save on the way out.
    if (config_) config_->DisableAutoSave();
}

wxString CZYMBRegistry::ReadText(const wxString& section, const wxString& name,
                                 const wxString& fallback) const {
    wxString text;
    return config_->Read(EntryPath(section, name), &text) ? text : fallback;
}

bool CZYMBRegistry::ReadDword(const wxString& section, const wxString& name,
                              unsigned long* value) const {
    wxString text;
    if (!config_->Read(EntryPath(section, name), &text)) return false;
    text.Trim(true).Trim(false);
    unsigned long number = 0;
    if (text.empty() || text[0] == '-' || !text.ToULong(&number, 0) || number > 0xFFFFFFFFul)
        return false;
    *value = number;
    return true;
}

long CZYMBRegistry::ReadNumber(const wxString& section, const wxString& name, long fallback) const {
    wxString text = ReadText(section, name);
    long number = 0;
    return text.Trim(true).Trim(false).ToLong(&number) ? number : fallback;
}

bool CZYMBRegistry::WriteText(const wxString& section, const wxString& name, const wxString& text) {
    return config_->Write(EntryPath(section, name), text) && Flush();
}

bool CZYMBRegistry::WriteNumber(const wxString& section, const wxString& name, long number) {
    return config_->Write(EntryPath(section, name), number) && Flush();
}

bool CZYMBRegistry::Flush() {
    wxLogNull noLog;
    wxFileName file(path_);
    if (!file.DirExists() && !file.Mkdir(0700, wxPATH_MKDIR_FULL)) {
        if (!quiet_)
            fprintf(stderr, "Cannot create the settings folder of %s\n", path_.utf8_str().data());
        return false;
    }
    if (config_->Flush()) return true;
    if (!quiet_) fprintf(stderr, "Cannot write the settings file %s\n", path_.utf8_str().data());
    return false;
}
