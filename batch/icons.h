// The batch utility's icons, drawn rather than loaded, so that the program needs no files
// beside it. Callers name an icon by its id below.
#pragma once
#include <wx/bitmap.h>
#include <wx/iconbndl.h>

enum BatchIconId {
    kIconApplication,
    kIconInformation,   // notifications with statistics; the output tabs
    kIconCloseButton,   // the notification's close button
    kIconOptionButton,  // the notification's second button
    kIconFailure,       // a notification of a failure, which stays until it is closed
    kIconSuccess,
};

// The icon with that id as a square bitmap of size pixels with alpha; an unknown id gives
// the information icon.
wxBitmap BatchIcon_Bitmap(int id, int size);
// The application icon in the sizes a window manager asks for.
wxIconBundle BatchIcon_ApplicationBundle();
