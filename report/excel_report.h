// The Excel state of a report: the workbook, the worksheet of the current section and
// the output file. Allocated zeroed by Report_Init; a report whose parent is another
// report uses the parent's state (REPORT_EXCEL_BORROWED) and frees only its own.
#pragma once
#include <cstdint>

struct XlsBook;
struct XlsSheet;

struct ReportExcel {
    XlsBook* book;    // owned by the report that is its own parent
    XlsSheet* sheet;  // worksheet of the current section, none when it could not be added
    char outputPath[261];
    // A section with more rows than a sheet holds goes on in further sheets named
    // after its first one: "<name> (2)", "<name> (3)", ...
    char sheetName[32];
    uint32_t sheetPart;  // 1 for the section's first sheet
    uint32_t rowBase;    // rows counter that falls on row 0 of the current sheet
    uint32_t warned;     // a cell refused in this section has been reported
};
