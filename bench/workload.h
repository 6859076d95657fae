// The benchmark's file: compressible text of a chosen size, stored as one gzip stream,
// and the check that an unpacked copy holds exactly that text.
#pragma once
#include <cstdint>
#include <string>

struct Workload {
    uint64_t size = 0;        // bytes of text before compression
    uint32_t crc = 0;         // CRC-32 of the text
    uint64_t packedSize = 0;  // bytes of the gzip file
};

// Writes `size` bytes of log-like text (the same text for the same size) as a gzip file
// at `gzipPath`, compressed at `level`. False with a reason when it cannot be written.
bool MakeWorkload(const std::string& gzipPath, uint64_t size, int level, Workload* workload,
                  std::string* error);

// True when the file at `path` has the workload's size and CRC-32.
bool MatchesWorkload(const std::string& path, const Workload& workload, std::string* why);
