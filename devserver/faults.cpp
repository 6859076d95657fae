// Parsing and selecting the development server's faults.
#include "devserver/faults.h"

#include <cstdlib>

namespace {

constexpr uint32_t PAYLOAD_SIZE_LIMIT = 16u << 20;
// A stall is a delay longer than any client waits: the request is read and never answered.
constexpr uint32_t STALL_MILLISECONDS = 24u * 60 * 60 * 1000;

struct KindName {
    const char* name;
    FaultKind kind;
    bool needsValue;
};

constexpr KindName kKinds[] = {
    {"close-mid-header", FaultKind::CloseMidHeader, false},
    {"short-length", FaultKind::ShortLength, false},
    {"huge-length", FaultKind::HugeLength, false},
    {"close-mid-payload", FaultKind::CloseMidPayload, false},
    {"bad-payload-length", FaultKind::BadPayloadLength, false},
    {"bad-count", FaultKind::BadCount, false},
    {"bad-compression", FaultKind::BadCompression, false},
    {"wrong-expansion", FaultKind::WrongExpansion, false},
    {"bad-crc", FaultKind::BadCrc, false},
    {"bad-size", FaultKind::BadSize, false},
    {"bad-section-length", FaultKind::BadSectionLength, false},
    {"endless-sections", FaultKind::EndlessSections, false},
    {"rc", FaultKind::ResultCode, true},
    {"payload-size", FaultKind::PayloadSize, true},
    {"delay", FaultKind::Delay, true},
    {"stall", FaultKind::Delay, false},
};

bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    *value = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
    return true;
}

}  // namespace

bool ParseFault(const std::string& text, Fault* fault, std::string* error) {
    std::string body = text;
    Fault parsed;
    parsed.text = text;
    const size_t at = body.find('@');
    if (at != std::string::npos) {
        std::string when = body.substr(at + 1);
        body.resize(at);
        if (!when.empty() && when.back() == '+') {
            parsed.andLater = true;
            when.pop_back();
        }
        if (!ParseNumber(when, &parsed.request) || parsed.request == 0) {
            *error = "request number after '@' must be 1 or more: " + text;
            return false;
        }
    }
    std::string value;
    const size_t equals = body.find('=');
    if (equals != std::string::npos) {
        value = body.substr(equals + 1);
        body.resize(equals);
    }
    for (const KindName& kind : kKinds) {
        if (body != kind.name) continue;
        if (!kind.needsValue && equals != std::string::npos) {
            *error = std::string("fault ") + kind.name + " takes no value: " + text;
            return false;
        }
        if (kind.needsValue && !ParseNumber(value, &parsed.value)) {
            *error = std::string("fault ") + kind.name + " needs a number: " + text;
            return false;
        }
        if (kind.kind == FaultKind::ResultCode && parsed.value > 255) {
            *error = "result code must be 0 to 255: " + text;
            return false;
        }
        if (kind.kind == FaultKind::PayloadSize && parsed.value > PAYLOAD_SIZE_LIMIT) {
            *error =
                "payload size must be at most " + std::to_string(PAYLOAD_SIZE_LIMIT) + ": " + text;
            return false;
        }
        parsed.kind = kind.kind;
        if (body == "stall") parsed.value = STALL_MILLISECONDS;
        *fault = parsed;
        return true;
    }
    *error = "unknown fault: " + text;
    return false;
}

std::vector<Fault> FaultPlan::For(uint32_t requestNumber) const {
    std::vector<Fault> active;
    for (const Fault& fault : faults_) {
        const bool applies = fault.request == 0 || fault.request == requestNumber ||
                             (fault.andLater && requestNumber >= fault.request);
        if (applies) active.push_back(fault);
    }
    return active;
}

bool HasFault(const std::vector<Fault>& faults, FaultKind kind, uint32_t* value) {
    for (const Fault& fault : faults) {
        if (fault.kind != kind) continue;
        if (value != nullptr) *value = fault.value;
        return true;
    }
    return false;
}

const char* FaultKindsHelp() {
    return "  close-mid-header     send part of the response header, then close\n"
           "  short-length         declare a total length of 43\n"
           "  huge-length          declare an absurd total length, then close\n"
           "  close-mid-payload    send the header and half the payload, then close\n"
           "  bad-payload-length   PayloadLength beyond the payload sent\n"
           "  bad-count            Count x Length beyond the payload\n"
           "  bad-compression      a payload marked compressed that does not inflate\n"
           "  wrong-expansion      a compressed payload whose Expansion is off by one\n"
           "  bad-crc              List-File items with a wrong CRC-32\n"
           "  bad-size             List-File items with a wrong size\n"
           "  bad-section-length   Download-File section length beyond the payload\n"
           "  endless-sections     Download-File answers full sections for ever\n"
           "  rc=N                 answer with result code N and no payload\n"
           "  payload-size=N       cut or zero-fill the answer's payload to N bytes\n"
           "  delay=MS             wait MS milliseconds before answering\n"
           "  stall                read the request and never answer it\n";
}
