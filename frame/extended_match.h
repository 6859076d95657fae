// Extended shell pattern matching (the fnmatch rules with extended patterns, no flags)
// in bounded time: every pattern element gets, for each text position, the set of
// positions where it can end, computed once. Time grows with pattern length times the
// square of the text length at worst, never exponentially as with backtracking.
#pragma once
#include <cstddef>

// Beyond these a pattern is refused: within them any pattern of 255 characters takes a
// few milliseconds at most against any text of 512 (bench/match_bench).
constexpr size_t EXTENDED_GROUP_LIMIT = 16;
constexpr size_t EXTENDED_DEPTH_LIMIT = 8;

// The reason a pattern is refused (too many extended groups, or nested too deep), or
// none when it may be used.
const char* ExtendedPatternRefusal(const char* pattern, size_t patternLength);

// True when text matches pattern; false for a refused pattern. Both are plain byte
// strings of the given lengths.
// Malformed parts follow fnmatch: an unclosed bracket is a literal "[", an unclosed
// extended group leaves its operator an ordinary character, and a trailing backslash or
// an unknown character class matches nothing.
bool ExtendedMatch(const char* pattern, size_t patternLength, const char* text, size_t textLength);
