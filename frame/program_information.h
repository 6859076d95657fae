// The answers to --help and --version: a short usage made from the option table, and the
// program's name, release and build date.
#pragma once
#include <cstdio>

#include "frame/options.h"

struct ProgramInformation {
    const char* programName;
    const char* description;  // the identity's description, without a full stop
    const char* buildDate;    // as __DATE__ and __TIME__ give them
    const char* buildTime;
    const OptionEntry* options;  // ends with letter 0; none for a program without options
};

constexpr int INFORMATION_NONE = -1;

// When the command line asks for --help (or -h, unless an option uses that letter) or
// --version, writes the answer to standard output and returns 0; when it holds an argument
// of the long form ("--name") that is neither, writes one line naming it to standard error
// and returns 2. The caller then ends with that status before anything else happens (no
// banner, no redirect file, no connection). Returns INFORMATION_NONE otherwise, and always
// under a web server (REQUEST_URI set): the form, not the command line, holds a CGI
// program's arguments there, so nothing a client sends changes what the program does.
int AnswerInformationRequest(int argc, char** argv, const ProgramInformation& information);

// True for an argument of the long form "--name" (not the bare "--" that ends the options).
bool IsLongOptionForm(const char* argument);

// The usage text of --help, for tests and for programs that print it elsewhere.
void WriteUsage(FILE* out, const ProgramInformation& information);
