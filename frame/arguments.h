// Argument intake: the command line or a CGI form, argument files, checks and listing.
// Values from the command line point into argv, values from a CGI form are allocated
// (OPT_ALLOCATED, released by Complete), values from argument files live in the
// context's argumentPool.
#pragma once
#include <cstddef>

#include "frame/program_context.h"

constexpr size_t OPTION_STRING_SIZE = 512;

// 0 when the context has no option table, else 1. Counts problems in errorCount.
int ReadArguments(ProgramContext* context);
// Checks and stores one value occurrence for a row; a missing row is ignored.
void TakeOptionValue(ProgramContext* context, OptionEntry* row, const char* value);

// The getopt option string of a table: each letter in table order, with ":" after the
// letters that take a value, cut to fit size. Returns the number of rows.
int BuildOptionString(const OptionEntry* table, char* out, size_t size);
// Binary search of the sorted table for a letter; none when no row has it.
OptionEntry* FindOption(ProgramContext* context, char letter);
// True for "*FI:" followed by a file name or "stdin" (more than 5 characters in all).
bool IsArgumentFileReference(const char* value);
