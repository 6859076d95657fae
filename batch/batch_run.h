// The run command shared by the window and the headless run: checks the definition's
// fields, expands them, writes the run's first log sections, fills the runner's
// environment and starts the runner. The caller wires the runner's callbacks first and,
// when the run ends, writes the output sections (headers below) itself.
#pragma once
#include <string>

#include "batch/batch_definition.h"
#include "batch/batch_log.h"
#include "batch/process_runner.h"

struct RunPreparation {
    enum Outcome {
        STARTED,         // the runner started: one of its end callbacks follows
        EMPTY_PROGRAM,   // nothing started; the program text is empty
        STDIN_UNOPENED,  // nothing started; the standard-input file cannot be opened
        START_FAILED,    // the runner refused to start (reason holds its text)
    } outcome;
    std::string reason;  // STDIN_UNOPENED: the C library's text; START_FAILED: the runner's
};

// The window's texts for each outcome but STARTED.
constexpr const char* EMPTY_PROGRAM_TEXT = "The Program Path can not be an empty string";
constexpr const char* EMPTY_PROGRAM_CAPTION = "Empty Program Path";
constexpr const char* STDIN_UNOPENED_FORMAT = "The StdIn file could not be opened: %s";
constexpr const char* STDIN_UNOPENED_CAPTION = "Invalid StdIn file";

// Runs the definition's fields: opens the expanded standard-input file, sets the expanded
// working directory, builds the command line "%s %s" from the program as typed and the
// expanded arguments, writes "Starting Program" and the definition (after copying the
// fields into it) to the log, fills the environment (ours plus the pieces of the
// environment field, which are not expanded) and writes "Variables" and the environment,
// then starts the runner. Call on the caller's thread with the runner idle.
RunPreparation PrepareAndStartRun(ProcessRunner* runner, BatchDefinition* definition,
                                  const BatchFields& fields, BatchLog* log);

// After the run: the caller writes "Stdout", its output lines, "Stderr", its error lines,
// then "Program Ended" and flushes. These are the header texts.
constexpr const char* LOG_HEADER_OPENING = "Opening Log";
constexpr const char* LOG_HEADER_STARTING = "Starting Program";
constexpr const char* LOG_HEADER_VARIABLES = "Variables";
constexpr const char* LOG_HEADER_STDOUT = "Stdout";
constexpr const char* LOG_HEADER_STDERR = "Stderr";
constexpr const char* LOG_HEADER_ENDED = "Program Ended";
constexpr const char* LOG_HEADER_CLOSING = "Closing Log";
