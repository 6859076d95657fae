// match_bench: the extended pattern matcher against the worst names and patterns we know:
// names of 256 characters (512 once every byte is shown as two hexadecimal digits) and
// patterns of at most 255 characters built to make a backtracking matcher explode.
// Prints the fastest of several runs per case in CPU time of the thread (the machine may
// be shared); exits 1 when a case takes 10 ms or more.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/extended_match.h"

namespace {

std::string Repeat(const std::string& part, size_t limit) {
    std::string text;
    while (text.size() + part.size() <= limit) text += part;
    return text;
}

}  // namespace

int main() {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"256 x a", std::string(256, 'a')},
        {"512 printable (256 control bytes)", Repeat("0A", 512)},
    };
    // The deepest and the most groups a pattern may have.
    std::string nested;
    for (size_t i = 0; i < EXTENDED_DEPTH_LIMIT; ++i) nested += "*(";
    nested += "a";
    for (size_t i = 0; i < EXTENDED_DEPTH_LIMIT; ++i) nested += ")";
    nested += "b";
    std::string notNested;
    for (size_t i = 0; i < EXTENDED_DEPTH_LIMIT; ++i) notNested += "!(";
    notNested += "a*";
    for (size_t i = 0; i < EXTENDED_DEPTH_LIMIT; ++i) notNested += ")";
    auto Groups = [](const std::string& group, const std::string& filler) {
        std::string pattern;
        for (size_t i = 0; i < EXTENDED_GROUP_LIMIT; ++i) pattern += group;
        while (!filler.empty() && pattern.size() + filler.size() < 255) pattern += filler;
        return pattern + "b";
    };
    const std::vector<std::pair<std::string, std::string>> patterns = {
        {"+(a|aa) x2, then b", "+(a|aa)+(a|aa)b"},
        {"16 x +(a|aa), then *a", Groups("+(a|aa)", "*a")},
        {"16 x !(*a*), then *a", Groups("!(*a*)", "*a")},
        {"16 x !(), then ?*", Groups("!()", "?*")},
        {"*a repeated to 255", Repeat("*a", 254) + "b"},
        {"*(...) nested 8 deep", nested},
        {"!(...) nested 8 deep", notNested},
        {"16 x @(a|0|A|*), then *0", Groups("@(a|0|A|*)", "*0")},
    };
    // One more group, or one more level, is refused.
    for (const std::string& refused : {Groups("@(a)", "") + "@(a)", "@(" + nested + ")"})
        printf("refused: %s\n", ExtendedPatternRefusal(refused.data(), refused.size()));
    double worst = 0;
    printf("%-32s %-36s %10s\n", "pattern", "name", "CPU ms");
    for (const auto& [patternName, pattern] : patterns) {
        for (const auto& [nameName, name] : names) {
            double slowest = 1e9;
            for (int run = 0; run < 5; ++run) {
                timespec started, ended;
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &started);
                volatile bool matched =
                    ExtendedMatch(pattern.data(), pattern.size(), name.data(), name.size());
                (void)matched;
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ended);
                const double took =
                    (ended.tv_sec - started.tv_sec) * 1e3 + (ended.tv_nsec - started.tv_nsec) / 1e6;
                slowest = std::min(slowest, took);
            }
            worst = std::max(worst, slowest);
            printf("%-32s %-36s %10.3f\n", patternName.c_str(), nameName.c_str(), slowest);
        }
    }
    printf("slowest: %.3f ms (target: under 10 ms)\n", worst);
    return worst < 10.0 ? 0 : 1;
}
