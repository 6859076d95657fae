// What the files of the PDF form share: the page header and footer, the QR symbol, tag
// cells and text drawing on the library's page.
#pragma once
#include <hpdf.h>

#include <string>
#include <string_view>

#include "report/pdf_report.h"
#include "report/report.h"

inline HPDF_Doc DocumentOf(const ReportPdf* pdf) {
    return static_cast<HPDF_Doc>(pdf->document);
}
inline HPDF_Page PageOf(const ReportPdf* pdf) {
    return static_cast<HPDF_Page>(pdf->page);
}

// The PDF state of a report of the PDF form; none for a report of another form.
PdfFormState* PdfStateOf(const Report* report);
// The document a report draws on (its own or its parent's); none when there is none.
ReportPdf* PdfOf(const Report* report);

// The library's error handler; owner is the report that made the document.
void Pdf_OnError(HPDF_STATUS error, HPDF_STATUS detail, void* owner);

// Begins a page with everything but the rows: logo, title band, notes, production time,
// heading band and column headings, footer, page number, QR symbol, pending bookmarks.
// Sets the column positions, the table top and the report's rows per page.
void Pdf_BeginPage(Report* report);

// The QR symbol of text (UTF-8, byte mode) on a white square of size x size points at
// (x, y), one filled square per module with a quiet zone of 5 points. A text that cannot
// be encoded leaves the square empty.
void Pdf_DrawQrCode(HPDF_Page page, const char* text, float x, float y, float size);

// The bracketed words of field (UTF-8) as white words on black boxes, from x0 on the row
// at y; no box reaches past right, and a word that does not fit ends with "…".
void Pdf_DrawTags(ReportPdf* pdf, const char* field, float x0, float y, float right);

// A text (UTF-8) as the document's fonts take it: UTF-8 with every control character as
// "?" for the Unicode fonts, WinAnsi bytes for the standard ones (pdf_text.h).
std::string ShownText(const ReportPdf* pdf, std::string_view utf8);
// A shown text that fits width points in the current font, cut at a character and
// ended with "…" when it does not; "" when not even that fits.
std::string FitText(ReportPdf* pdf, HPDF_Page page, std::string shown, float width);

// A cell's text (or a heading) inside its column, from x to x + room, on the baseline y:
// as it is when it fits; a right-aligned text (a count or a short code, which a cut would
// falsify) squeezed sideways until it fits, ending at x + room; any other text cut with
// "…" (FitText).
void ShowInColumn(ReportPdf* pdf, HPDF_Page page, float x, float y, const std::string& shown,
                  float room, bool right);

// Text at (x, y) in the current font and fill colour: begin text, move, show, end. shown
// is in the fonts' encoding (ShownText); characters the current font lacks are drawn in a
// font that has them (pdf_fonts.h).
void ShowTextAt(ReportPdf* pdf, HPDF_Page page, float x, float y, const std::string& shown);
// The width of shown (in the fonts' encoding) in the current font and size, and the fonts
// that draw what it lacks.
float TextWidthOf(ReportPdf* pdf, HPDF_Page page, const std::string& shown);
