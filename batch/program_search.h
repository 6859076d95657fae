// Where a program named in a batch definition will be found: the utility's own folder,
// the current folder, then each folder of PATH. A name with a slash is taken as a path.
#pragma once
#include <string>

// The full path of the executable regular file that running program would start, or ""
// when there is none. Safe from any thread.
std::string SearchProgram(const char* program);

// The folder of our own executable (from /proc/self/exe), or "" when it cannot be read.
std::string OwnProgramFolder();
