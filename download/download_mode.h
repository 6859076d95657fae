// Download mode: pick one file from the list by pattern and generation, fetch it in
// sections into a temporary file, check it, and unpack it to its destination.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "api/file_transfer.h"

struct ProgramContext;

constexpr int DOWNLOAD_FAILED = 92;  // "File download failed"

struct DownloadRequest {
    const char* filter;       // MatchPattern pattern for the stored names
    const char* outputName;   // "" or none: the destination comes from the stored name
    int32_t stripPath;        // keep only the final name of the stored name
    int32_t generationIndex;  // 1 newest of the first matching name, -1 oldest, 0 none
    // ZYMBRETRY: how often a section request that broke the connection or timed out is
    // resumed on a new connection (0: never). reconnect connects and logs on again.
    uint32_t retries = 0;
    std::function<bool()> reconnect;
    // How a section is fetched: the session's Download-File request; tests and the fuzz
    // target put a stand-in for the server here.
    SectionReply (*fetchSection)(ZYMB10APISession* session, const FileListItem& item,
                                 uint32_t section) = ZYMB10API_FetchSection;
};

// items holds count items of 432 bytes; they are sorted in place. Returns 0 when the
// file was written (and says so in one line: its full path and size), else 92 ("File
// download failed").
int DownloadFile(ProgramContext* context, ZYMB10APISession* session, uint32_t count, uint8_t* items,
                 const DownloadRequest& request);

// Removes the temporary download file of this run, if there is one, unless ZYMBKEEPTEMP is
// set, which keeps it and logs its path. DownloadFile calls it on every return; the
// interrupt handler calls it for a run that ends early. (The copy is an unnamed file
// unless the file system cannot make one or ZYMBKEEPTEMP is set: then there is nothing to
// remove.)
void RemoveTemporaryDownload(ProgramContext* context);

// The destination for a stored name, or "" with a reason when it would leave the
// working directory. Exposed for tests.
struct Destination {
    char path[4096];
    const char* refusal;  // none when the path may be used
};
Destination ChooseDestination(const char* outputName, const char* storedName, size_t storedLength,
                              int32_t stripPath);
