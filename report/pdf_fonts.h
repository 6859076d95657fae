// The PDF form's Unicode fonts: DejaVu Sans (regular and bold) and DejaVu Sans Mono,
// found through fontconfig and embedded (the glyphs used) in the document, so that names
// in any script the fonts hold are drawn and can be searched and copied.
#pragma once
#include "report/pdf_report.h"

// Loads the three fonts into the document and sets the state's fonts and its unicode
// flag. False, with the state unchanged, when fontconfig finds no such fonts or the
// library cannot load one: the caller then takes the standard Latin-1 fonts.
bool Pdf_LoadUnicodeFonts(ReportPdf* pdf);
