// Argument intake: the command line or a CGI form, argument files, checks and listing.
#pragma once
#include "frame/program_context.h"

// 0 when the context has no option table, else 1. Counts problems in errorCount.
int ReadArguments(ProgramContext* context);
// Checks and stores one value occurrence for a row; a missing row is ignored.
void TakeOptionValue(ProgramContext* context, OptionEntry* row, const char* value);
