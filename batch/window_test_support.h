// What the window tests share: the private display, the application object, a folder for
// their files and a way to let the window's events run until something has happened.
#pragma once
#include <functional>
#include <string>

#include "batch/app.h"
#include "batch/test_display.h"

namespace windowtest {

TestDisplay& Display();
ZYMBApp& App();
// A folder of this test program's own (also its TMPDIR and XDG folders' parent).
const std::string& Folder();
// Points the per-user and machine-wide settings at fresh folders of their own; returns the
// per-user profile's path.
std::string FreshSettings();
// Runs the window's events until condition() holds; false when timeoutMs passed first.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 20000);
// Runs the window's events for a while.
void Pump(int milliseconds);
// How many toolkit assertions have failed so far (each is also printed); a failed
// assertion would show a dialog in the program.
int AssertCount();
// Saves a screenshot when ZYMBSCREENSHOTDIR names a folder.
void MaybeScreenshot(const std::string& name);

}  // namespace windowtest
