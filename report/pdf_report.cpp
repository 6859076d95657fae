// The PDF form of a report: a paged table with a title band, a QR symbol on every page
// and bookmarks for the sections, saved whole to a file or sent to the web client.
#include "report/pdf_report.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/value_format.h"
#include "report/output_file.h"
#include "report/pdf_draw.h"
#include "report/pdf_text.h"
#include "report/report_form.h"

namespace {

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

constexpr int kError = 0;  // the message log's error level

void SetUp(Report* report) {
    if (report->parent != report) {
        free(report->pdf);
        report->pdf = report->parent->pdf;
        report->flags |= REPORT_PDF_BORROWED;
    } else if (ReportPdf* pdf = report->pdf; pdf != nullptr) {
        HPDF_Doc document = HPDF_New(Pdf_OnError, report);
        pdf->document = document;
        if (document == nullptr) {
            ReportMessage(report, kError,
                          "PDF report not made: the PDF library could not start a document");
            report->pdfSaveResult = ENOMEM;
        }
        HPDF_SetCompressionMode(document, HPDF_COMP_ALL);
        if (const char* logo = getenv("ZYMBPDFLOGOPATH"))
            snprintf(pdf->logoPath, sizeof pdf->logoPath, "%s", logo);
        ChooseOutputName(pdf->outputPath, "ZYMBPDFOUTPUTPATH", "Report-", ".pdf",
                         report->creationTime);
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
        // WinAnsi rather than the fonts' own standard encoding: it holds the accented
        // letters of Western names, and the texts are converted to it (pdf_text.h).
        pdf->boldFont = HPDF_GetFont(document, "Helvetica-Bold", "WinAnsiEncoding");
        pdf->regularFont = HPDF_GetFont(document, "Helvetica", "WinAnsiEncoding");
        pdf->monoFont = HPDF_GetFont(document, "Courier", "WinAnsiEncoding");
    }
    if ((report->flags & REPORT_CGI) && report->pdf != nullptr) {
        WriteCgiHeader("Content-type: application/pdf");
        WriteCgiHeader("Content-disposition: attachment; filename=\"%s\"", report->pdf->outputPath);
    }
}

// A section draws nothing yet: its title and notes head the pages begun from now on,
// and a title that differs from the one before gets a bookmark of its own.
void BeginSection(Report* report, void (*)(Report*), const char* title, const char* notes) {
    ReportPdf* pdf = report->pdf;
    if (pdf == nullptr) return;
    const char* held = report->parent->sectionTitle;
    if (held == nullptr || strcmp(held, title) != 0) pdf->flags |= PDF_TITLE_PENDING;
    free(report->sectionTitle);
    report->sectionTitle = strdup(title);
    // A section without notes shows none, not the notes of the section before it.
    free(report->sectionNotes);
    report->sectionNotes = nullptr;
    if (notes != nullptr) {
        report->sectionNotes = strndup(notes, REPORT_LINE_SIZE - 1);
        pdf->flags |= PDF_NOTES_PENDING;
    }
}

// The y of row position r (1 at the top) on the current page.
float RowY(const Report* report, uint32_t position) {
    return report->pdf->tableTop - static_cast<float>(position - 1) * report->pdf->rowHeight;
}

uint32_t RowsPerPage(const Report* report) {
    return report->rowsPerPage != 0 ? report->rowsPerPage : 1;
}

// A page takes exactly rows-per-page rows; the row after a full page begins the next.
void WriteRow(Report* report, char** fields, size_t count) {
    ReportPdf* pdf = report->pdf;
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
        if (column.flags & COLUMN_TAGS) {
            Pdf_DrawTags(pdf, text, column.x, y);
        } else {
            // Not cut: a value wider than its column runs on over the next one.
            std::string shown = ToWinAnsi(text);
            float offset = 0;
            if (column.flags & COLUMN_RIGHT)
                offset = column.pointWidth - TextWidthOf(page, shown.c_str()) - 5;
            ShowTextAt(page, column.x + offset, y + 3, shown.c_str());
        }
        if (column.flags & COLUMN_MONO)
            HPDF_Page_SetFontAndSize(page, static_cast<HPDF_Font>(pdf->regularFont), 8);
    }
}

// A centred bar across the table. It never takes the last row of a page, where nothing
// of its group would follow it: it moves to the next page instead.
void WriteHeading(Report* report, const char* text) {
    ReportPdf* pdf = report->pdf;
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

    std::string shown = ToWinAnsi(text);
    const float textWidth = TextWidthOf(page, shown.c_str());
    const float at =
        (width - (pdf->rightMargin + pdf->leftMargin)) * pdf->widthScale / 2 - textWidth / 2;
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
    HPDF_Page_Rectangle(page, at - 20, y, textWidth + 40, pdf->rowHeight);
    HPDF_Page_Fill(page);
    HPDF_Page_SetRGBFill(page, 1, 1, 1);
    ShowTextAt(page, at, y + 3, shown.c_str());
    HPDF_Page_SetLineWidth(page, 2);
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
}

// The grey box with the operator's text on the page of a table without rows.
void DrawBlankPage(Report* report, const char* text) {
    ReportPdf* pdf = report->pdf;
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
    std::string shown = ToWinAnsi(text);
    ShowTextAt(page, pdf->titleBoxX + (pdf->titleBoxWidth - TextWidthOf(page, shown.c_str())) / 2,
               middle + 10, shown.c_str());
    HPDF_Page_SetRGBStroke(page, 0, 0, 0);
    HPDF_Page_SetRGBFill(page, 0, 0, 0);
}

void EndTable(Report* report) {
    if (report->rowsCounter != 0) {
        ResetPageCounters(report);
        return;
    }
    if (report->pdf == nullptr || report->pdf->document == nullptr) return;
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

// The document to the web client: its length, then exactly its bytes.
int SendDocument(Report* report, const std::string& bytes) {
    WriteCgiHeader("Content-Length: %u\n", static_cast<unsigned>(bytes.size()));
    if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0) {
        int error = errno != 0 ? errno : EIO;
        ReportMessage(report, kError, "Send of the PDF report to the web client failed: %s",
                      strerror(error));
        return error;
    }
    return 0;
}

int SaveDocument(Report* report, const std::string& bytes) {
    const char* path = report->pdf->outputPath;
    if (path[0] == 0) {
        ReportMessage(report, kError, "PDF report not saved: the output file name is empty");
        return ENOENT;
    }
    int error = ReplaceOutputFile(path, bytes);
    if (error != 0)
        ReportMessage(report, kError, "Save of the PDF report to %s failed: %s", path,
                      strerror(error));
    return error;
}

}  // namespace

// The library reports every failure here, and drawing goes on: the error is cleared so
// that the document takes the next call. Under a web server standard output carries the
// document, so the line goes to standard error there.
void Pdf_OnError(HPDF_STATUS error, HPDF_STATUS detail, void* owner) {
    auto* report = static_cast<Report*>(owner);
    FILE* out = (report->flags & REPORT_CGI) ? stderr : stdout;
    fprintf(out, "Error PDF Object: error_no=%04X, detail_no=%u\n", static_cast<unsigned>(error),
            static_cast<unsigned>(detail));
    if (report->pdf != nullptr && report->pdf->document != nullptr)
        HPDF_ResetError(DocumentOf(report->pdf));
}

void ClosePdfDocument(Report* report) {
    ReportPdf* pdf = report->pdf;
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
        report->pdfSaveResult = EIO;
    } else if (report->flags & REPORT_CGI) {
        report->pdfSaveResult = SendDocument(report, bytes);
    } else {
        report->pdfSaveResult = SaveDocument(report, bytes);
    }
    HPDF_Free(document);
    pdf->document = nullptr;
    pdf->page = nullptr;
}

const ReportForm PdfForm = {
    .setUp = SetUp,
    .beginSection = BeginSection,
    .writeRow = WriteRow,
    .endTable = EndTable,
    .writeRule = nullptr,
    .writeHeading = WriteHeading,
    .close = nullptr,
};
