// The Excel state of a report: the workbook, the worksheet of the current section and
// the output file. Allocated zeroed by Report_Init; a report whose parent is another
// report uses the parent's state (REPORT_EXCEL_BORROWED) and frees only its own.
#pragma once

struct ReportExcel {
    void* book;   // the workbook writer's handles
    void* sheet;  // worksheet of the current section
    char outputPath[261];
};
