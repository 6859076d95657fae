// The per-user folders of the XDG base-directory rules that the batch utility keeps its
// files in (the run history, the scheduled runs' systemd units), and creating them.
#pragma once
#include <string>

// $variable when it holds an absolute path, else $HOME/underHome ("" when HOME is unset or
// relative too). No trailing slash.
std::string UserFolder(const char* variable, const char* underHome);

// Creates folder and its missing parents (mode 0700 for the ones made). False, with
// *reason set to the failing folder and the system's text, when one cannot be made.
bool MakeFolders(const std::string& folder, std::string* reason);
