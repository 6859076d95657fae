// The PDF form of a report: a paged table with a title band, a QR symbol on every page
// and bookmarks for the sections, saved whole to a file or sent to the web client.
#include "report/pdf_report.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "base/utf8.h"
#include "base/value_format.h"
#include "report/output_file.h"
#include "report/pdf_draw.h"
#include "report/pdf_fonts.h"
#include "report/report_form.h"

namespace {

// Room left between a cell's text and the next column.
constexpr float kCellGap = 5;

const NameValue kOrientations[] = {{"portrait", 0}, {"landscape", 1}, {nullptr, 0}};
const NameValue kPageSizes[] = {
    {"letter", 0}, {"legal", 1}, {"A3", 2},        {"A4", 3},    {"A5", 4},
    {"B4", 5},     {"B5", 6},    {"executive", 7}, {nullptr, 0},
};

// A colour given as six hexadecimal digits, red, green and blue.
bool ParseColour(const char* text, float (&colour)[3]) {
    if (strlen(text) != 6) return false;
    for (int i = 0; i < 6; ++i)
        if (!isxdigit(static_cast<unsigned char>(text[i]))) return false;
    unsigned red, green, blue;
    if (sscanf(text, "%02x%02x%02x", &red, &green, &blue) != 3) return false;
    colour[0] = static_cast<float>(red) / 255;
    colour[1] = static_cast<float>(green) / 255;
    colour[2] = static_cast<float>(blue) / 255;
    return true;
}

const char* TitleColourSetting(const Report* report) {
    if (report->reportId != 0) {
        char name[32];
        snprintf(name, sizeof name, "ZYMBPDFCOLORHDR%3.3u",
                 static_cast<unsigned>(report->reportId));
        if (const char* value = getenv(name)) return value;
    }
    return getenv("ZYMBPDFCOLORHDR");
}

constexpr int kError = MSG_ERROR;

// Report_Init: the report's state with a document state of its own, which the setters
// may fill before the first section.
void Open(Report* report) {
    auto* state = new (std::nothrow) PdfFormState;
    if (state == nullptr) return;
    state->pdf = new (std::nothrow) ReportPdf;
    report->formState = state;
}

void SetUp(Report* report) {
    PdfFormState* state = PdfStateOf(report);
    if (state == nullptr) return;
    if (report->parent != report) {
        // The parent's document, when the parent draws one.
        PdfFormState* parent = PdfStateOf(report->parent);
        delete state->pdf;
        state->pdf = parent != nullptr ? parent->pdf : nullptr;
        report->flags |= REPORT_PDF_BORROWED;
    } else if (ReportPdf* pdf = state->pdf; pdf != nullptr) {
        HPDF_Doc document = HPDF_New(Pdf_OnError, report);
        pdf->document = document;
        if (document == nullptr) {
            ReportMessage(report, kError,
                          "PDF report not made: the PDF library could not start a document");
            report->saveResult = ENOMEM;
        }
        HPDF_SetCompressionMode(document, HPDF_COMP_ALL);
        if (const char* logo = getenv("ZYMBPDFLOGOPATH")) pdf->logoPath = logo;
        ChooseOutputName(report, &pdf->outputPath, "ZYMBPDFOUTPUTPATH", "Report-", ".pdf");
        int value = 0;
        if (const char* name = getenv("ZYMBPDFORIENTATION"))
            pdf->orientation = LookupName(kOrientations, name, &value) ? value : 0;
        if (const char* name = getenv("ZYMBPDFPAGESIZE"))
            pdf->pageSize = LookupName(kPageSizes, name, &value) ? value : 0;
        pdf->titleColour[0] = 0;
        pdf->titleColour[1] = 0;
        pdf->titleColour[2] = 0.5f;
        if (const char* colour = TitleColourSetting(report)) ParseColour(colour, pdf->titleColour);
        pdf->logoWidth = 158;
        pdf->logoHeight = 39;
        pdf->topMargin = 30;
        pdf->bottomMargin = 30;
        pdf->leftMargin = 10;
        pdf->rightMargin = 10;
        pdf->rowHeight = 12;
        pdf->widthScale = 1.0f;
        // Names in any script with the Unicode fonts; without them the standard fonts in
        // WinAnsi rather than their own standard encoding: it holds the accented letters
        // of Western names, and the texts are converted to it (pdf_text.h).
        if (document != nullptr && !Pdf_LoadUnicodeFonts(pdf)) {
            pdf->boldFont = HPDF_GetFont(document, "Helvetica-Bold", "WinAnsiEncoding");
            pdf->regularFont = HPDF_GetFont(document, "Helvetica", "WinAnsiEncoding");
            pdf->monoFont = HPDF_GetFont(document, "Courier", "WinAnsiEncoding");
        }
    }
    if ((report->flags & REPORT_CGI) && state->pdf != nullptr) {
        WriteCgiHeader("Content-type: application/pdf");
        WriteCgiHeader("Content-disposition: attachment; filename=\"%s\"",
                       state->pdf->outputPath.c_str());
    }
}

// A section draws nothing yet: its title and notes head the pages begun from now on,
// and a title that differs from the one before gets a bookmark of its own.
void BeginSection(Report* report, void (*)(Report*), const char* title, const char* notes) {
    PdfFormState* state = PdfStateOf(report);
    ReportPdf* pdf = PdfOf(report);
    if (pdf == nullptr) return;
    const PdfFormState* parent = PdfStateOf(report->parent);
    if (parent == nullptr || !parent->sectionTitle || *parent->sectionTitle != title)
        pdf->flags |= PDF_TITLE_PENDING;
    state->sectionTitle = title;
    // A section without notes shows none, not the notes of the section before it.
    state->sectionNotes.reset();
    if (notes != nullptr) {
        std::string_view text = notes;
        state->sectionNotes =
            std::string(text.substr(0, Utf8CutLength(text, REPORT_LINE_SIZE - 1)));
        pdf->flags |= PDF_NOTES_PENDING;
    }
}

// The y of row position r (1 at the top) on the current page.
float RowY(const Report* report, uint32_t position) {
    const ReportPdf* pdf = PdfOf(report);
    return pdf->tableTop - static_cast<float>(position - 1) * pdf->rowHeight;
}

uint32_t RowsPerPage(const Report* report) {
    return report->rowsPerPage != 0 ? report->rowsPerPage : 1;
}

// A page takes exactly rows-per-page rows; the row after a full page begins the next.
void WriteRow(Report* report, char** fields, size_t count) {
    ReportPdf* pdf = PdfOf(report);
    if (pdf == nullptr || pdf->document == nullptr) return;
    if (report->pageSlot == 0) Pdf_BeginPage(report);
    const uint32_t perPage = RowsPerPage(report);
    report->pageSlot = report->rowsCounter % perPage;
    const uint32_t position = report->pageSlot != 0 ? report->pageSlot : perPage;
    const float y = RowY(report, position);
    HPDF_Page page = PageOf(pdf);
    const float width = HPDF_Page_GetWidth(page);

    if (position % 2 == 0) {
        HPDF_Page_SetLineWidth(page, 2);
        HPDF_Page_SetRGBStroke(page, 0, 0, 0);
        HPDF_Page_SetGrayFill(page, 0.98f);
        HPDF_Page_Rectangle(page, pdf->leftMargin, y,
                            (width - pdf->leftMargin - pdf->rightMargin) * pdf->widthScale,
                            pdf->rowHeight);
        HPDF_Page_Fill(page);
        HPDF_Page_SetRGBFill(page, 0, 0, 0);
    }

    if (count > report->columnCount) count = report->columnCount;
    for (size_t i = 0; i < count; ++i) {
        const ReportColumn& column = report->columns[i];
        if (column.flags & COLUMN_HIDDEN) continue;
        char number[64];
        const char* text = CellText(column, fields[i], number);
        if (column.flags & COLUMN_MONO)
            HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->monoFont), 8);
        // A value wider than its column stays inside it (ShowInColumn): it never runs
        // over the next column or off the page.
        const float room = column.pointWidth - kCellGap;
        if (column.flags & COLUMN_TAGS)
            Pdf_DrawTags(pdf, text, column.x, y, column.x + room);
        else
            ShowInColumn(pdf, page, column.x, y + 3, ShownText(pdf, text), room,
                         (column.flags & COLUMN_RIGHT) != 0);
        if (column.flags & COLUMN_MONO)
            HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->regularFont), 8);
    }
}

// A centred bar across the table. It never takes the last row of a page, where nothing
// of its group would follow it: it moves to the next page instead.
void WriteHeading(Report* report, const char* text) {
    ReportPdf* pdf = PdfOf(report);
    if (pdf == nullptr || pdf->document == nullptr) return;
    const uint32_t before = report->pageSlot;
    ++report->rowsCounter;
    if (before == 0 || before == RowsPerPage(report) - 1) {
        ++report->rowsCounter;
        Pdf_BeginPage(report);
    }
    const uint32_t perPage = RowsPerPage(report);
    report->pageSlot = report->rowsCounter % perPage;
    const float y = RowY(report, report->pageSlot != 0 ? report->pageSlot : perPage);
    HPDF_Page page = PageOf(pdf);
    const float width = HPDF_Page_GetWidth(page);

    HPDF_Page_SetLineWidth(page, 1);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_MoveTo(page, pdf->leftMargin, y + pdf->rowHeight / 2);
    HPDF_Page_LineTo(page, width - pdf->rightMargin, y + pdf->rowHeight / 2);
    HPDF_Page_Stroke(page);

    const float tableWidth = (width - (pdf->rightMargin + pdf->leftMargin)) * pdf->widthScale;
    std::string shown = FitText(pdf, page, ShownText(pdf, text), tableWidth - 40);
    const float textWidth = TextWidthOf(pdf, page, shown);
    const float at = tableWidth / 2 - textWidth / 2;
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
    HPDF_Page_Rectangle(page, at - 20, y, textWidth + 40, pdf->rowHeight);
    HPDF_Page_Fill(page);
    HPDF_Page_SetRGBFill(page, 1, 1, 1);
    ShowTextAt(pdf, page, at, y + 3, shown);
    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
}

// The grey box with the operator's text on the page of a table without rows.
void DrawBlankPage(Report* report, const char* text) {
    ReportPdf* pdf = PdfOf(report);
    Pdf_BeginPage(report);
    HPDF_Page page = PageOf(pdf);
    const float middle = (HPDF_Page_GetHeight(page) - pdf->topMargin) / 2;
    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetGrayFill(page, 0.8f);
    HPDF_Page_Rectangle(page, pdf->titleBoxX, middle, pdf->titleBoxWidth, 30);
    HPDF_Page_Fill(page);
    HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->boldFont), 18);
    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 1, 1, 1);
    std::string shown = FitText(pdf, page, ShownText(pdf, RepairUtf8(text)), pdf->titleBoxWidth);
    ShowTextAt(pdf, page, pdf->titleBoxX + (pdf->titleBoxWidth - TextWidthOf(pdf, page, shown)) / 2,
               middle + 10, shown.c_str());
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
}

void EndTable(Report* report) {
    if (report->rowsCounter != 0) {
        ResetPageCounters(report);
        return;
    }
    if (PdfOf(report) == nullptr || PdfOf(report)->document == nullptr) return;
    if (const char* text = getenv("ZYMBPDFBLANKPAGETEXT")) DrawBlankPage(report, text);
}

// The whole document, compressed, from the library's memory stream.
bool SaveToMemory(HPDF_Doc document, std::string* bytes) {
    if (HPDF_SaveToStream(document) != HPDF_OK) return false;
    bytes->resize(HPDF_GetStreamSize(document));
    size_t done = 0;
    while (done < bytes->size()) {
        HPDF_UINT32 length = static_cast<HPDF_UINT32>(bytes->size() - done);
        HPDF_STATUS status = HPDF_ReadFromStream(
            document, reinterpret_cast<HPDF_BYTE*>(bytes->data() + done), &length);
        if ((status != HPDF_OK && status != HPDF_STREAM_EOF) || length == 0) return false;
        done += length;
    }
    return true;
}

int SaveDocument(Report* report, const std::string& bytes) {
    const char* path = PdfOf(report)->outputPath.c_str();
    if (path[0] == 0) {
        // A name that could not be used has been reported already.
        if (report->saveResult != 0) return report->saveResult;
        ReportMessage(report, kError, "PDF report not saved: the output file name is empty");
        return ENOENT;
    }
    int error = ReplaceOutputFile(path, bytes);
    if (error != 0)
        ReportMessage(report, kError, "Save of the PDF report to %s failed: %s", path,
                      strerror(error));
    else
        ReportMessage(report, MSG_INFO, "PDF report saved to %s (%llu bytes)",
                      OutputFullPath(path).c_str(), static_cast<unsigned long long>(bytes.size()));
    return error;
}

// Saves (to the output file, or in CGI mode to standard output after its Content-Length
// line) and frees the document of the report that is its own parent.
void CloseDocument(Report* report) {
    ReportPdf* pdf = PdfOf(report);
    HPDF_Doc document = pdf != nullptr ? DocumentOf(pdf) : nullptr;
    if (document == nullptr) return;
    // Readers refuse a document without pages, so a report that drew none gets one: the
    // page heading of its last section, or an empty page for a dropped report.
    if (pdf->page == nullptr) {
        if (report->format != REPORT_DROPPED) {
            Pdf_BeginPage(report);
        } else {
            HPDF_Page page = HPDF_AddPage(document);
            pdf->page = page;
            int size = pdf->pageSize >= 0 && pdf->pageSize <= 7 ? pdf->pageSize : 0;
            HPDF_Page_SetSize(page, static_cast<HPDF_PageSizes>(size),
                              pdf->orientation == 1 ? HPDF_PAGE_LANDSCAPE : HPDF_PAGE_PORTRAIT);
        }
    }
    std::string bytes;
    if (!SaveToMemory(document, &bytes)) {
        ReportMessage(report, kError,
                      "PDF report not made: the PDF library could not write the document");
        report->saveResult = EIO;
    } else if (report->flags & REPORT_CGI) {
        if (int error = SendCgiBody(report, "PDF report", bytes)) report->saveResult = error;
    } else {
        if (int error = SaveDocument(report, bytes)) report->saveResult = error;
    }
    HPDF_Free(document);
    pdf->document = nullptr;
    pdf->page = nullptr;
}

void Close(Report* report) {
    PdfFormState* state = PdfStateOf(report);
    if (state == nullptr) return;
    if (report->parent == report) CloseDocument(report);
    if ((report->flags & REPORT_PDF_BORROWED) == 0) delete state->pdf;
    delete state;
}

}  // namespace

PdfFormState* PdfStateOf(const Report* report) {
    return report->form == &PdfForm ? static_cast<PdfFormState*>(report->formState) : nullptr;
}

ReportPdf* PdfOf(const Report* report) {
    PdfFormState* state = PdfStateOf(report);
    return state != nullptr ? state->pdf : nullptr;
}

// The library reports every failure here, and drawing goes on: the error is cleared so
// that the document takes the next call. Under a web server standard output carries the
// document, so the line goes to standard error there. A failure the caller explains
// itself (a logo, a font) is only kept.
void Pdf_OnError(HPDF_STATUS error, HPDF_STATUS detail, void* owner) {
    auto* report = static_cast<Report*>(owner);
    ReportPdf* pdf = PdfOf(report);
    if (pdf != nullptr && pdf->quiet) {
        pdf->quietError = error;
    } else {
        FILE* out = (report->flags & REPORT_CGI) ? stderr : stdout;
        fprintf(out, "Error PDF Object: error_no=%04X, detail_no=%u\n",
                static_cast<unsigned>(error), static_cast<unsigned>(detail));
    }
    if (pdf != nullptr && pdf->document != nullptr) HPDF_ResetError(DocumentOf(pdf));
}

const ReportForm PdfForm = {
    .open = Open,
    .setUp = SetUp,
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = EndTable,
    .writeRule = nullptr,
    .writeHeading = WriteHeading,
    .close = Close,
    .setOrientation =
        [](Report* report, int orientation) {
            if (ReportPdf* pdf = PdfOf(report)) pdf->orientation = orientation;
        },
    .setPageSize =
        [](Report* report, int size) {
            if (ReportPdf* pdf = PdfOf(report)) pdf->pageSize = size;
        },
    .setOutputPath =
        [](Report* report, const char* path) {
            if (ReportPdf* pdf = PdfOf(report)) pdf->outputPath = path;
        },
    .setLogo =
        [](Report* report, const char* path) {
            if (ReportPdf* pdf = PdfOf(report)) pdf->logoPath = path;
        },
};
