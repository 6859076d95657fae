// The message log: one line per message to the console, standard error or the redirect
// file, optionally to syslog, with counters and a running CRC-32 of everything written.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/value_format.h"
#include "frame/match_pattern.h"
#include "frame/program_context.h"
#include "frame/syslog_sink.h"
#include "platform/io.h"
#include "platform/new_file.h"
#include "platform/terminal.h"

namespace {
bool Suppressed(ProgramContext* context, const char* text) {
    config_setting_t* filters = context->messageFilters;
    if (filters == nullptr) return false;
    int count = config_setting_length(filters);
    for (int i = 0; i < count; ++i) {
        const char* pattern = nullptr;
        config_setting_t* element = config_setting_get_elem(filters, static_cast<unsigned>(i));
        if (element != nullptr && config_setting_lookup_string(element, "filter", &pattern) &&
            MatchPattern(pattern, text, strlen(pattern), strlen(text)))
            return true;
    }
    return false;
}

// toConsole false: the line goes to the redirect file, syslog and a standard error that is
// no terminal as ever, and is counted, but the console shows a progress line instead.
int WriteMessage(ProgramContext* context, int level, unsigned number, bool toConsole,
                 const char* format, va_list arguments) ZYMB_PRINTF(5, 0);
int WriteMessage(ProgramContext* context, int level, unsigned number, bool toConsole,
                 const char* format, va_list arguments) {
    std::lock_guard<std::recursive_mutex> guard(context->lock.mutex);
    unsigned index = static_cast<unsigned>(level) > 4 ? 4 : static_cast<unsigned>(level);
    uint32_t flags = context->flags;
    // The console's lines go out whole, never on top of a progress line.
    if (toConsole && context->progressLineShown != 0) {
        Platform_ClearLine(context->console);
        context->progressLineShown = 0;
    }
    if (toConsole && context->beep != 0 && index < 2 && (flags & CTX_NOT_CONSOLE) == 0)
        Platform_Bell(context->console);
    ++context->recordsWritten;
    bool colour = toConsole && (flags & (CTX_NO_COLOR | CTX_NOT_CONSOLE)) == 0 &&
                  ((flags & CTX_TERMINAL) != 0 || (flags & CTX_STDERR_FILE) == 0);
    if (colour) Platform_SetTextAttribute(context->console, context->levelColours[index]);

    char timeText[16] = "";
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) != nullptr)
        strftime(timeText, sizeof timeText, "%H:%M:%S", &local);
    char text[MESSAGE_TEXT_LIMIT + 1];
    vsnprintf(text, sizeof text, format, arguments);

    if (index == MSG_ERROR && context->statusText[0] == 0)
        snprintf(context->statusText, sizeof context->statusText, "%s", text);

    if (Suppressed(context, text)) {
        if (colour) Platform_ResetTextAttribute(context->console);
        return 0;
    }
    if ((flags & CTX_SYSLOG) != 0)
        Syslog_Send(context->levelSeverities[index], text, context->programName,
                    context->syslogFacility);

    char line[MESSAGE_LINE_LIMIT + 1];
    int length = snprintf(line, sizeof line, "%s%3.3d%c-%s %s\n", context->messagePrefix,
                          static_cast<int>(number), context->levelLetters[index], timeText, text);
    if (length < 0) length = 0;
    if (length > static_cast<int>(MESSAGE_LINE_LIMIT)) length = MESSAGE_LINE_LIMIT;
    size_t size = static_cast<size_t>(length);

    if ((flags & (CTX_STDERR_FILE | CTX_NOT_CONSOLE)) != 0) {
        fwrite(line, 1, size, context->out);
        fflush(context->out);
    } else if (toConsole) {
        WriteAll(context->console, line, size);
    }
    if (toConsole && (flags & CTX_TERMINAL) != 0 && (flags & CTX_STDERR_FILE) != 0)
        WriteAll(context->console, line, size);

    context->logCrc = static_cast<uint32_t>(
        crc32(context->logCrc, reinterpret_cast<const Bytef*>(line), static_cast<uInt>(size)));
    if (colour) Platform_ResetTextAttribute(context->console);
    context->bytesWritten += static_cast<uint32_t>(size);
    return length;
}

}  // namespace

int VMessage(ProgramContext* context, int level, unsigned number, const char* format,
             va_list arguments) {
    return WriteMessage(context, level, number, true, format, arguments);
}

int VMessageBesideProgress(ProgramContext* context, int level, unsigned number, const char* format,
                           va_list arguments) {
    return WriteMessage(context, level, number, false, format, arguments);
}

int Message(ProgramContext* context, int level, unsigned number, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = VMessage(context, level, number, format, arguments);
    va_end(arguments);
    return length;
}

MessageSink ContextSink(ProgramContext* context) {
    return MessageSink{
        .owner = context,
        .write =
            [](void* owner, int level, unsigned number, const char* text) {
                ProgramContext* target = static_cast<ProgramContext*>(owner);
                Message(target, level, number, "%s", text);
            },
    };
}

void SetUpStandardError(ProgramContext* context, const char* programName) {
    if (getenv("ZYMBSTDERRNOCOLOR") != nullptr) context->flags |= CTX_NO_COLOR;
    if (getenv("ZYMBSTDERRTERMINAL") != nullptr) context->flags |= CTX_TERMINAL;
    const char* directory = getenv("ZYMBSTDERRDIR");
    if (directory == nullptr) return;

    struct stat status;
    if (stat(directory, &status) != 0) {
        Message(context, MSG_ERROR, 0, "Variable ZYMBSTDERRDIR set. Directory error '%s' (%s)",
                directory, strerror(errno));
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        Message(context, MSG_ERROR, 0, "Variable ZYMBSTDERRDIR set. '%s' is not a directory",
                directory);
        return;
    }
    char stamp[32];
    FormatLocalTime(static_cast<time_t>(context->startTime), "%Y%m%d%H%M%S", stamp, sizeof stamp);
    snprintf(context->stderrFileName, sizeof context->stderrFileName, "%.240s-%s",
             programName != nullptr ? programName : "", stamp);

    size_t directoryLength = strlen(directory);
    bool hasSeparator = directoryLength > 0 && directory[directoryLength - 1] == '/';
    char path[4096 + 300];
    snprintf(path, sizeof path, "%s%s%s", directory, hasSeparator ? "" : "/",
             context->stderrFileName);
    // A new file only, never through a link planted under the name, and not for every
    // local user to read; a run started in the same second gets a numbered name.
    int fd = Platform_CreateNewFile(path, sizeof path, 0640);
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        int cause = errno;
        if (fd >= 0) close(fd);
        Message(context, MSG_ERROR, 0,
                "Variable ZYMBSTDERRDIR set. Unable to open '%s' for stderr (%s)", path,
                strerror(cause));
        return;
    }
    const char* name = strrchr(path, '/');
    snprintf(context->stderrFileName, sizeof context->stderrFileName, "%s",
             name != nullptr ? name + 1 : path);
    context->out = file;
    fprintf(stderr, "Variable ZYMBSTDERRDIR set. Writing to '%s'\n", path);
    context->flags |= CTX_STDERR_FILE;
}

void DescribeInetdPeer(ProgramContext* context) {
    char description[256];
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(0, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        snprintf(description, sizeof description, "getpeername(%s)", strerror(errno));
    } else {
        char host[1025], service[32];
        int result = getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host,
                                 service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
        if (result != 0)
            snprintf(description, sizeof description, "getnameinfo(%s)", gai_strerror(result));
        else if (peer.ss_family == AF_INET6)
            snprintf(description, sizeof description, "[%s]:%s", host, service);
        else
            snprintf(description, sizeof description, "%s:%s", host, service);
    }
    Message(context, MSG_NOTICE, 0, "Running under inetd. Connection from %s", description);
}
