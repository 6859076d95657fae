// The PDF form's Unicode fonts: DejaVu Sans (regular and bold) and DejaVu Sans Mono, found
// through fontconfig and embedded (the glyphs used) in the document, so that names in any
// script the fonts hold are drawn and can be searched and copied. A character they lack
// (a Chinese or Japanese ideograph) is drawn in another installed font that has it, which
// fontconfig names and the document loads the first time it needs it.
#pragma once
#include <hpdf.h>

#include <string>
#include <vector>

#include "report/pdf_report.h"

// Loads the three fonts into the document and sets the state's fonts and its unicode
// flag. False, with the state unchanged, when fontconfig finds no such fonts or the
// library cannot load one: the caller then takes the standard Latin-1 fonts.
bool Pdf_LoadUnicodeFonts(ReportPdf* pdf);

// A piece of text with the font that draws it.
struct PdfRun {
    HPDF_Font font;
    std::string text;  // UTF-8
};

// shown (UTF-8, for the Unicode fonts) cut into runs: the characters font holds, and those
// it lacks in the installed font that has them. One run with font when font holds every
// character, or when the document has no Unicode fonts.
std::vector<PdfRun> Pdf_FontRuns(ReportPdf* pdf, HPDF_Font font, const std::string& shown);
