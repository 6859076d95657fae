// Pattern matching for option values and message filters: extended shell patterns over
// printable copies of pattern and text, and "*LIST:" files holding one pattern a line.
#include "frame/match_pattern.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/value_format.h"
#include "frame/extended_match.h"

namespace {
constexpr char LIST_PREFIX[] = "*LIST:";
constexpr size_t LIST_PREFIX_LENGTH = sizeof LIST_PREFIX - 1;
constexpr size_t LIST_LINE_LIMIT = 1023;

struct FreeText {
    void operator()(char* text) const { free(text); }
};
using OwnedText = std::unique_ptr<char, FreeText>;

struct CloseFile {
    void operator()(FILE* file) const { fclose(file); }
};
using OwnedFile = std::unique_ptr<FILE, CloseFile>;

int MatchPrintable(const char* pattern, const char* text, size_t patternLength, size_t textLength) {
    if (patternLength == 0 && textLength == 0) return 1;
    // Control bytes become hexadecimal digits in both, so a tab in a file name is matched
    // by "09" in the pattern and a pattern never meets raw control characters.
    OwnedText printablePattern(MakePrintable(pattern, patternLength));
    OwnedText printableText(MakePrintable(text, textLength));
    if (!printablePattern || !printableText) return 0;
    // Our own matcher, not fnmatch: fnmatch backtracks through extended groups, and a
    // pattern from a web form could keep it busy for minutes on one name.
    const char* printable = printablePattern.get();
    const char* printedText = printableText.get();
    return ExtendedMatch(printable, strlen(printable), printedText, strlen(printedText)) ? 1 : 0;
}

// Opens a list file; a directory does not count as one.
OwnedFile OpenListFile(const std::string& name) {
    OwnedFile file(fopen(name.c_str(), "re"));
    struct stat status;
    if (file && (fstat(fileno(file.get()), &status) != 0 || S_ISDIR(status.st_mode))) file.reset();
    return file;
}

int MatchListLine(std::string& line, const char* text, size_t textLength) {
    size_t end = line.find_first_of("\r\n");
    if (end != std::string::npos) line.resize(end);
    return MatchPrintable(line.c_str(), text, strlen(line.c_str()), textLength);
}

// Matches the text against each line of the list file; no match when no line matches.
int MatchListLines(FILE* file, const char* text, size_t textLength) {
    std::string line;
    bool pending = false;  // characters read since the last line end
    for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
        if (c == '\n') {
            if (MatchListLine(line, text, textLength)) return 1;
            line.clear();
            pending = false;
            continue;
        }
        pending = true;
        // Long lines are cut, not split: the rest of a line is never a pattern of its own.
        if (line.size() < LIST_LINE_LIMIT) line.push_back(static_cast<char>(c));
    }
    return pending ? MatchListLine(line, text, textLength) : 0;
}
}  // namespace

int MatchPattern(const char* pattern, const char* text, size_t patternLength, size_t textLength) {
    if (patternLength == 0 && textLength == 0) return 1;
    if (patternLength > LIST_PREFIX_LENGTH &&
        strncmp(pattern, LIST_PREFIX, LIST_PREFIX_LENGTH) == 0) {
        const char* name = pattern + LIST_PREFIX_LENGTH;
        std::string fileName(name, strnlen(name, patternLength - LIST_PREFIX_LENGTH));
        if (OwnedFile file = OpenListFile(fileName))
            return MatchListLines(file.get(), text, textLength);
    }
    return MatchPrintable(pattern, text, patternLength, textLength);
}
