// The display check, with Xlib alone: its macros stay out of every other file.
#include "batch/display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>

bool DisplayReachable() {
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') return true;
    // The connection stays open for the program's life: closing the only client of a
    // fresh X server makes the server reset, and the toolkit's own connection, made just
    // after, would then be refused.
    static Display* display = XOpenDisplay(nullptr);
    return display != nullptr;
}
