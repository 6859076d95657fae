// Replacement of ill-formed UTF-8 by U+FFFD, one per maximal subpart.
#include "report/utf8_repair.h"

#include <cstdint>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of a sequence that lead begins and the range of its second byte; 0 when
// lead begins no sequence.
struct Lead {
    int length;
    uint8_t low;
    uint8_t high;
};

Lead LeadOf(uint8_t byte) {
    if (byte < 0x80) return {1, 0, 0};
    if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
    if (byte == 0xE0) return {3, 0xA0, 0xBF};
    if (byte == 0xED) return {3, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
    if (byte == 0xF0) return {4, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
    if (byte == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::string RepairUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        Lead lead = LeadOf(static_cast<uint8_t>(bytes[at]));
        if (lead.length == 0) {
            text += kReplacement;
            ++at;
            continue;
        }
        // good: how many bytes from at form a valid prefix of the sequence.
        int good = 1;
        while (good < lead.length && at + good < bytes.size()) {
            auto byte = static_cast<uint8_t>(bytes[at + good]);
            uint8_t low = good == 1 ? lead.low : 0x80, high = good == 1 ? lead.high : 0xBF;
            if (byte < low || byte > high) break;
            ++good;
        }
        if (good == lead.length)
            text.append(bytes.substr(at, good));
        else
            text += kReplacement;
        at += good;
    }
    return text;
}
