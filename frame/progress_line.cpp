// The progress line of a long transfer, drawn in place on the console.
#include "frame/progress_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "base/shown_text.h"
#include "platform/io.h"
#include "platform/terminal.h"

namespace {

constexpr int64_t REDRAW_INTERVAL = 100 * 1000 * 1000;  // nanoseconds

int64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// "512 B", "63.5 KiB", "97.9 MiB", "1.2 GiB".
void FormatBytes(char* text, size_t size, double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    unsigned unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    if (unit == 0)
        snprintf(text, size, "%.0f %s", bytes, units[unit]);
    else
        snprintf(text, size, "%.1f %s", bytes, units[unit]);
}

// "0:07", "12:34", "1:02:03".
void FormatTimeLeft(char* text, size_t size, double seconds) {
    unsigned long long whole = seconds < 0 ? 0 : static_cast<unsigned long long>(seconds + 0.5);
    if (whole >= 3600)
        snprintf(text, size, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        snprintf(text, size, "%llu:%02llu", whole / 60, whole % 60);
}

bool ShowsOnTerminal(const ProgramContext* context) {
    const uint32_t flags = context->flags;
    if ((flags & (CTX_NOT_CONSOLE | CTX_CGI)) != 0) return false;
    if ((flags & CTX_STDERR_FILE) != 0 && (flags & CTX_TERMINAL) == 0) return false;
    return (context->progress.flags & PROGRESS_SILENT) == 0;
}

}  // namespace

void ProgressLine_Format(char* text, int width, uint64_t done, uint64_t total,
                         double elapsedSeconds, const char* label) {
    char doneText[32], totalText[32], rateText[32], leftText[32];
    FormatBytes(doneText, sizeof doneText, static_cast<double>(done));
    const double rate = elapsedSeconds > 0 ? static_cast<double>(done) / elapsedSeconds : 0;
    std::string figures;
    char part[128];
    if (total != 0) {
        FormatBytes(totalText, sizeof totalText, static_cast<double>(total));
        const uint64_t shown = done > total ? total : done;
        snprintf(part, sizeof part, "%s of %s (%3u%%)", doneText, totalText,
                 static_cast<unsigned>(static_cast<double>(shown) * 100 / total));
    } else {
        snprintf(part, sizeof part, "%s", doneText);
    }
    figures = part;
    if (rate > 0) {
        FormatBytes(rateText, sizeof rateText, rate);
        figures += std::string(", ") + rateText + "/s";
        if (total != 0 && done < total) {
            FormatTimeLeft(leftText, sizeof leftText, static_cast<double>(total - done) / rate);
            figures += std::string(", ") + leftText + " left";
        }
    }
    if (label != nullptr && *label != 0) figures += std::string("  ") + label;
    if (width < 1) width = 1;
    snprintf(text, static_cast<size_t>(width) + 1, "%s", figures.c_str());
}

void ProgressLine_Begin(ProgressLine* line, ProgramContext* context, const char* label,
                        uint64_t total) {
    *line = ProgressLine{};
    line->context = context;
    line->active = ShowsOnTerminal(context);
    line->total = total;
    line->startTime = Now();
    // The label comes from the server: no control character of its own reaches the terminal.
    snprintf(line->label, sizeof line->label, "%s",
             ShownText(label != nullptr ? label : "").c_str());
}

int ProgressLine_Message(ProgressLine* line, int level, unsigned number, const char* format, ...) {
    ProgramContext* context = line->context;
    va_list arguments;
    va_start(arguments, format);
    if (line->active) {
        int length = VMessageBesideProgress(context, level, number, format, arguments);
        va_end(arguments);
        return length;
    }
    // Without a line on show, the message takes the usual road.
    char text[MESSAGE_TEXT_LIMIT + 1];
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return Message(context, level, number, "%s", text);
}

void ProgressLine_Update(ProgressLine* line, uint64_t done) {
    line->done = done;
    if (!line->active) return;
    const int64_t now = Now();
    const bool finished = line->total != 0 && done >= line->total;
    if (line->lastDrawn != 0 && !finished && now - line->lastDrawn < REDRAW_INTERVAL) return;
    line->lastDrawn = now;

    ProgramContext* context = line->context;
    // One column is left free: a line that fills the width wraps on some terminals.
    int width = Platform_TerminalColumns(context->console) - 1;
    if (width > 400) width = 400;
    char text[402];
    ProgressLine_Format(text, width, done, line->total,
                        static_cast<double>(now - line->startTime) / 1e9, line->label);
    std::string drawn = std::string("\r") + text + "\x1b[K";
    std::lock_guard<std::recursive_mutex> guard(context->lock.mutex);
    WriteAll(context->console, drawn.data(), drawn.size());
    context->progressLineShown = 1;
}

void ProgressLine_End(ProgressLine* line) {
    if (!line->active) return;
    ProgramContext* context = line->context;
    std::lock_guard<std::recursive_mutex> guard(context->lock.mutex);
    if (context->progressLineShown != 0) Platform_ClearLine(context->console);
    context->progressLineShown = 0;
    line->active = false;
}
