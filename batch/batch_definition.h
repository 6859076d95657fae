// The batch definition: which program to run, with which arguments, working directory,
// environment additions and standard-input file, kept as a libconfig settings tree and
// stored in .cvbatch files. Settings beyond the five known ones are carried along unchanged.
//
// Ownership: the definition owns its tree for its whole life; whoever holds the definition
// (the dialog, or the headless run) owns it. Not thread-safe: use it from one thread (the
// user-interface thread of the window, the main thread of a headless run).
#pragma once
#include <libconfig.h>

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

// The largest .cvbatch file that is read; a larger one is refused unread.
constexpr size_t BATCH_FILE_LIMIT = 1 << 20;

// The five texts of a definition, in the order they are stored.
struct BatchFields {
    std::string program;           // options.program: the program as typed; never expanded
    std::string arguments;         // options.arguments: expanded before the run
    std::string workingDirectory;  // options.working_directory: expanded; empty = inherit
    std::string environment;       // options.environment: NAME=VALUE;NAME=VALUE, not expanded
    std::string stdinFile;         // options.stdin: expanded; empty = no standard input
};

// Outcome of reading a .cvbatch file. On failure errorText is libconfig's own text (or the
// C library's when the file cannot be opened) and errorLine the line of a syntax error (0
// when there is none). On success each of the five values is its text, or nullopt when the
// file lacks it or holds a setting of another type there.
struct BatchReadResult {
    bool ok = false;
    std::string errorText;
    int errorLine = 0;
    std::optional<std::string> program;
    std::optional<std::string> arguments;
    std::optional<std::string> workingDirectory;
    std::optional<std::string> environment;
    std::optional<std::string> stdinFile;
};

class BatchDefinition {
  public:
    // A fresh tree: the group options with the five settings as empty strings.
    BatchDefinition();
    ~BatchDefinition();
    BatchDefinition(const BatchDefinition&) = delete;
    BatchDefinition& operator=(const BatchDefinition&) = delete;

    // Reads a .cvbatch file. A file that parses replaces the whole tree; a syntax error
    // leaves in the tree the settings read before the error; a file that cannot be opened,
    // or a folder, leaves the tree as it was, as does a file larger than BATCH_FILE_LIMIT
    // (refused unread). Files with CR LF line ends read the same. regularFileOnly: a FIFO
    // or a device is refused without waiting for a writer (the window must never block on
    // a file); otherwise it is read as it comes (--run <(generator) works).
    BatchReadResult Read(const char* path, bool regularFileOnly = false);

    // Stores the five texts into the settings that exist and are strings; a setting the
    // tree lacks is not added, one of another type is left as it is.
    void CopyIntoTree(const BatchFields& fields);

    // Writes the tree with libconfig's writer (LF line ends). The file is written beside
    // its final name and renamed over it only when complete, so a failed save never leaves
    // a half-written file. On failure returns false and sets *reason (the C library's
    // text) when reason is not null. The tree is unchanged either way.
    bool Write(const char* path, std::string* reason = nullptr) const;

    // Writes the tree in the same layout into an open stream (the batch log). The stream
    // stays open and belongs to the caller.
    void WriteToLog(FILE* stream) const;

    // The tree itself, for reading only; it belongs to the definition.
    const config_t* Tree() const { return &tree_; }

  private:
    config_t tree_;
};
