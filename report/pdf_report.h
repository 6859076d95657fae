// The PDF state of a report: page geometry, fonts, logo and output file of the paged
// PDF form. Allocated zeroed by Report_Init; a report whose parent is another report
// uses the parent's state (REPORT_PDF_BORROWED) and frees only its own. The document
// belongs to the report that is its own parent: its Report_Close saves and frees it.
#pragma once
#include <cstdint>

// ReportPdf flags.
constexpr uint32_t PDF_PREPARED = 0x01;       // the first page was begun (logo loaded)
constexpr uint32_t PDF_TITLE_PENDING = 0x02;  // the next page gets a title bookmark
constexpr uint32_t PDF_NOTES_PENDING = 0x04;  // the next page gets a notes bookmark

struct ReportPdf {
    void* document;  // the PDF library's handles
    void* page;
    void* titleBookmark;
    void* logoImage;
    float logoWidth;
    float logoHeight;
    float topMargin;
    float bottomMargin;
    float leftMargin;
    float rightMargin;
    float rowHeight;
    float titleBoxWidth;
    float titleBoxX;
    void* boldFont;
    void* regularFont;
    void* monoFont;
    float unitWidth;  // points per unit of column width
    float tableTop;   // y of the first row of the page
    char logoPath[261];
    char outputPath[261];
    float widthScale;
    uint32_t flags;
    int32_t orientation;  // 0 portrait, 1 landscape
    int32_t pageSize;     // 0 letter, 1 legal, 2 A3, 3 A4, 4 A5, 5 B4, 6 B5, 7 executive
    float titleColour[3];
};
