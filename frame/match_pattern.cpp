// Pattern matching (plain extended fnmatch until list files and printable copies land).
#include "frame/match_pattern.h"

#include <fnmatch.h>

#include <string>

int MatchPattern(const char* pattern, const char* text, size_t patternLength, size_t textLength) {
    std::string p(pattern, patternLength), t(text, textLength);
    return fnmatch(p.c_str(), t.c_str(), FNM_EXTMATCH) != FNM_NOMATCH;
}
