// Start-up, identity, banner, completion and interrupt of a command program.
#include <arpa/inet.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/value_format.h"
#include "frame/arguments.h"
#include "frame/configuration.h"
#include "frame/documentation.h"
#include "frame/notification.h"
#include "frame/password.h"
#include "frame/program_context.h"
#include "frame/syslog_sink.h"
#include "platform/crash.h"
#include "platform/interrupt.h"
#include "platform/process_io.h"
#include "platform/system_info.h"
#include "platform/terminal.h"

ProgramContext* CurrentContext = nullptr;

namespace {
// An interrupted run ends as the shell reports a killed one (128 + the signal), so a
// scheduler never takes it for a success.
void OnInterruptSignal(int signalNumber) {
    ProgramContext* context = CurrentContext;
    // Held until the process ends, so that no other line follows this one.
    context->lock.mutex.lock();
    Message(context, MSG_NOTICE, 1, "Control-C Entered Program Terminating");
    if (context->OnInterrupt != nullptr) context->OnInterrupt(context);
    fflush(nullptr);
    _exit(128 + signalNumber);
}

int FormatInto(char* buffer, size_t size, const char* format, va_list arguments) ZYMB_PRINTF(3, 0);
int FormatInto(char* buffer, size_t size, const char* format, va_list arguments) {
    int length = vsnprintf(buffer, size, format, arguments);
    if (length < 0) return 0;
    return length >= static_cast<int>(size) ? static_cast<int>(size) - 1 : length;
}
}  // namespace

int InitProgramContext(ProgramContext* context) {
    CurrentContext = context;
    Platform_InstallCrashHandler("XNP10");
    // A cleared record: every field zero or none, the lock's mutex new.
    context->~ProgramContext();
    new (context) ProgramContext{};
    context->out = stderr;
    context->startTime = static_cast<int64_t>(time(nullptr));
    const MessageSink progressSink = ContextSink(context);
    Progress_Init(&context->progress, &progressSink, 60);
    memcpy(context->levelLetters, "EWIND", 5);
    static const int32_t severities[5] = {3, 4, 5, 6, 7};
    static const int32_t colours[5] = {4, 8, 8, 2, 1};
    memcpy(context->levelSeverities, severities, sizeof severities);
    memcpy(context->levelColours, colours, sizeof colours);
    context->beep = getenv("ZYMBBEEP") != nullptr ? 1 : 0;

    context->OnInterrupt = nullptr;

    context->console = STDERR_FILENO;
    context->consoleInfo.isTerminal = Platform_IsTerminal(STDERR_FILENO) ? 1 : 0;
    InitContextLock(&context->lock);  // before the interrupt thread can use it
    Platform_StartInterruptThread(OnInterruptSignal);
    config_init(&context->config);
    if (!context->consoleInfo.isTerminal) context->flags |= CTX_NOT_CONSOLE;
    ProcessIo io;
    context->jobObject = Platform_ReadProcessIo(&io) ? 1 : -1;
    return 1;
}

int SetIdentity(ProgramContext* context, const char* buildDate, const char* buildTime,
                const char* legalNotice, const char* programName, const char* messagePrefix,
                const char* description) {
    SetUpStandardError(context, programName);
    if (getenv("ZYMBINETD") != nullptr) DescribeInetdPeer(context);
    context->buildDate = buildDate;
    context->buildTime = buildTime;
    context->legalNotice = legalNotice;
    context->programName = programName;
    context->description = description;
    snprintf(context->messagePrefix, sizeof context->messagePrefix, "%.5s",
             messagePrefix != nullptr ? messagePrefix : "");
    if (getenv("DOCBOOK") != nullptr) WriteDocumentation(context);
    return 0;
}

int Begin(ProgramContext* context, const char** configPath) {
    if ((context->flags & CTX_SYSLOG) != 0)
        Syslog_Open(context->programName, context->syslogFacility);

    Message(context, MSG_INFO, 1, "%s %s", context->programName, context->legalNotice);
    Message(context, MSG_INFO, 2, "Compiled %s at %s", context->buildDate, context->buildTime);
    Message(context, MSG_NOTICE, 10, "%s", context->description);
    PlatformDescription platform;
    DescribePlatform(&platform);
    Message(context, MSG_INFO, 6, "Running Under %s (%s %s) on platform %s", platform.systemName,
            platform.buildText, platform.versionText, platform.processorText);
    Message(context, MSG_INFO, 0, htonl(1) == 1 ? "Host is Big Endian" : "Host is Little Endian");
    Message(context, MSG_INFO, 0, "Host is ASCII");
    Message(context, MSG_INFO, 0, "Binary is 64 bit");
    char path[257];
    if (getcwd(path, sizeof path) != nullptr)
        Message(context, MSG_INFO, 0, "Current Working Directory is %s", path);
    if (Platform_ProgramPath(path, sizeof path))
        Message(context, MSG_INFO, 0, "Executing Module is %s", path);
    char today[128];
    time_t start = static_cast<time_t>(context->startTime);
    struct tm local;
    if (localtime_r(&start, &local) != nullptr &&
        strftime(today, sizeof today, "%A, %B %d, %Y", &local) != 0)
        Message(context, MSG_INFO, 4, "Today is %s", today);
    char host[256];
    if (gethostname(host, sizeof host) == 0) {
        host[sizeof host - 1] = 0;
        Message(context, MSG_INFO, 5, "Running on %s", host);
    }
    Message(context, MSG_INFO, 6, "Process ID %d", static_cast<int>(getpid()));

    if (context->options != nullptr) ReadArguments(context);
    if (configPath != nullptr) return ReadConfiguration(context, *configPath);
    return 1;
}

int SetStatusText(ProgramContext* context, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = FormatInto(context->statusText, sizeof context->statusText, format, arguments);
    va_end(arguments);
    return length;
}

int SetNotes(ProgramContext* context, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = FormatInto(context->notesText, sizeof context->notesText, format, arguments);
    va_end(arguments);
    return length;
}

int IsOptionSet(char letter) {
    ProgramContext* context = CurrentContext;
    if (context == nullptr || context->options == nullptr) return 0;
    int low = 0, high = context->optionCount - 1;
    unsigned char wanted = static_cast<unsigned char>(letter);
    while (low <= high) {
        int middle = (low + high) / 2;
        unsigned char found = static_cast<unsigned char>(context->options[middle].letter);
        if (found == wanted) return (context->options[middle].flags & OPT_SET) != 0 ? 1 : 0;
        if (found < wanted)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return 0;
}

void Complete(ProgramContext* context, int status) {
    if (context->options != nullptr) {
        for (OptionEntry* row = context->options; row->letter != 0; ++row) {
            if ((row->flags & OPT_ALLOCATED) != 0 && row->value != nullptr) {
                free(const_cast<char*>(*row->value));
                *row->value = nullptr;
                row->flags &= ~OPT_ALLOCATED;
            }
        }
    }
    const char* suffix = nullptr;
    if (context->configLoaded != 0 &&
        config_lookup_string(&context->config, "options.stdout.suffix", &suffix))
        WriteConfiguredText(suffix);

    Message(context, MSG_INFO, 900, "Program Complete");
    int64_t elapsed = static_cast<int64_t>(time(nullptr)) - context->startTime;
    if (elapsed < 0) elapsed = 0;
    unsigned minutes = static_cast<unsigned>(elapsed / 60),
             seconds = static_cast<unsigned>(elapsed % 60);
    Message(context, MSG_INFO, 901, "Elapsed time %u minutes and %u seconds", minutes, seconds);
    SendEndNotification(context, status, minutes, seconds);
    // Only a console whose colours the log may have changed needs them set back.
    if ((context->flags & (CTX_NO_COLOR | CTX_NOT_CONSOLE)) == 0 &&
        ((context->flags & CTX_TERMINAL) != 0 || (context->flags & CTX_STDERR_FILE) == 0))
        Platform_ResetTextAttribute(context->console);

    ProcessIo io;
    if (context->jobObject > 0 && Platform_ReadProcessIo(&io)) {
        Message(context, MSG_INFO, 0, "Total Read Operations %u (%s bytes)",
                static_cast<unsigned>(io.readOperations), FormatCount(io.readBytes, 0));
        Message(context, MSG_INFO, 0, "Total Write Operations %u (%s bytes)",
                static_cast<unsigned>(io.writeOperations), FormatCount(io.writeBytes, 0));
    }
    context->jobObject = -1;

    uint32_t crc = context->logCrc;
    uint32_t bytes = context->bytesWritten;
    uint32_t records = context->recordsWritten;
    unsigned long continued = crc32(crc, reinterpret_cast<const Bytef*>("DOF"), 3);
    Message(context, MSG_INFO, 991, "CRC values for this session: %#lx (%#lx)",
            static_cast<unsigned long>(crc), continued);
    Message(context, MSG_INFO, 992, "Number of records written: %s", FormatCount(records, 0));
    Message(context, MSG_INFO, 993, "Number of bytes written: %s", FormatCount(bytes, 0));
    Message(context, MSG_INFO, 999, "Program ended with RC=%u (%s)", static_cast<unsigned>(status),
            status == 0 ? "Success" : "Failure");

    // Lines still going out from the interrupt thread must not meet a closed stream; the
    // lock is held until the process ends.
    context->lock.mutex.lock();
    if ((context->flags & CTX_STDERR_FILE) != 0) {
        fclose(context->out);
        context->out = stderr;
        context->flags &= ~CTX_STDERR_FILE;
    }
    fflush(nullptr);
    exit(status);
}
