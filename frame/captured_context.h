// For the frame's own tests: a real program context whose log lines go to a temporary
// file, read back as "<number><letter> <text>" entries (time stamp left out).
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "frame/program_context.h"

class CapturedContext {
  public:
    CapturedContext() {
        InitProgramContext(&context);
        context.flags |= CTX_NOT_CONSOLE;
        log_ = tmpfile();
        context.out = log_;
        context.programName = "IntakeTest";
    }
    ~CapturedContext() {
        config_destroy(&context.config);
        fclose(log_);
        CurrentContext = nullptr;
    }
    CapturedContext(const CapturedContext&) = delete;
    CapturedContext& operator=(const CapturedContext&) = delete;

    // Every line written so far, as it stands in the file.
    std::string Raw() {
        fflush(log_);
        std::string text;
        rewind(log_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, log_)) > 0) text.append(buffer, n);
        fseek(log_, 0, SEEK_END);
        return text;
    }

    // "000E Value for argument -C is blank and a value is required"
    std::vector<std::string> Entries() {
        std::vector<std::string> entries;
        std::string raw = Raw();
        size_t start = 0;
        while (start < raw.size()) {
            size_t end = raw.find('\n', start);
            if (end == std::string::npos) end = raw.size();
            entries.push_back(Entry(raw.substr(start, end - start)));
            start = end + 1;
        }
        return entries;
    }

    // A line "<digits><letter>-HH:MM:SS <text>" as "<digits><letter> <text>"; other
    // lines as they are.
    static std::string Entry(const std::string& line) {
        size_t digits = 0;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
        const size_t time = digits + 2, text = time + 9;
        if (digits < 3 || line.size() < text ||
            std::string("EWIND").find(line[digits]) == std::string::npos ||
            line[digits + 1] != '-' || line[time + 2] != ':' || line[time + 5] != ':' ||
            line[time + 8] != ' ')
            return line;
        return line.substr(0, digits + 1) + " " + line.substr(text);
    }

    ProgramContext context;

  private:
    FILE* log_;
};
