// Whether the window has a display to show itself on, asked before the toolkit starts:
// the toolkit aborts the program when it finds none.
#pragma once

// True in a Wayland session (the toolkit decides there) or when the X display named by
// DISPLAY can be opened.
bool DisplayReachable();
