// Fuzz target for what the download program makes of a List-File answer and the
// Download-File sections after it: the items go through list mode and the download's
// selection, and the sections, served by a stand-in for the exchange, through the section
// loop, its size and CRC checks and the unpacking beside the transfer, into a scratch
// folder.
//
// Input: item count (0 to 7), flags, generation index, the items (432 bytes each), then
// sections: result code, 3 bytes of length, that many payload bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/codes.h"
#include "api/exchange.h"
#include "api/file_list.h"
#include "api/file_transfer.h"
#include "api/session.h"
#include "download/download_mode.h"
#include "download/list_mode.h"
#include "fuzz/fuzz_support.h"

namespace {

FuzzInput* sections = nullptr;
int sectionsServed = 0;

// Answers each request with the next section of the input, and fails once it is used up
// or after a few hundred, as a server that keeps sending would be cut off by the size.
SectionReply ServeSection(ZYMB10APISession*, const FileListItem&, uint32_t) {
    const uint8_t rc = sections->Byte();
    uint32_t length = sections->Byte();
    length |= uint32_t{sections->Byte()} << 8;
    length |= uint32_t{sections->Byte()} << 16;
    std::string_view payload = sections->Take(length);
    const bool over = sections->Left() == 0 && payload.empty();
    auto* response =
        static_cast<ZYMB10APIResponse*>(calloc(1, RESPONSE_RECORD_SIZE + payload.size()));
    response->Payload = reinterpret_cast<uint8_t*>(response) + RESPONSE_RECORD_SIZE;
    if (over || ++sectionsServed > 300) {
        response->RC = RC_RECEIVE_FAILED;
        return ZYMB10API_ReadSection(response);
    }
    response->TotalLength = static_cast<uint32_t>(RESPONSE_RECORD_SIZE + payload.size());
    response->RC = rc % 4 == 0 ? 0 : rc;
    response->PayloadLength = static_cast<uint32_t>(payload.size());
    memcpy(response->Payload, payload.data(), payload.size());
    return ZYMB10API_ReadSection(response);
}

const std::string& WorkFolder() {
    static const std::string folder = [] {
        const std::string work = ScratchFolder() + "/work";
        const std::string temporary = ScratchFolder() + "/tmp";
        if (mkdir(work.c_str(), 0700) != 0 || mkdir(temporary.c_str(), 0700) != 0) abort();
        setenv("TMPDIR", temporary.c_str(), 1);
        setenv("ZYMBREPORTFORMAT", "text", 1);
        return work;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& work = WorkFolder();
    FuzzInput input(data, size);
    const uint32_t count = input.Byte() % 8;
    const uint8_t flags = input.Byte();
    const int32_t generation = static_cast<int8_t>(input.Byte());
    std::vector<uint8_t> items(size_t{count} * FILE_LIST_ITEM_SIZE, 0);
    std::string_view given = input.Take(items.size());
    if (!given.empty()) memcpy(items.data(), given.data(), given.size());

    ProgramContext* context = QuietContext();
    if (flags & 1) ListFiles(context, count, items.data());

    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    sections = &input;
    sectionsServed = 0;
    DownloadRequest request = {"*", (flags & 2) ? "chosen-name" : "", (flags & 4) ? 1 : 0,
                               generation};
    request.fetchSection = ServeSection;
    // Destinations are relative to the working folder: the download runs in the scratch
    // folder, and the fuzzer goes back to its own for the corpus it reads and writes.
    const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || chdir(work.c_str()) != 0) abort();
    DownloadFile(context, &session, count, items.data(), request);
    if (fchdir(home) != 0) abort();
    close(home);
    sections = nullptr;
    ZYMB10API_Term(&session);
    ClearFolder(work);
    ClearFolder(ScratchFolder() + "/tmp");
    return 0;
}
