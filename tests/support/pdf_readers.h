// Independent readers of a PDF file, for tests that must not trust the writer's own
// state: qpdf checks the structure and reads the outline, poppler's pdfinfo and
// pdftotext give the pages and the placed words, pdftoppm renders pages that zbarimg
// reads QR symbols from.
#pragma once
#include <string>
#include <vector>

namespace testsupport {

// The reader programs that are missing, separated by blanks; "" when all are there.
std::string MissingPdfReaders();

// "" when qpdf --check finds the file sound, otherwise what it said.
std::string QpdfProblems(const std::string& path);

struct PdfPageSize {
    double width = 0, height = 0;  // points
};
// The size of every page as pdfinfo reports it; empty when it cannot read the file.
std::vector<PdfPageSize> PdfPageSizes(const std::string& path);

// One word as pdftotext -bbox places it, in PDF points with the origin at the bottom
// left: x is its left edge, y its lower edge (a little below the baseline), right and
// top the other edges.
struct PdfWord {
    int page = 0;  // from 1
    double x = 0, y = 0, right = 0, top = 0;
    std::string text;  // UTF-8
};
std::vector<PdfWord> PdfWords(const std::string& path);
// The words of one page joined by blanks in reading order, as one line of text.
std::string PdfPageText(const std::vector<PdfWord>& words, int page);
// The first word on page with this text; none when there is no such word.
const PdfWord* FindWord(const std::vector<PdfWord>& words, int page, const std::string& text);

// Renders every page at 150 dpi and decodes the QR symbols on it: one entry per page,
// each holding the texts found there (UTF-8).
std::vector<std::vector<std::string>> PdfQrTexts(const std::string& path);
// Renders page (from 1) at dpi to pngPath.
bool RenderPdfPage(const std::string& path, int page, int dpi, const std::string& pngPath);

// A bookmark of the outline, read with qpdf --json.
struct PdfBookmark {
    std::string title;
    int page = 0;  // the page its destination leads to, from 1; 0 when none
    std::vector<PdfBookmark> children;
};
std::vector<PdfBookmark> PdfOutline(const std::string& path);

}  // namespace testsupport
