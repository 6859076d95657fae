// Pattern matching for option values and message filters: extended shell patterns over
// printable copies of pattern and text, and "*LIST:" files of patterns.
#pragma once
#include <cstddef>

// Nonzero when the text matches; a malformed pattern counts as a match.
int MatchPattern(const char* pattern, const char* text, size_t patternLength, size_t textLength);
