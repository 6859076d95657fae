// The program context: the one record of a command program. It holds the identity,
// the log's output state and counters, the option table and argument state and the
// configuration document. The operations on it (Begin, SetIdentity, Message, GetPassword,
// Complete, ...) are plain functions that take the context; the one hook is OnInterrupt,
// which each program fills with its own clean-up. One static context per process;
// CurrentContext points at it.
//
// Results in the frame are 1 for success and 0 for failure; a failure is logged through
// Message where it is detected, so callers only pass the 0 on.
#pragma once
#include <libconfig.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "base/message_sink.h"
#include "base/progress.h"
#include "frame/context_lock.h"
#include "frame/options.h"

constexpr uint32_t CTX_SYSLOG = 0x2;        // messages also go to syslog
constexpr uint32_t CTX_STDERR_FILE = 0x4;   // log lines go to the redirect file
constexpr uint32_t CTX_CGI = 0x8;           // arguments came from a CGI request
constexpr uint32_t CTX_TERMINAL = 0x10;     // also the console, in colour, while redirected
constexpr uint32_t CTX_NO_COLOR = 0x20;     // console colours are never changed
constexpr uint32_t CTX_NOT_CONSOLE = 0x40;  // standard error is not a terminal
constexpr uint32_t CTX_USAGE_ERROR = 0x80;  // an argument named an option the program lacks

constexpr size_t MESSAGE_LINE_LIMIT = 599;  // characters of a whole log line

// The console as found at start-up.
struct ConsoleInfo {
    int isTerminal;  // standard error is a terminal; the start-up attributes are the reset
};

struct ProgramContext {
    int console;    // standard-error descriptor: console writes and colour changes
    int jobObject;  // 1 when the process's I/O accounting can be read, else -1
    ConsoleInfo consoleInfo;
    int32_t beep;
    char argumentPool[512];
    char statusText[256];
    char notesText[256];
    config_t config;
    uint32_t logCrc;
    uint32_t bytesWritten;
    const char* description;
    const char* legalNotice;
    const char* buildDate;
    const char* buildTime;
    const char* programName;
    char messagePrefix[6];
    int64_t startTime;
    uint32_t recordsWritten;
    char levelLetters[5];
    int32_t levelSeverities[5];
    int32_t levelColours[5];
    ContextLock lock;
    int32_t optionCount;
    OptionEntry* options;
    int32_t argc;
    char** argv;
    uint32_t errorCount;
    uint32_t flags;
    int32_t syslogFacility;
    config_setting_t* messageFilters;
    int32_t configLoaded;
    ProgressPoint progress;
    FILE* out;
    char stderrFileName[261];
    // A progress line stands on the console; the next line written there clears it first.
    int32_t progressLineShown;

    // What an interrupted run removes before it ends (a program's partial files); none by
    // default. Called on the interrupt thread with the context locked.
    void (*OnInterrupt)(ProgramContext* context);
};

extern ProgramContext* CurrentContext;

// Start-up: crash handler, cleared record, tables, console state, interrupt
// thread, empty configuration, lock, accounting. Returns 1.
int InitProgramContext(ProgramContext* context);

// Message with an argument list, for callers that forward their own arguments.
int VMessage(ProgramContext* context, int level, unsigned number, const char* format,
             va_list arguments) ZYMB_PRINTF(4, 0);

// A message that every sink receives except a console showing a progress line, which
// shows the progress instead (a line per step of a long transfer). Elsewhere it is VMessage.
int VMessageBesideProgress(ProgramContext* context, int level, unsigned number, const char* format,
                           va_list arguments) ZYMB_PRINTF(4, 0);

// A message sink that writes through the context's Message operation, for libraries that
// report through a sink of their own (progress points, the API client). The context must
// outlive every use of the sink.
MessageSink ContextSink(ProgramContext* context);

// The standard-error set-up of SetIdentity: colour switches and the redirect file, named
// after programName (the identity is stored only after this set-up).
void SetUpStandardError(ProgramContext* context, const char* programName);
// The "Running under inetd" line for the peer of standard input.
void DescribeInetdPeer(ProgramContext* context);

// The operations on the context.
int Begin(ProgramContext* context, const char** configPath);
int SetIdentity(ProgramContext* context, const char* buildDate, const char* buildTime,
                const char* legalNotice, const char* programName, const char* messagePrefix,
                const char* description);
int Message(ProgramContext* context, int level, unsigned number, const char* format, ...)
    ZYMB_PRINTF(4, 5);
int SetStatusText(ProgramContext* context, const char* format, ...) ZYMB_PRINTF(2, 3);
int SetNotes(ProgramContext* context, const char* format, ...) ZYMB_PRINTF(2, 3);
int IsOptionSet(char letter);
// Ends the process with status, after the completion lines.
void Complete(ProgramContext* context, int status) __attribute__((noreturn));
