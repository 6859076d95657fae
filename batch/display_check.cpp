// The display check, with Xlib alone: its macros stay out of every other file.
#include "batch/display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>

bool DisplayReachable() {
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') return true;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XCloseDisplay(display);
    return true;
}
