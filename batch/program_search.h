// Where a program named in a batch definition will be found. A bare name is looked up in
// the folders of PATH first, then in the utility's own folder, then in the current folder
// (the folder the utility was started in), so a program planted in the current folder
// never wins over the system's. A name with a slash is taken as given, relative to the
// current folder.
#pragma once
#include <string>

// The full path of the executable regular file that running program would start, or ""
// when there is none. Safe from any thread.
std::string SearchProgram(const char* program);

// Where SearchProgram looked for program, for a message that says it was not found:
// "PATH (/usr/bin:/bin), the utility's folder (/opt/x/bin), the current folder (/home/a)",
// or the path it was taken as for a name with a slash.
std::string ProgramSearchPlaces(const char* program);

// A program in a folder of PATH named by its full path, or "": never the current folder,
// whatever PATH says (for the desktop's own tools, such as the log's opener).
std::string SearchSystemPath(const char* program);

// The folder of our own executable (from /proc/self/exe), or "" when it cannot be read.
std::string OwnProgramFolder();
