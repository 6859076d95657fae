// The file operations of the protocol: listing a customer's stored files and fetching one
// section of a stored file. The request records and the response layouts stay in here;
// callers get the items and the section's bytes.
//
// Ownership: each reply holds the response it came in, which belongs to the caller, who
// releases it with ZYMB10API_FreeResponse once the items or the bytes are no longer used.
// Results are the API's result codes (codes.h); a reply whose layout does not hold what it
// announces reads as RC 15 "Received failed".
#pragma once
#include <cstdint>

#include "api/file_list.h"
#include "api/session.h"

// The program id the download program logs on with; the server keeps file access apart
// per program.
constexpr uint16_t PROGRAM_ID_DOWNLOAD = 56;

struct FileListReply {
    unsigned rc;
    uint32_t count;               // items of FILE_LIST_ITEM_SIZE bytes; 0 unless rc is 0
    uint8_t* items;               // inside response; the caller may reorder them in place
    ZYMB10APIResponse* response;  // the caller's, to free; may be none
};

// The List-File request for the customer (up to 4 characters; a shorter ID is padded with
// zero bytes).
FileListReply ZYMB10API_ListFiles(ZYMB10APISession* session, const char* customerId);

struct SectionReply {
    unsigned rc;
    // No server message arrived (a broken connection or a time-out): the failure was made
    // up by the exchange, so the request may be resumed on a new connection. A result code
    // the server sent is its answer and stands.
    bool connectionLost;
    const uint8_t* data;  // the section's bytes, inside response; none unless rc is 0
    uint32_t length;
    ZYMB10APIResponse* response;  // the caller's, to free; may be none
};

// The Download-File request for one section (from 0) of a listed item.
SectionReply ZYMB10API_FetchSection(ZYMB10APISession* session, const FileListItem& item,
                                    uint32_t section);
// The reply that a Download-File response (or none) makes, which the reply then owns; for
// stand-ins of the server in tests.
SectionReply ZYMB10API_ReadSection(ZYMB10APIResponse* response);
