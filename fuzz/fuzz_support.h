// What the fuzz targets share: taking an input apart, a scratch folder for the parsers
// that read files, and a program context whose messages go nowhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/program_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Reads an input front to back; past its end every read gives zeros or nothing.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte();
    uint32_t Number32();  // little-endian
    // The next count bytes, or what is left.
    std::string_view Take(size_t count);
    // Up to the next newline (which is consumed), or the rest.
    std::string_view Line();
    std::string_view Rest() { return Take(size_ - at_); }
    size_t Left() const { return size_ - at_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A folder of this process's own, on tmpfs when there is one (the targets write files on
// every run), removed at exit.
const std::string& ScratchFolder();
// Writes data to ScratchFolder()/name and returns the path.
std::string WriteScratchFile(const std::string& name, std::string_view data);
// Removes everything inside folder, keeping the folder itself.
void ClearFolder(const std::string& folder);
// A socket pair whose reading end (the first) holds data and then the end of the stream;
// data past what the socket buffer takes is dropped. Both ends close-on-exec.
void FilledSocketPair(std::string_view data, int ends[2]);

// A program context whose Message runs the frame's real message formatting and filters
// into /dev/null; no crash handler, no interrupt thread (the fuzzer has its own).
ProgramContext* QuietContext();
