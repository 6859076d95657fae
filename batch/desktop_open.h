// Opening a file as text with what the desktop offers: its default opener (gio open, then
// xdg-open), else the user's editor ($VISUAL, else $EDITOR) in a terminal.
#pragma once
#include <wx/string.h>

#include <functional>

// Tries each way in turn, without waiting on the window's thread: an opener that ends with
// a failure status hands over to the next one. failed is called (on the window's thread)
// with a short reason when none could open the file.
void OpenAsText(const wxString& path, std::function<void(const wxString& reason)> failed);
