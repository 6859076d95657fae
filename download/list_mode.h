// List mode: the customer's files as a report, in the order the server sent them.
#pragma once
#include <cstdint>

struct ProgramContext;
struct Report;

// Sets up an initialised report for the file list: its four columns and its section. The
// benchmarks write their rows through it too, so that they measure the list as it is.
void BeginFileList(Report* report);

// items holds count items of 432 bytes. Returns 0, or 1 when the PDF report could not
// be made or saved, or the report's workbook could not be saved or sent (the reason is
// logged).
int ListFiles(ProgramContext* context, uint32_t count, const uint8_t* items);
