// The Excel form's state. ReportExcel is the workbook with the worksheet of the current
// section and the output file; it belongs to the report that made it, and a report whose
// parent is another report writes into the parent's (REPORT_EXCEL_BORROWED). Only the
// report that is its own parent saves and frees the workbook, at its Report_Close.
#pragma once
#include <cstdint>
#include <string>

struct XlsBook;
struct XlsSheet;

struct ReportExcel {
    XlsBook* book = nullptr;    // owned by the report that is its own parent
    XlsSheet* sheet = nullptr;  // worksheet of the current section, none when it could not be added
    std::string outputPath;
    // A section with more rows than a sheet holds goes on in further sheets named
    // after its first one: "<name> (2)", "<name> (3)", ...
    char sheetName[32] = {};
    uint32_t sheetPart = 0;    // 1 for the section's first sheet
    uint32_t rowBase = 0;      // rows counter that falls on row 0 of the current sheet
    uint32_t warned = 0;       // a cell refused in this section has been reported
    uint64_t rowsWritten = 0;  // data rows in the workbook, every sheet together
};

// What one report of the Excel form holds.
struct ExcelFormState {
    ReportExcel* excel = nullptr;  // owned unless the report borrows its parent's
};
