// The answers to --help and --version: a short usage made from the option table, and the
// program's name, release and build date.
#pragma once
#include <cstdio>

#include "frame/options.h"

struct ProgramInformation {
    const char* programName;
    const char* description;  // the identity's description, without a full stop
    const char* version;
    const char* buildDate;  // as __DATE__ and __TIME__ give them
    const char* buildTime;
    const OptionEntry* options;  // ends with letter 0; none for a program without options
};

// When the command line asks for --help (or -h, unless an option uses that letter) or
// --version, writes the answer to standard output and returns 1; the caller then ends with
// status 0 before anything else happens (no banner, no redirect file). Returns 0 otherwise,
// and always under a web server (REQUEST_URI set): the form, not the command line, holds a
// CGI program's arguments there, so nothing a client sends changes what the program does.
int AnswerInformationRequest(int argc, char** argv, const ProgramInformation& information);

// The usage text of --help, for tests and for programs that print it elsewhere.
void WriteUsage(FILE* out, const ProgramInformation& information);
