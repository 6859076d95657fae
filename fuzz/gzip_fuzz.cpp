// Fuzz target for unpacking a downloaded file: the input, as the stored content, is
// unpacked whole from a file and again as a stream fed in pieces (the first input byte
// sets the piece size), as the download does beside the transfer. Both ways must agree:
// the same outcome and, when they succeed, the same bytes; a failure leaves no file.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "download/unpack.h"
#include "fuzz/fuzz_support.h"

namespace {

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t piece = size_t{input.Byte()} * 61 + 1;
    const std::string_view stored = input.Rest();
    const std::string packed = WriteScratchFile("packed", stored);
    const std::string whole = ScratchFolder() + "/whole";
    const std::string streamed = ScratchFolder() + "/streamed";

    const UnpackResult fromFile = UnpackFile(packed.c_str(), whole.c_str());
    UnpackResult fromStream{false, UnpackResult::NONE, ""};
    {
        StreamingUnpack unpacking;
        if (!unpacking.Start(streamed.c_str())) abort();
        for (size_t at = 0; at < stored.size(); at += piece) {
            const std::string_view part = stored.substr(at, piece);
            unpacking.Feed(reinterpret_cast<const uint8_t*>(part.data()), part.size());
        }
        fromStream = unpacking.Finish();
    }
    if (fromFile.ok != Exists(whole) || fromStream.ok != Exists(streamed)) abort();
    if (fromFile.ok != fromStream.ok) abort();
    if (fromFile.ok && Content(whole) != Content(streamed)) abort();
    ClearFolder(ScratchFolder());
    return 0;
}
