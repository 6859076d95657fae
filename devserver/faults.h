// Misbehaviour on request: the faults the development server can be told to commit, per
// run or on one request of every connection, so that each client reaction is a test.
//
// A fault is written KIND[=VALUE][@N] or KIND[=VALUE][@N+]: without "@" it applies to
// every request, "@N" only to the N-th request of each connection (counting from 1),
// "@N+" to the N-th and every later one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class FaultKind {
    CloseMidHeader,    // send part of the response header, then close
    ShortLength,       // declare a total length of 43
    HugeLength,        // declare an absurd total length, then close
    CloseMidPayload,   // send the header and half the payload, then close
    BadPayloadLength,  // PayloadLength beyond the payload that is sent
    BadCount,          // Count x Length beyond the payload
    BadCompression,    // a payload marked compressed that does not inflate
    WrongExpansion,    // a compressed payload whose Expansion is off by one
    BadCrc,            // List-File items with a wrong CRC-32
    BadSize,           // List-File items with a wrong size
    BadSectionLength,  // Download-File section length field beyond the payload
    EndlessSections,   // Download-File answers full sections for ever
    ResultCode,        // answer with result code VALUE and no payload
    PayloadSize,       // cut or zero-fill the handler's payload to VALUE bytes
    Delay,             // wait VALUE milliseconds before answering ("stall": a whole day)
};

struct Fault {
    FaultKind kind;
    uint32_t value = 0;     // result code, milliseconds or bytes
    uint32_t request = 0;   // 0: every request; else the request number on a connection
    bool andLater = false;  // "@N+": request N and every later one
    std::string text;       // as written, for the log
};

// Parses one fault; false (with a reason in error) when the text is not a fault.
bool ParseFault(const std::string& text, Fault* fault, std::string* error);

// The faults that apply to the given request number of a connection.
class FaultPlan {
  public:
    void Add(const Fault& fault) { faults_.push_back(fault); }
    std::vector<Fault> For(uint32_t requestNumber) const;
    bool Empty() const { return faults_.empty(); }

  private:
    std::vector<Fault> faults_;
};

// The kinds and their spelling, for the usage text.
const char* FaultKindsHelp();

bool HasFault(const std::vector<Fault>& faults, FaultKind kind, uint32_t* value = nullptr);
