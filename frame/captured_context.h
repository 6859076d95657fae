// For the frame's own tests: a real program context whose log lines go to a temporary
// file, read back as "<number><letter> <text>" entries (time stamp left out).
#pragma once
#include <cstdio>
#include <regex>
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
        static const std::regex line("^(\\d{3,})([EWIND])-\\d\\d:\\d\\d:\\d\\d (.*)$");
        std::vector<std::string> entries;
        std::string raw = Raw();
        size_t start = 0;
        while (start < raw.size()) {
            size_t end = raw.find('\n', start);
            if (end == std::string::npos) end = raw.size();
            std::string text = raw.substr(start, end - start);
            std::smatch match;
            if (std::regex_match(text, match, line))
                entries.push_back(match[1].str() + match[2].str() + " " + match[3].str());
            else
                entries.push_back(text);
            start = end + 1;
        }
        return entries;
    }

    ProgramContext context;

  private:
    FILE* log_;
};
