// A page of the PDF form before its rows: logo, title band, notes, production time,
// heading band and headings, footer with copyright and page number, the QR symbol and
// the bookmarks of a new section; also the tag cells and the text helpers.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "base/message_sink.h"
#include "base/value_format.h"
#include "report/pdf_draw.h"
#include "report/pdf_fonts.h"
#include "report/report_form.h"

namespace {

constexpr char kCopyright[] = "Corvantix \u00A9 2012-2026 Brindlemoor. All rights reserved.";

// The creation time as the QR symbol carries it: the production time without the zone.
void QrTimeText(int64_t creationTime, char (&text)[128]) {
    time_t when = static_cast<time_t>(creationTime);
    struct tm local;
    if (creationTime == 0)
        snprintf(text, sizeof text, "Not-Set");
    else if (localtime_r(&when, &local) == nullptr ||
             strftime(text, sizeof text, "%A, %B %d, %Y - %H:%M:%S", &local) == 0)
        snprintf(text, sizeof text, "**ERROR**");
}

// The visible columns' share of the width: each gets width x unit width points, from
// left + 5 on; hidden columns take no room. Headings right-aligned like their cells.
void PlaceColumns(Report* report, HPDF_Page page, float y) {
    ReportPdf* pdf = PdfOf(report);
    float x = pdf->leftMargin + 5;
    for (uint32_t i = 0; i < report->columnCount; ++i) {
        ReportColumn& column = report->columns[i];
        column.x = x;
        column.pointWidth = static_cast<float>(column.width) * pdf->unitWidth;
        if (column.flags & COLUMN_HIDDEN) continue;
        // Kept inside the column as its cells are.
        ShowInColumn(pdf, page, x, y - 8, ShownText(pdf, RepairUtf8(column.heading)),
                     column.pointWidth - 5, (column.flags & COLUMN_RIGHT) != 0);
        x += column.pointWidth;
    }
}

void DrawFooter(Report* report, HPDF_Page page, float width) {
    ReportPdf* pdf = PdfOf(report);
    const float bottom = pdf->bottomMargin;
    HPDF_Page_SetLineWidth(page, 1);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_MoveTo(page, pdf->leftMargin, bottom);
    HPDF_Page_LineTo(page, width - pdf->rightMargin, bottom);
    HPDF_Page_Stroke(page);
    char text[64];
    if (bottom > 20) {
        if (report->pageCounter == 1 && report->reportId != 0) {
            snprintf(text, sizeof text, "Report-ID %3.3u", static_cast<unsigned>(report->reportId));
            HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->monoFont), 8);
            float textWidth = TextWidthOf(pdf, page, text);
            HPDF_Page_SetRGBFill(page, 0, 0, 0);
            HPDF_Page_Rectangle(page, pdf->leftMargin, bottom - 14, textWidth + 10, 14);
            HPDF_Page_Fill(page);
            HPDF_Page_SetRGBFill(page, 1, 1, 1);
            ShowTextAt(pdf, page, pdf->leftMargin + 5, bottom - 9, text);
            HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->regularFont), 8);
        }
        HPDF_Page_SetRGBFill(page, 0, 0, 0);
        std::string copyright = ShownText(pdf, kCopyright);
        ShowTextAt(pdf, page, (width - TextWidthOf(pdf, page, copyright)) / 2, bottom - 10,
                   copyright.c_str());
    }
    snprintf(text, sizeof text, "Page %u", report->parent->pageCounter);
    ShowTextAt(pdf, page, width - (TextWidthOf(pdf, page, text) + pdf->rightMargin), bottom - 10,
               text);
}

// The bookmarks of a section begun since the last page: its title (once for a run of
// sections with the same title) and its notes beneath it, both leading to this page.
void CreateBookmarks(Report* report, HPDF_Doc document, HPDF_Page page) {
    ReportPdf* pdf = PdfOf(report);
    const PdfFormState* state = PdfStateOf(report);
    HPDF_Encoder encoder = HPDF_GetEncoder(document, pdf->unicode ? "UTF-8" : "WinAnsiEncoding");
    if (pdf->flags & PDF_TITLE_PENDING) {
        std::string title = ShownText(pdf, state->sectionTitle.value_or(""));
        HPDF_Outline bookmark = HPDF_CreateOutline(document, nullptr, title.c_str(), encoder);
        if (bookmark != nullptr) {
            pdf->titleBookmark = bookmark;
            HPDF_Outline_SetDestination(bookmark, HPDF_Page_CreateDestination(page));
        }
        pdf->flags &= ~PDF_TITLE_PENDING;
    }
    if (pdf->flags & PDF_NOTES_PENDING) {
        std::string notes = ShownText(pdf, state->sectionNotes.value_or(""));
        HPDF_Outline bookmark = HPDF_CreateOutline(
            document, static_cast<HPDF_Outline>(pdf->titleBookmark), notes.c_str(), encoder);
        if (bookmark != nullptr)
            HPDF_Outline_SetDestination(bookmark, HPDF_Page_CreateDestination(page));
        pdf->flags &= ~PDF_NOTES_PENDING;
    }
}

// Why the logo file cannot be drawn, before the library tries it: "" when it may be.
std::string LogoProblem(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return strerror(errno);
    unsigned char start[3] = {0, 0, 0};
    size_t got = fread(start, 1, sizeof start, file);
    fclose(file);
    if (got != 3 || start[0] != 0xFF || start[1] != 0xD8 || start[2] != 0xFF)
        return "it is not a JPEG image";
    return "";
}

// The logo, loaded at the first page. A logo that cannot be used is said once, on the
// log, with the file and the reason; the pages are drawn without it.
void LoadLogo(Report* report, ReportPdf* pdf, HPDF_Doc document) {
    if (pdf->logoPath.empty()) return;
    std::string problem = LogoProblem(pdf->logoPath);
    if (problem.empty()) {
        pdf->quiet = true;
        pdf->quietError = 0;
        pdf->logoImage = HPDF_LoadJpegImageFromFile(document, pdf->logoPath.c_str());
        pdf->quiet = false;
        if (pdf->logoImage == nullptr) {
            char text[96];
            snprintf(text, sizeof text, "the PDF library cannot read it as a JPEG image (%04lX)",
                     pdf->quietError);
            problem = text;
        }
    }
    if (!problem.empty())
        ReportMessage(report, MSG_WARNING, "PDF logo %s not used: %s", pdf->logoPath.c_str(),
                      problem.c_str());
}

}  // namespace

namespace {
bool IsAscii(const std::string& text) {
    for (char byte : text)
        if (static_cast<unsigned char>(byte) >= 0x80) return false;
    return true;
}
}  // namespace

void ShowTextAt(ReportPdf* pdf, HPDF_Page page, float x, float y, const std::string& shown) {
    HPDF_Page_BeginText(page);
    HPDF_Page_MoveTextPos(page, x, y);
    if (!pdf->unicode || IsAscii(shown)) {
        HPDF_Page_ShowText(page, shown.c_str());
        HPDF_Page_EndText(page);
        return;
    }
    // Each run in its font; the text position moves on after each.
    HPDF_Font font = HPDF_Page_GetCurrentFont(page);
    const float size = HPDF_Page_GetCurrentFontSize(page);
    for (const PdfRun& run : Pdf_FontRuns(pdf, font, shown)) {
        if (run.font != HPDF_Page_GetCurrentFont(page))
            HPDF_Page_SetFontAndSize(page, run.font, size);
        HPDF_Page_ShowText(page, run.text.c_str());
    }
    HPDF_Page_EndText(page);
    if (HPDF_Page_GetCurrentFont(page) != font) HPDF_Page_SetFontAndSize(page, font, size);
}

float TextWidthOf(ReportPdf* pdf, HPDF_Page page, const std::string& shown) {
    if (!pdf->unicode || IsAscii(shown)) return HPDF_Page_TextWidth(page, shown.c_str());
    HPDF_Font font = HPDF_Page_GetCurrentFont(page);
    std::vector<PdfRun> runs = Pdf_FontRuns(pdf, font, shown);
    if (runs.size() == 1 && runs[0].font == font) return HPDF_Page_TextWidth(page, shown.c_str());
    const float size = HPDF_Page_GetCurrentFontSize(page);
    float width = 0;
    for (const PdfRun& run : runs) {
        HPDF_TextWidth measured =
            HPDF_Font_TextWidth(run.font, reinterpret_cast<const HPDF_BYTE*>(run.text.data()),
                                static_cast<HPDF_UINT>(run.text.size()));
        width += static_cast<float>(measured.width) * size / 1000;
    }
    return width;
}

void Pdf_BeginPage(Report* report) {
    ReportPdf* pdf = PdfOf(report);
    const PdfFormState* state = PdfStateOf(report);
    HPDF_Doc document = pdf != nullptr ? DocumentOf(pdf) : nullptr;
    if (document == nullptr) return;
    if ((pdf->flags & PDF_PREPARED) == 0) {
        LoadLogo(report, pdf, document);
        if (pdf->logoImage == nullptr) pdf->logoWidth = 0;
        pdf->flags |= PDF_PREPARED;
    }
    ++report->parent->pageCounter;
    if (report->parent != report) ++report->pageCounter;

    HPDF_Page page = HPDF_AddPage(document);
    pdf->page = page;
    // A size index outside the eight sizes gives letter, as an unknown size name does.
    int size = pdf->pageSize >= 0 && pdf->pageSize <= 7 ? pdf->pageSize : 0;
    HPDF_Page_SetSize(page, static_cast<HPDF_PageSizes>(size),
                      pdf->orientation == 1 ? HPDF_PAGE_LANDSCAPE : HPDF_PAGE_PORTRAIT);
    const float width = HPDF_Page_GetWidth(page), height = HPDF_Page_GetHeight(page);
    const float top = pdf->topMargin, left = pdf->leftMargin, right = pdf->rightMargin;

    if (pdf->logoImage != nullptr)
        HPDF_Page_DrawImage(page, static_cast<HPDF_Image>(pdf->logoImage), left,
                            height - top - pdf->logoHeight, pdf->logoWidth, pdf->logoHeight);

    // The title band takes the width beside the logo.
    pdf->titleBoxWidth = width - (right + left + pdf->logoWidth);
    pdf->titleBoxX = left;
    if (pdf->logoWidth != 0) {
        pdf->titleBoxX += pdf->logoWidth + 20;
        pdf->titleBoxWidth -= 20;
    }
    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, pdf->titleColour[0], pdf->titleColour[1], pdf->titleColour[2]);
    HPDF_Page_Rectangle(page, pdf->titleBoxX, height - top - 30, pdf->titleBoxWidth, 30);
    HPDF_Page_Fill(page);

    HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->boldFont), 18);
    if (state->sectionTitle) {
        HPDF_Page_SetRGBStroke(page, 0, 0, 0);
        HPDF_Page_SetRGBFill(page, 1, 1, 1);
        ShowTextAt(pdf, page, pdf->titleBoxX + 10, height - top - 20,
                   FitText(pdf, page, ShownText(pdf, *state->sectionTitle), pdf->titleBoxWidth - 20)
                       .c_str());
    }
    HPDF_Page_SetRGBFill(page, 0, 0, 0);

    HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->regularFont), 8);
    float y = height - top - 45;
    // The notes and the time end before the QR symbol.
    const float textRoom = width - 90 - right - 5 - pdf->titleBoxX;
    if (state->sectionNotes) {
        ShowTextAt(pdf, page, pdf->titleBoxX, y,
                   FitText(pdf, page, ShownText(pdf, *state->sectionNotes), textRoom));
        y -= 15;
    }
    char text[REPORT_LINE_SIZE];
    snprintf(text, sizeof text, "Production Time: %s",
             FormatTimeText(static_cast<time_t>(report->creationTime)));
    ShowTextAt(pdf, page, pdf->titleBoxX, y,
               FitText(pdf, page, ShownText(pdf, RepairUtf8(text)), textRoom));

    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetGrayFill(page, 0.8f);
    y -= 15;
    const float tableWidth = (width - left - right) * pdf->widthScale;
    HPDF_Page_Rectangle(page, left, y - pdf->rowHeight, tableWidth, pdf->rowHeight);
    HPDF_Page_Fill(page);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);

    uint64_t units = 0;
    for (uint32_t i = 0; i < report->columnCount; ++i)
        if ((report->columns[i].flags & COLUMN_HIDDEN) == 0) units += report->columns[i].width;
    pdf->unitWidth = tableWidth / static_cast<float>(units != 0 ? units : 1);

    DrawFooter(report, page, width);

    // The QR text lives in the line buffer, which the page header may use as scratch.
    char qrTime[128];
    QrTimeText(report->creationTime, qrTime);
    snprintf(report->lineBuffer, sizeof report->lineBuffer, "%u;%s;%s", report->parent->pageCounter,
             state->sectionTitle.value_or("").c_str(), qrTime);
    Pdf_DrawQrCode(page, report->lineBuffer, width - 90 - right, height - 90, 80);

    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
    HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->regularFont), 8);
    PlaceColumns(report, page, y);

    pdf->tableTop = y - 2 * pdf->rowHeight;
    float rows = (pdf->tableTop - pdf->bottomMargin) / pdf->rowHeight;
    report->rowsPerPage = rows > 0 ? static_cast<uint32_t>(rows) : 0;

    CreateBookmarks(report, document, page);
}

void Pdf_DrawTags(ReportPdf* pdf, const char* field, float x0, float y, float right) {
    HPDF_Page page = PageOf(pdf);
    std::string pieces = field;
    float x = x0;
    char* rest = nullptr;
    for (char* piece = strtok_r(pieces.data(), "[]", &rest); piece != nullptr;
         piece = strtok_r(nullptr, "[]", &rest)) {
        TrimBlanks(piece);
        if (piece[0] == 0) continue;
        // A box holds its word and 4 points either side; the last that fits is cut.
        const std::string whole = ShownText(pdf, piece);
        std::string shown = FitText(pdf, page, whole, right - x - 8);
        if (shown.empty()) break;
        float textWidth = TextWidthOf(pdf, page, shown);
        HPDF_Page_SetRGBFill(page, 0, 0, 0);
        HPDF_Page_Rectangle(page, x, y + 1, textWidth + 8, pdf->rowHeight - 2);
        HPDF_Page_Fill(page);
        HPDF_Page_SetRGBStroke(page, 1, 1, 1);
        HPDF_Page_SetRGBFill(page, 1, 1, 1);
        ShowTextAt(pdf, page, x + 4, y + 3, shown);
        x += textWidth + 10;
        if (shown != whole) break;  // that word was cut: nothing more fits
    }
    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
}
