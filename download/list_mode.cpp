// Writes the file list through the report writer: every item, numbered from 1.
#include "download/list_mode.h"

#include <cstring>
#include <iterator>
#include <string>

#include "api/file_list.h"
#include "frame/cgi_form.h"
#include "frame/program_context.h"
#include "report/report.h"

namespace {

// The report writer's messages (its failures, where it saved a workbook) go to the
// program's message log.
void LogReportMessage(void* target, int level, const char* text) {
    auto* context = static_cast<ProgramContext*>(target);
    Message(context, level, 0, "%s", text);
}

}  // namespace

void BeginFileList(Report* report) {
    report->lineWidth = 1;
    Report_AddColumn(report, 6, "Seq.", COLUMN_RIGHT);
    Report_AddColumn(report, 40, "Description", 0);
    Report_AddColumn(report, 100, "File Name", 0);
    Report_AddColumn(report, 4, "Gen.", COLUMN_RIGHT);
    Report_BeginSection(report, nullptr, "Corvantix File List", "%s", "");
}

int ListFiles(ProgramContext* context, uint32_t count, const uint8_t* items) {
    Message(context, MSG_INFO, 0, "List returned %u items", count);
    const ReportSetUp setUp{.cgi = (context->flags & CTX_CGI) != 0,
                            .formVariable = CgiFormVariable};
    Report report;
    Report_Init(&report, &setUp);
    report.log = LogReportMessage;
    report.logTarget = context;
    BeginFileList(&report);
    // The fields go as separate values: a stored name or description may hold a "|".
    for (uint32_t i = 0; i < count; ++i) {
        FileListItem item{items + static_cast<size_t>(i) * FILE_LIST_ITEM_SIZE};
        std::string sequence = std::to_string(i + 1);
        std::string description(item.Description(),
                                strnlen(item.Description(), ITEM_DESCRIPTION_SIZE));
        std::string name(item.Name(), item.NameLength());
        std::string generation = std::to_string(static_cast<unsigned>(item.Generation()));
        const char* fields[] = {sequence.c_str(), description.c_str(), name.c_str(),
                                generation.c_str()};
        Report_WriteFields(&report, fields, std::size(fields));
    }
    Report_EndTable(&report);
    Report_Close(&report);
    return report.saveResult != 0 ? 1 : 0;
}
