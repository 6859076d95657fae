// Fuzz target for name patterns: a pattern (first line, at most 255 characters) against a
// stored name (second line, at most 256), and the rest of the input as a *LIST: file of
// patterns against the same name. The first byte picks the forms.
#include <cstdlib>
#include <string>

#include "frame/match_pattern.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t forms = input.Byte();
    const std::string pattern(input.Line().substr(0, 255));
    const std::string name(input.Line().substr(0, 256));
    if (forms & 1) MatchPattern(pattern.c_str(), name.data(), pattern.size(), name.size());
    if (forms & 2) {
        const std::string list = "*LIST:" + WriteScratchFile("patterns", input.Rest());
        MatchPattern(list.c_str(), name.data(), list.size(), name.size());
    }
    return 0;
}
