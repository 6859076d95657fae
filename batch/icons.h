// The batch utility's icons, drawn rather than loaded, so that the program needs no files
// beside it. The numbers are the icon ids its callers pass around.
#pragma once
#include <wx/bitmap.h>
#include <wx/iconbndl.h>

enum BatchIconId {
    kIconApplication = 128,
    kIconInformation = 130,   // notifications with statistics; the output tabs
    kIconCloseButton = 131,   // the notification's close button
    kIconOptionButton = 132,  // the notification's second button
    kIconFailure = 133,
    kIconSuccess = 134,
};

// The icon with that id as a square bitmap of size pixels with alpha; an unknown id gives
// the information icon.
wxBitmap BatchIcon_Bitmap(int id, int size);
// The application icon in the sizes a window manager asks for.
wxIconBundle BatchIcon_ApplicationBundle();
