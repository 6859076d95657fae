// The PDF form's state. ReportPdf is the document a report draws on, with its page
// geometry, fonts, logo and output file; it belongs to the report that made it, and a
// report whose parent is another report draws on the parent's (REPORT_PDF_BORROWED). Each
// report also keeps its own section title and notes. Only the report that is its own
// parent saves and frees the document, at its Report_Close.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

// ReportPdf flags.
constexpr uint32_t PDF_PREPARED = 0x01;       // the first page was begun (logo loaded)
constexpr uint32_t PDF_TITLE_PENDING = 0x02;  // the next page gets a title bookmark
constexpr uint32_t PDF_NOTES_PENDING = 0x04;  // the next page gets a notes bookmark

struct ReportPdf {
    void* document = nullptr;  // the PDF library's handles
    void* page = nullptr;
    void* titleBookmark = nullptr;
    void* logoImage = nullptr;
    float logoWidth = 0;
    float logoHeight = 0;
    float topMargin = 0;
    float bottomMargin = 0;
    float leftMargin = 0;
    float rightMargin = 0;
    float rowHeight = 0;
    float titleBoxWidth = 0;
    float titleBoxX = 0;
    void* boldFont = nullptr;
    void* regularFont = nullptr;
    void* monoFont = nullptr;
    // The fonts are embedded Unicode TrueType fonts that take UTF-8; otherwise they are
    // the standard Latin-1 fonts (no Unicode font was found), which take WinAnsi bytes.
    bool unicode = false;
    // Fonts for the characters the Unicode fonts lack, loaded when first needed, by file
    // and face (none for a font that could not be loaded).
    std::map<std::string, void*> fallbackFonts;
    // The font found for each character the Unicode fonts lack (none: no font has it).
    std::unordered_map<char32_t, void*> fontForCharacter;
    float unitWidth = 0;  // points per unit of column width
    float tableTop = 0;   // y of the first row of the page
    std::string logoPath;
    std::string outputPath;
    float widthScale = 0;
    uint32_t flags = 0;
    int32_t orientation = 0;  // 0 portrait, 1 landscape
    int32_t pageSize = 0;     // 0 letter, 1 legal, 2 A3, 3 A4, 4 A5, 5 B4, 6 B5, 7 executive
    float titleColour[3] = {0, 0, 0};
    // While set, the library's failures are kept here instead of printed: the caller
    // explains them itself (a logo or a font that cannot be used).
    bool quiet = false;
    unsigned long quietError = 0;
};

// What one report of the PDF form holds.
struct PdfFormState {
    ReportPdf* pdf = nullptr;  // owned unless the report borrows its parent's
    std::optional<std::string> sectionTitle;
    std::optional<std::string> sectionNotes;
};
