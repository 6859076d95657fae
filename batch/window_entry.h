// The window side of ZYMBBatch: main hands over to it when the utility is not asked for a
// headless run. argv holds the optional batch file to load at start.
#pragma once

// Runs the batch window until it closes; returns the program's exit status.
int RunBatchWindow(int argc, char** argv);
