// List mode: the customer's files as a report, in the order the server sent them.
#pragma once
#include <cstdint>

struct ProgramContext;

// items holds count items of 432 bytes. Returns 0, or 1 when the PDF report could not
// be made or saved, or the report's workbook could not be saved or sent (the reason is
// logged).
int ListFiles(ProgramContext* context, uint32_t count, const uint8_t* items);
